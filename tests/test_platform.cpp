#include "test_platform.h"

#include <cstdlib>

#ifdef _WIN32

#include <windows.h>

void SetStandInScript(const std::string& script) {
  _putenv_s("STAND_IN_LOADER_SCRIPT", script.c_str());
}

void* LoadLibraryAt(const char* path) { return LoadLibraryA(path); }

void FreeLibraryAt(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

bool IsVulkanLoaderLoaded() { return GetModuleHandleA(MORVANTIQUELL_LOADER_FILE_NAME) != nullptr; }

#else

#include <dlfcn.h>

void SetStandInScript(const std::string& script) {
  setenv("STAND_IN_LOADER_SCRIPT", script.c_str(), 1);
}

void* LoadLibraryAt(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

void FreeLibraryAt(void* library) { dlclose(library); }

bool IsVulkanLoaderLoaded() {
  void* library = dlopen(MORVANTIQUELL_LOADER_FILE_NAME, RTLD_NOW | RTLD_NOLOAD);
  if (library != nullptr) {
    dlclose(library);
  }
  return library != nullptr;
}

#endif
