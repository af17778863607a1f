/* The Vulkan loader's own answer, to compare the program with: loads the vulkan-1.dll beside
 * this program (or else the system's), asks it for the instance layers, and prints every name on
 * its own line through a text stream (CR LF). Exit status 1 when the loader or its enumeration
 * fails. With --instance it first asks for a Vulkan 1.0 instance with nothing enabled, as the
 * program does, and where the loader refuses it says so as the program does.
 *   enumerate_layers [--instance] */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#define VK_NO_PROTOTYPES
#include <vulkan/vulkan.h>

int main(int argc, char** argv) {
  HMODULE loader =
      LoadLibraryExA(MORVANTIQUELL_LOADER_FILE_NAME, NULL, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  if (loader == NULL) {
    fputs("no " MORVANTIQUELL_LOADER_FILE_NAME " beside the program\n", stderr);
    return 1;
  }
  int status = 1;
  PFN_vkGetInstanceProcAddr getInstanceProcAddr =
      (PFN_vkGetInstanceProcAddr)(void (*)(void))GetProcAddress(loader, "vkGetInstanceProcAddr");
  VkInstance instance = VK_NULL_HANDLE;
  if (argc > 1 && strcmp(argv[1], "--instance") == 0 && getInstanceProcAddr != NULL) {
    PFN_vkCreateInstance create =
        (PFN_vkCreateInstance)getInstanceProcAddr(VK_NULL_HANDLE, "vkCreateInstance");
    VkApplicationInfo application = {0};
    application.sType = VK_STRUCTURE_TYPE_APPLICATION_INFO;
    application.apiVersion = VK_API_VERSION_1_0;
    VkInstanceCreateInfo info = {0};
    info.sType = VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO;
    info.pApplicationInfo = &application;
    VkResult result = create(&info, NULL, &instance);
    if (result != VK_SUCCESS) {
      fprintf(stderr, "vkCreateInstance failed with error code '%d'\n", (int)result);
      FreeLibrary(loader);
      return 1;
    }
  }
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
  if (instance != VK_NULL_HANDLE) {
    ((PFN_vkDestroyInstance)getInstanceProcAddr(instance, "vkDestroyInstance"))(instance, NULL);
  }
  FreeLibrary(loader);
  return status;
}
