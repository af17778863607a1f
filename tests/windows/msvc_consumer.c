/* A C program for the MSVC ABI that uses morvantiquell.dll through its import library, with no
 * C runtime at all: its own entry point, the few kernel32 calls it needs declared here, and the
 * list released through the library. Prints each layer's name and implementation version. */
#include <morvantiquell/layer_query.h>

#define STD_OUTPUT_HANDLE ((unsigned long)-11)
__declspec(dllimport) void* __stdcall GetStdHandle(unsigned long handle);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* buffer, unsigned long size,
                                              unsigned long* written, void* overlapped);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned int status);

static void Write(const char* text, unsigned long size) {
  unsigned long written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, size, &written, 0);
}

static void WriteNumber(uint32_t value) {
  char digits[10];
  unsigned long size = 0;
  do {
    digits[sizeof digits - 1 - size++] = (char)('0' + value % 10);
    value /= 10;
  } while (value != 0);
  Write(digits + sizeof digits - size, size);
}

void mainCRTStartup(void) {
  InstanceLayerList* list = QueryInstanceLayers();
  if (list == 0) {
    ExitProcess(1);
  }
  for (uint32_t i = 0; i < list->count; ++i) {
    unsigned long size = 0;
    while (size < MORVANTIQUELL_LAYER_NAME_SIZE && list->names[i][size] != '\0') {
      ++size;
    }
    Write(list->names[i], size);
    Write(" ", 1);
    WriteNumber(list->implementationVersions[i]);
    Write("\n", 1);
  }
  ReleaseInstanceLayerList(list);
  ExitProcess(0);
}
