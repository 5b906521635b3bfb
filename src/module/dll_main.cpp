// The Windows entry point. Loading and unloading the module do nothing: every resource is taken
// and released inside the exported calls. Declared without <windows.h>; the types are those of
// BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID).
extern "C" int __stdcall DllMain(void*, unsigned long, void*) {
  return 1;
}
