/* A GUI program for the MSVC ABI (no console, no C runtime at all: its own entry point and the
 * few kernel32 calls it needs declared here) that uses morvantiquell.dll through its import
 * library. It has no standard error to read, so it hands the query a function of its own, and
 * writes to the file consumer-output.txt, in the working directory, each layer's name and
 * implementation version, or the line the failed query handed it. */
#include <morvantiquell/layer_query.h>

#define GENERIC_WRITE 0x40000000UL
#define CREATE_ALWAYS 2UL
#define FILE_ATTRIBUTE_NORMAL 0x80UL
__declspec(dllimport) void* __stdcall CreateFileA(const char* name, unsigned long access,
                                                  unsigned long share, void* security,
                                                  unsigned long disposition, unsigned long flags,
                                                  void* model);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* buffer, unsigned long size,
                                              unsigned long* written, void* overlapped);
__declspec(dllimport) int __stdcall CloseHandle(void* handle);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned int status);

static void* output;

static void Write(const char* text, unsigned long size) {
  unsigned long written = 0;
  WriteFile(output, text, size, &written, 0);
}

static void WriteText(const char* text) {
  unsigned long size = 0;
  while (text[size] != '\0') {
    ++size;
  }
  Write(text, size);
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

/* What the query hands over is valid during the call only: it is written out at once. */
static void WriteFailure(void* context, const char* message) {
  WriteText((const char*)context);
  WriteText(message);
  WriteText("\n");
}

void mainCRTStartup(void) {
  output = CreateFileA("consumer-output.txt", GENERIC_WRITE, 0, 0, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, 0);
  InstanceLayerList* list = QueryInstanceLayersReporting(WriteFailure, "query failed: ");
  if (list == 0) {
    CloseHandle(output);
    ExitProcess(1);
  }
  for (uint32_t i = 0; i < list->count; ++i) {
    unsigned long size = 0;
    while (size < MORVANTIQUELL_LAYER_NAME_SIZE && list->names[i][size] != '\0') {
      ++size;
    }
    Write(list->names[i], size);
    WriteText(" ");
    WriteNumber(list->implementationVersions[i]);
    WriteText("\n");
  }
  ReleaseInstanceLayerList(list);
  CloseHandle(output);
  ExitProcess(0);
}
