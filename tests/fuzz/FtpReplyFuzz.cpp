// Whatever a server answers, the reply line kept is a cut of the text read:
// no bytes past the given length or a zero byte, no trailing blanks, no line
// break inside, and no line when the text was only white space.
#include "FtpReply.h"
#include "FuzzInput.h"

#include <cctype>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // The length handed over may be shorter than the buffer; never longer.
  const uint8_t *rest = data;
  size_t left = size;
  size_t length = static_cast<uint32_t>(FuzzTakeInt(rest, left)) % (left + 1);
  // An exact-size copy, so reading one byte too far is caught.
  std::vector<char> text(rest, rest + left);
  std::string line = FtpLastReplyLine(text.data(), length);

  std::string seen(text.data(), length);
  seen.resize(strnlen(seen.c_str(), length));
  FUZZ_CHECK(line.size() <= seen.size());
  FUZZ_CHECK(line.find('\n') == std::string::npos && line.find('\r') == std::string::npos);
  if (!line.empty()) {
    FUZZ_CHECK(!isspace(static_cast<unsigned char>(line.back())));
    FUZZ_CHECK(seen.find(line) != std::string::npos);
  }
  bool onlySpace = true;
  for (char c : seen)
    onlySpace = onlySpace && isspace(static_cast<unsigned char>(c));
  FUZZ_CHECK(line.empty() == onlySpace);
  return 0;
}
