#include "CommandLineInfo.h"

void CCommandLineInfo::ParseParam(const char *param, bool isSwitch, bool) {
  if (isSwitch)
    m_unhandledSwitches.push_back(param);
  else if (m_fileName.empty())
    m_fileName = param;
}

namespace {

// The program name ends at the first blank outside quotes; backslashes in it
// are plain characters (as the runtime's start-up code reads it).
const char *SplitProgramName(const char *p, std::vector<std::string> &out) {
  std::string name;
  bool quoted = false;
  for (; *p; ++p) {
    if (*p == '"') {
      quoted = !quoted;
      continue;
    }
    if (!quoted && (*p == ' ' || *p == '\t'))
      break;
    name += *p;
  }
  out.push_back(name);
  return p;
}

} // namespace

std::vector<std::string> SplitCommandLine(const char *commandLine) {
  std::vector<std::string> out;
  if (!commandLine)
    return out;
  const char *p = SplitProgramName(commandLine, out);
  for (;;) {
    while (*p == ' ' || *p == '\t')
      ++p;
    if (!*p)
      break;
    std::string param;
    bool quoted = false;
    while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
      if (*p == '\\') {
        size_t slashes = 0;
        while (*p == '\\') {
          ++slashes;
          ++p;
        }
        if (*p == '"') {
          // 2n backslashes and a quote: n backslashes and a delimiter;
          // 2n+1: n backslashes and a literal quote.
          param.append(slashes / 2, '\\');
          if (slashes % 2) {
            param += '"';
            ++p;
          }
        } else {
          param.append(slashes, '\\');
        }
        continue;
      }
      if (*p == '"') {
        // Inside quotes, a doubled quote is a literal quote.
        if (quoted && p[1] == '"') {
          param += '"';
          p += 2;
          continue;
        }
        quoted = !quoted;
        ++p;
        continue;
      }
      param += *p++;
    }
    out.push_back(param);
  }
  return out;
}

void ParseCommandLine(const char *commandLine, CCommandLineInfo &info) {
  std::vector<std::string> params = SplitCommandLine(commandLine);
  for (size_t i = 1; i < params.size(); ++i) {
    const std::string &param = params[i];
    bool isSwitch = !param.empty() && (param[0] == '-' || param[0] == '/');
    info.ParseParam(isSwitch ? param.c_str() + 1 : param.c_str(), isSwitch, i + 1 == params.size());
  }
}
