// Entry procedure of the Windows build of the library. The registrations are made by the static
// initialisers (registration.cpp) before it runs; it only turns off the thread notifications the
// library has no use for. Other platforms need no entry procedure.
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH)
    DisableThreadLibraryCalls(module);
  return TRUE;
}
#endif
