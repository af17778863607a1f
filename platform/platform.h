#ifndef MORVANTIQUELL_PLATFORM_H
#define MORVANTIQUELL_PLATFORM_H

// The operating system's library loader and task-memory allocator, behind one set of calls.
// Nothing outside this folder knows which system it runs on.

#include <cstddef>

namespace platform {

// A loaded shared library; opaque to callers.
struct SharedLibrary;

// The address of a library export, as a generic function pointer.
using LibraryProc = void (*)();

// The file name under which the Vulkan loader is installed on this system.
extern const char* const kVulkanLoaderFileName;

// Loads the named library and resolves its symbols at once. Null when it cannot be loaded.
SharedLibrary* LoadSharedLibrary(const char* fileName);

// The library's export of that name, or null.
LibraryProc FindLibraryProc(SharedLibrary* library, const char* name);

// Releases a library returned by LoadSharedLibrary.
void FreeSharedLibrary(SharedLibrary* library);

// A block of at least `size` bytes from the task-memory allocator, not cleared, or null.
void* TaskMemAlloc(std::size_t size);

// Gives a block back to the task-memory allocator; null is accepted and does nothing.
void TaskMemFree(void* block);

// Memory the caller keeps to itself: `count` elements of `size` bytes from the C heap, every byte
// zero, or null (also when count * size overflows). Given back with ScratchFree, which accepts
// null.
void* ScratchAlloc(std::size_t count, std::size_t size);
void ScratchFree(void* block);

// Whether the allocation about to be made is to fail. A test build defines it to show that every
// allocation may fail; everywhere else none is made to.
#ifdef MORVANTIQUELL_ALLOCATION_SEAM
bool AllocationFails();
#else
constexpr bool AllocationFails() { return false; }
#endif

}  // namespace platform

#endif
