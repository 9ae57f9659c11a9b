// Library entry: registers the runtime's messages by name once at load.
#include "QuillmothRun.h"
#include "RuntimeInternal.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    RegisterRuntimeMessages();
  }
  return TRUE;
}
