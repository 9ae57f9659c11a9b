// The host's command-line record: its switches and their values.
#ifndef MYCOMMANDLINEINFO_H
#define MYCOMMANDLINEINFO_H

#include "framework/CommandLineInfo.h"

class CMyCommandLineInfo : public CCommandLineInfo {
public:
  void ParseParam(const char *param, bool isSwitch, bool isLast) override;

  bool m_load = false;
  bool m_hide = false;
  bool m_install = false;
  bool m_uninstall = false;
  bool m_version = false;
  bool m_hc = false;
  bool m_unknownOption = false;
  bool m_help = false;
  bool m_application = false;
  bool m_debug = false;
  bool m_logfile = false;
  bool m_proxy = false;
  bool m_account = false;
  bool m_password = false;
  bool m_status = false;
  bool m_history = false;
  bool m_jobs = false;
  // -run-job, -disable-job or -enable-job, and the job's name
  std::string m_jobRequest;
  std::string m_jobName;
  bool m_force = false;   // with -application: an engine even beside the service
  bool m_monitor = false; // watch the service instead of running an engine

  std::string m_debugValue;
  std::string m_loadFile;
  std::string m_accountValue;
  std::string m_passwordValue;
  std::string m_logfileValue;
  // -history [count] [filter]
  std::string m_historyCount;
  std::string m_historyFilter;
};

#endif
