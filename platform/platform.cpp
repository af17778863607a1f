#include "platform.h"

#include <cstdlib>

#ifdef _WIN32

#include <windows.h>
// After windows.h, which it relies on.
#include <objbase.h>

namespace platform {

const char* const kVulkanLoaderFileName = MORVANTIQUELL_LOADER_FILE_NAME;

// Only the program's own folder, the system folder and folders the host process added with
// AddDllDirectory: never the current working directory or PATH, where anyone who can write a
// file could plant a vulkan-1.dll for the program to run.
SharedLibrary* LoadSharedLibrary(const char* fileName) {
  return reinterpret_cast<SharedLibrary*>(
      LoadLibraryExA(fileName, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS));
}

LibraryProc FindLibraryProc(SharedLibrary* library, const char* name) {
  // FARPROC and LibraryProc are both function pointers; the loader hands out untyped addresses.
  return reinterpret_cast<LibraryProc>(
      reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), name)));
}

void FreeSharedLibrary(SharedLibrary* library) { FreeLibrary(reinterpret_cast<HMODULE>(library)); }

void* TaskMemAlloc(std::size_t size) { return AllocationFails() ? nullptr : CoTaskMemAlloc(size); }

void TaskMemFree(void* block) { CoTaskMemFree(block); }

}  // namespace platform

#else

#include <dlfcn.h>

namespace platform {

const char* const kVulkanLoaderFileName = MORVANTIQUELL_LOADER_FILE_NAME;

SharedLibrary* LoadSharedLibrary(const char* fileName) {
  return static_cast<SharedLibrary*>(dlopen(fileName, RTLD_NOW | RTLD_LOCAL));
}

LibraryProc FindLibraryProc(SharedLibrary* library, const char* name) {
  return reinterpret_cast<LibraryProc>(dlsym(library, name));
}

void FreeSharedLibrary(SharedLibrary* library) { dlclose(library); }

// No COM here: the C heap plays the task-memory allocator, so callers release with free().
void* TaskMemAlloc(std::size_t size) { return AllocationFails() ? nullptr : std::malloc(size); }

void TaskMemFree(void* block) { std::free(block); }

}  // namespace platform

#endif

// The C heap, on every system.
namespace platform {

void* ScratchAlloc(std::size_t count, std::size_t size) {
  return AllocationFails() ? nullptr : std::calloc(count, size);
}

void ScratchFree(void* block) { std::free(block); }

}  // namespace platform
