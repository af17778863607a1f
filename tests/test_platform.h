#ifndef MORVANTIQUELL_TESTS_TEST_PLATFORM_H
#define MORVANTIQUELL_TESTS_TEST_PLATFORM_H

#include <string>

// Sets the stand-in loader's script for the calls that follow in this process.
void SetStandInScript(const std::string& script);

// Loads the library at that path and holds it loaded, or returns null; FreeLibraryAt lets go.
void* LoadLibraryAt(const char* path);
void FreeLibraryAt(void* library);

// Whether the Vulkan loader (or its stand-in) is still loaded in this process.
bool IsVulkanLoaderLoaded();

#endif
