// qmdrive: starts a Windows program, waits for the message box it shows,
// prints the box's title and text to standard output and presses OK, the way
// an operator would read and dismiss it. Used to show the host's one-shot
// texts on a headless Wine desktop.
//
//   qmdrive PROGRAM [ARGUMENTS...]
#include <stdio.h>
#include <string>

#include "WineTestSupport.h"

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: qmdrive PROGRAM [ARGUMENTS...]\n");
    return 2;
  }
  std::string arguments;
  for (int i = 2; i < argc; ++i) {
    if (!arguments.empty())
      arguments += ' ';
    arguments += argv[i];
  }
  qmtest::ChildProcess child;
  if (!child.Start(argv[1], arguments)) {
    fprintf(stderr, "qmdrive: cannot start %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  qmtest::MessageBoxView box;
  if (!qmtest::WaitForMessageBox(child.Id(), 30000, &box)) {
    fprintf(stderr, "qmdrive: %s showed no message box\n", argv[1]);
    return 1;
  }
  printf("[%s]\n%s\n", box.title.c_str(), box.text.c_str());
  fflush(stdout);
  qmtest::ClickButton(box.window, IDOK);
  DWORD code = 0;
  if (!child.WaitExit(30000, &code)) {
    fprintf(stderr, "qmdrive: %s did not exit\n", argv[1]);
    return 1;
  }
  return static_cast<int>(code);
}
