// Any command line splits into the program name and parameters that never
// hold more characters than the line, and the parse hands each parameter
// over once, the last one marked as last.
#include "CommandLineInfo.h"
#include "FuzzInput.h"

namespace {

class CountingInfo : public CCommandLineInfo {
public:
  void ParseParam(const char *param, bool isSwitch, bool isLast) override {
    FUZZ_CHECK(param != nullptr);
    FUZZ_CHECK(!sawLast);
    sawLast = isLast;
    ++count;
    CCommandLineInfo::ParseParam(param, isSwitch, isLast);
  }
  size_t count = 0;
  bool sawLast = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string line = FuzzText(data, size);
  std::vector<std::string> params = SplitCommandLine(line.c_str());
  FUZZ_CHECK(!params.empty());
  size_t total = 0;
  for (const std::string &param : params) {
    FUZZ_CHECK(param.find('\0') == std::string::npos);
    total += param.size();
  }
  FUZZ_CHECK(total <= line.size());

  CountingInfo info;
  ParseCommandLine(line.c_str(), info);
  FUZZ_CHECK(info.count == params.size() - 1);
  FUZZ_CHECK(info.count == 0 || info.sawLast);
  return 0;
}
