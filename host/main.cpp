#include "QuillmothApp.h"


int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return theApp.InitInstance(GetCommandLineA());
}
