/* The Vulkan loader's own answer, to compare the program with: loads the vulkan-1.dll beside
 * this program, asks it for the instance layers without an instance, and prints every name on
 * its own line through a text stream (CR LF). Exit status 1 when the loader or its enumeration
 * fails. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>
#define VK_NO_PROTOTYPES
#include <vulkan/vulkan.h>

int main(void) {
  HMODULE loader = LoadLibraryExA("vulkan-1.dll", NULL, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  if (loader == NULL) {
    fputs("no vulkan-1.dll beside the program\n", stderr);
    return 1;
  }
  int status = 1;
  PFN_vkGetInstanceProcAddr getInstanceProcAddr =
      (PFN_vkGetInstanceProcAddr)(void (*)(void))GetProcAddress(loader, "vkGetInstanceProcAddr");
  PFN_vkEnumerateInstanceLayerProperties enumerate =
      getInstanceProcAddr == NULL ? NULL
                                  : (PFN_vkEnumerateInstanceLayerProperties)getInstanceProcAddr(
                                        VK_NULL_HANDLE, "vkEnumerateInstanceLayerProperties");
  uint32_t count = 0;
  if (enumerate != NULL && enumerate(&count, NULL) == VK_SUCCESS) {
    VkLayerProperties* layers = calloc(count + 1, sizeof *layers);
    if (layers != NULL && enumerate(&count, layers) == VK_SUCCESS) {
      for (uint32_t i = 0; i < count; ++i) {
        printf("%s\n", layers[i].layerName);
      }
      status = 0;
    }
    free(layers);
  }
  if (status != 0) {
    fputs("the loader's enumeration failed\n", stderr);
  }
  FreeLibrary(loader);
  return status;
}
