#ifndef MORVANTIQUELL_LAYER_QUERY_H
#define MORVANTIQUELL_LAYER_QUERY_H

/*
 * Which Vulkan instance layers does the installed loader offer?
 *
 * QueryInstanceLayers opens the Vulkan loader at run time (vulkan-1.dll on Windows,
 * libvulkan.so.1 on Linux), creates a Vulkan 1.0 instance with no layers or extensions
 * enabled, enumerates the instance layers, destroys the instance, releases the loader and
 * returns what it found.
 *
 * On Windows vulkan-1.dll is searched for in the program's folder, the system folder and the
 * folders the process added with AddDllDirectory, never in the working directory or on PATH.
 *
 * Ownership: the returned list and every block hanging from it belong to the caller. They come
 * from the task-memory allocator (CoTaskMemAlloc on Windows, malloc elsewhere). Give them back
 * with ReleaseInstanceLayerList, or free each block yourself with CoTaskMemFree (free
 * elsewhere): every name block in index order, then implementationVersions, then names, then
 * the list itself.
 *
 * Errors: on failure the query writes one line to standard error, releases everything it
 * acquired and returns null; there is then nothing to release. A list is returned only whole.
 * One failure does not make the query fail: when the loader cannot destroy the instance, that
 * is reported on standard error and the list is still returned. Standard output is never
 * written. QueryInstanceLayersReporting hands the line to a function of the caller's instead,
 * for programs that have no standard error to read (a GUI program) or that keep a log.
 *
 * Memory: when any allocation fails, the query writes "failed to allocate memory for N instance
 * layers" and returns null, having released all it acquired (the loader, the instance, a list
 * half built). Its diagnostics are composed without allocating, so that line is written even
 * when memory has run out. They go to C's stderr stream (on Windows, that of the C runtime the
 * DLL uses), each flushed at once. No function here throws a C++ exception.
 *
 * Call them from one thread at a time: two queries at once would share the loader's global
 * state. No state lives between calls.
 */

#include <stdint.h>

/* Marks the entry points. A shared build of the library defines MORVANTIQUELL_SHARED for itself
 * and its users and exports these three functions only; a static build needs no marking. */
#if defined(MORVANTIQUELL_SHARED) && defined(_WIN32)
#if defined(MORVANTIQUELL_BUILDING)
#define MORVANTIQUELL_API __declspec(dllexport)
#else
#define MORVANTIQUELL_API __declspec(dllimport)
#endif
#elif defined(MORVANTIQUELL_SHARED) && defined(__GNUC__)
#define MORVANTIQUELL_API __attribute__((visibility("default")))
#else
#define MORVANTIQUELL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Size in bytes of every name block: the Vulkan name field, copied whole. */
#define MORVANTIQUELL_LAYER_NAME_SIZE 256

typedef struct InstanceLayerList {
  /* Number of layers, in the order the loader reported them. */
  uint32_t count;
  /* count pointers, each to a block of MORVANTIQUELL_LAYER_NAME_SIZE bytes holding the name as
   * the loader wrote it (NUL-terminated by the Vulkan rules, so at most 255 bytes of text).
   * Null when count is 0. */
  char** names;
  /* count implementation versions, exactly as the loader reported them. Null when count is 0. */
  uint32_t* implementationVersions;
} InstanceLayerList;

/* The loader's instance layers in a new list the caller owns, or null after a failure. */
MORVANTIQUELL_API InstanceLayerList* QueryInstanceLayers(void);

/* Receives the line that says why a query failed: the text standard error would get, without its
 * line feed ("vkCreateInstance failed with error code '-9'"). The text is valid during the call
 * only; copy what you keep. `context` is what the caller handed to the query. */
typedef void (*LayerQueryReport)(void* context, const char* message);

/* QueryInstanceLayers, with its failure line handed to `report` instead of standard error:
 * called at most once per query, and only when the query returns null, so that every null comes
 * with its reason. Nothing is written to standard error; the one line a successful query can
 * write there (the loader could not destroy the instance) is dropped, as the list is whole. With
 * a null `report` this is QueryInstanceLayers, standard error and all. */
MORVANTIQUELL_API InstanceLayerList* QueryInstanceLayersReporting(LayerQueryReport report,
                                                                  void* context);

/* Gives back every block of a list from QueryInstanceLayers. Null is accepted and does nothing. */
MORVANTIQUELL_API void ReleaseInstanceLayerList(InstanceLayerList* list);

#ifdef __cplusplus
}
#endif

#endif
