#ifndef MORVANTIQUELL_FILES_H
#define MORVANTIQUELL_FILES_H

// Where the Vulkan loader finds layer manifests, as the operating system keeps them: folders and
// their files, and on Windows the registry.

#include <cstddef>

namespace platform {

// What separates the folders in a list such as VK_LAYER_PATH.
extern const char kPathListSeparator;
// What separates a folder from a name in a path.
extern const char kDirectorySeparator;
// Whether the loader's own places for manifests are in the registry (Windows) rather than in
// folders of the file system.
extern const bool kManifestsInRegistry;

// Calls `visit` with each name in `folder` that ends in ".json", in the order the system lists
// them (the loader's order). False, with the system's error code in `*error`, where the folder
// cannot be listed; a folder that is not there has none.
bool ListJsonFiles(const char* folder, void (*visit)(const char* name, void* context),
                   void* context, unsigned long* error);

// Whether the path names a folder (following links).
bool IsFolder(const char* path);

// Reads the file at `path`, up to `limit` bytes, into a block from malloc, with a NUL after what
// was read. kTooLarge where the file is larger (nothing is kept); kFailed with the system's error
// code in `*error` where it cannot be opened or read, or memory runs out (error 0).
enum class ReadResult { kRead, kTooLarge, kFailed };
ReadResult ReadWholeFile(const char* path, std::size_t limit, char** data, std::size_t* size,
                         unsigned long* error);

// Whether this process runs elevated, as the Vulkan loader judges it: set-user-ID or set-group-ID
// on ELF systems, a high integrity level on Windows. The loader then ignores the variables that
// name folders, and the user's registry.
bool IsElevated();

// Calls `visit` with each manifest path the registry lists under
// SOFTWARE\Khronos\Vulkan\<key> ("ExplicitLayers", "ImplicitLayers"), first in
// HKEY_LOCAL_MACHINE, then (where not elevated) in HKEY_CURRENT_USER, in this program's view of the
// registry (the 32-bit one in a 32-bit program), and whether the value turns it on (a DWORD of 0).
// Nothing where there is no registry.
void ListRegistryManifests(const char* key,
                           void (*visit)(const char* path, bool on, const char* where,
                                         void* context),
                           void* context);

}  // namespace platform

#endif
