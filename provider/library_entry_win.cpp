// The provider DLL's entry point; linked only into quorvelone.tsp.
#include "platform/tapi.h"
#include "provider/provider_state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) qv::AttachProcess(module);
  return TRUE;
}
