#ifndef MORVANTIQUELL_CHECK_TRIAL_H
#define MORVANTIQUELL_CHECK_TRIAL_H

// A trial: what the check asks the loader in a child process of its own, the program started
// again with the arguments below, so that a layer that crashes or hangs costs that trial and not
// the check. This file is the protocol, both halves: the arguments the check starts a child with,
// the child's entry, and the answer it writes, which the check reads back.
//
// The arguments: --trial=names, or --trial=instance with --layer=HEX to enable a layer, the name
// in hexadecimal, which no system's quoting changes. What the loader is to turn off, the check
// puts in the child's environment. The answer is a run of fields, each ended by a NUL, the first
// naming what it holds:
//   names VERSION NAME...  the layers the loader lists, and its version
//   result CODE            what vkCreateInstance returned
//   report LINE            the trial failed, as the line says

#include <cstddef>
#include <cstdint>

#define VK_NO_PROTOTYPES
#include <vulkan/vulkan.h>

namespace trial {

constexpr std::size_t kNameSize = sizeof(VkLayerProperties::layerName);

// A trial's arguments, and the text they point into.
struct Arguments {
  char kind[20];
  char layer[16 + (2 * kNameSize)];
  char* values[2];
  int count;
};

// The arguments for the names trial (`instance` false), or for the instance with `layer` enabled
// where it is not null.
void MakeArguments(bool instance, const char* layer, Arguments* arguments);

// Whether a program started with this first argument is a trial.
bool IsTrial(const char* firstArgument);

// In the child: runs the trial the arguments name and answers; the exit status.
int Run(int count, char** arguments);

// A child's answer, read back. Names point into the answer's text.
struct Answer {
  char* text;  // the answer as the child wrote it, from malloc
  enum Kind { kNone, kNames, kResult, kReport } kind;
  std::uint32_t loaderVersion;  // kNames
  std::size_t count;            // kNames: how many names
  const char** names;           // kNames: from malloc, freed by FreeAnswer
  VkResult result;              // kResult
  const char* line;             // kReport
};

// Reads an answer of `size` bytes from malloc (or null), which it takes, into `answer`: kNone
// where it holds no whole answer. False where memory runs out, with nothing to free.
bool ReadAnswer(char* text, std::size_t size, Answer* answer);
void FreeAnswer(Answer* answer);

// A name field's text: up to its terminator, and never past its 256 bytes.
std::size_t NameLength(const char* name);

}  // namespace trial

#endif
