// A time (from the input's first bytes), a latch text and a specification:
// the evaluation accepts only 1 to 8 fields, fires at most once per time
// unit, and the latch it leaves reads back as written.
#include <cstring>

#include "CronEvaluate.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  int32_t a = FuzzTakeInt(data, size);
  int32_t b = FuzzTakeInt(data, size);
  // Mostly real dates, sometimes out of range (components then read -1).
  CronTime now = CronTimeFromCalendar(1990 + (a & 0x7F), (a >> 7) & 0x0F, (a >> 11) & 0x1F, (b & 0x1F),
                                      (b >> 5) & 0x3F, (b >> 11) & 0x3F);
  std::string latchText, spec;
  FuzzTwoTexts(data, size, latchText, spec);
  CronLatch latch = CronParseLatch(latchText.c_str());

  CronFields fields;
  SplitCronFields(spec.c_str(), fields);
  bool fired = true;
  bool wellFormed = CronEvaluate(spec.c_str(), now, latch, &fired);
  FUZZ_CHECK(wellFormed == (fields.count >= 1 && fields.count <= kCronFieldCount));
  if (!wellFormed) {
    FUZZ_CHECK(!fired);
    return 0;
  }
  if (fired) {
    // The same specification at the same time does not fire twice.
    bool again = true;
    FUZZ_CHECK(CronEvaluate(spec.c_str(), now, latch, &again));
    FUZZ_CHECK(!again);
  }

  char text[kCronLatchTextSize];
  FUZZ_CHECK(CronFormatLatch(latch, text, sizeof text));
  FUZZ_CHECK(std::strlen(text) < sizeof text);
  CronLatch back = CronParseLatch(text);
  FUZZ_CHECK(back.mask == latch.mask && std::memcmp(&back.time, &latch.time, sizeof back.time) == 0);

  char tiny[4];
  FUZZ_CHECK(!CronFormatLatch(latch, tiny, sizeof tiny) || std::strlen(tiny) < sizeof tiny);
  return 0;
}
