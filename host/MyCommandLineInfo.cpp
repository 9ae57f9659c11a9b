#include "MyCommandLineInfo.h"

#include <string.h>

namespace {

bool Is(const char *param, const char *name) { return _stricmp(param, name) == 0; }

} // namespace

void CMyCommandLineInfo::ParseParam(const char *param, bool isSwitch, bool isLast) {
  if (isSwitch) {
    if (Is(param, "load") || Is(param, "f"))
      m_load = true;
    else if (Is(param, "hide"))
      m_hide = true;
    else if (Is(param, "install"))
      m_install = true;
    else if (Is(param, "uninstall"))
      m_uninstall = true;
    else if (Is(param, "version"))
      m_version = true;
    else if (Is(param, "hc"))
      m_hc = true;
    else if (Is(param, "h") || Is(param, "?") || Is(param, "help"))
      m_help = true;
    else if (Is(param, "application"))
      m_application = true;
    else if (Is(param, "debug"))
      m_debug = true;
    else if (Is(param, "logfile"))
      m_logfile = true;
    else if (Is(param, "proxy"))
      m_proxy = true;
    else if (Is(param, "account"))
      m_account = true;
    else if (Is(param, "password"))
      m_password = true;
    else if (Is(param, "status"))
      m_status = true;
    else if (Is(param, "history"))
      m_history = true;
    else if (Is(param, "jobs"))
      m_jobs = true;
    else if (Is(param, "run-job") || Is(param, "disable-job") || Is(param, "enable-job"))
      m_jobRequest.assign(param, strlen(param) - 4);
    else if (Is(param, "force"))
      m_force = true;
    else if (Is(param, "monitor"))
      m_monitor = true;
    else {
      m_unknownOption = true;
      CCommandLineInfo::ParseParam(param, isSwitch, isLast);
    }
    return;
  }

  // A plain parameter fills the first pending option, in a fixed order.
  struct Pending {
    bool flag;
    std::string *value;
  } order[] = {{m_load, &m_loadFile},
               {m_debug, &m_debugValue},
               {m_logfile, &m_logfileValue},
               {m_account, &m_accountValue},
               {m_password, &m_passwordValue},
               {m_history, &m_historyCount},
               {m_history, &m_historyFilter}};
  if (!m_jobRequest.empty() && m_jobName.empty()) {
    m_jobName = param;
    return;
  }
  for (const Pending &p : order) {
    if (p.flag && p.value->empty()) {
      *p.value = param;
      return;
    }
  }
  CCommandLineInfo::ParseParam(param, isSwitch, isLast);
}
