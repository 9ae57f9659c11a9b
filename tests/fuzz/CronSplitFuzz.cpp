// Splitting any text keeps every field inside the record's storage, ends
// each with a terminator and marks only the fields it found.
#include <cstring>

#include "CronFields.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text = FuzzText(data, size);
  CronFields fields;
  std::memset(&fields, 0x5A, sizeof fields); // stale contents must not survive
  SplitCronFields(text.c_str(), fields);
  FUZZ_CHECK(fields.count >= 0 && fields.count <= kCronTextMax);
  const char *storageEnd = fields.storage + sizeof fields.storage;
  for (int i = 0; i < kCronFieldCount; ++i) {
    const char *field = fields.field[i];
    if (i >= fields.count) {
      FUZZ_CHECK(field == nullptr);
      continue;
    }
    FUZZ_CHECK(field >= fields.storage && field < storageEnd);
    FUZZ_CHECK(std::memchr(field, '\0', storageEnd - field) != nullptr);
    FUZZ_CHECK(std::strlen(field) <= text.size());
    FUZZ_CHECK(CronFieldGiven(fields, i) == (field[0] != '_'));
  }
  int mask = CronFieldMask(fields);
  FUZZ_CHECK(mask >= 0 && mask <= 0xFF);
  return 0;
}
