// The command-line record of our small application framework: the command
// line is split into parameters and handed to ParseParam one at a time.
#ifndef COMMANDLINEINFO_H
#define COMMANDLINEINFO_H

#include <string>
#include <vector>

class CCommandLineInfo {
public:
  virtual ~CCommandLineInfo() {}

  // One parameter: a switch (without its leading "-" or "/") or a plain
  // parameter; last is true for the final parameter of the line.
  virtual void ParseParam(const char *param, bool isSwitch, bool isLast);

  // What the framework itself keeps: the first plain parameter nobody took,
  // and the switches it was handed.
  std::string m_fileName;
  std::vector<std::string> m_unhandledSwitches;
};

// Splits a command line as the Windows C runtime does: blanks and tabs
// separate parameters, double quotes group, and backslashes escape quotes
// only when they precede one. The program name is the first element.
std::vector<std::string> SplitCommandLine(const char *commandLine);

// Passes every parameter after the program name to info.ParseParam.
void ParseCommandLine(const char *commandLine, CCommandLineInfo &info);

#endif
