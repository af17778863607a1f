#include "manifests.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "files.h"
#include "process.h"

// RapidJSON allocates only through the allocators given to it here (malloc and free): its own
// fallbacks, which would use the C++ runtime's new and delete, are never reached.
namespace {
[[noreturn]] void* UnreachedAllocation() { std::abort(); }
}  // namespace
#define RAPIDJSON_NEW(TypeName) new (UnreachedAllocation()) TypeName
#define RAPIDJSON_DELETE(pointer) static_cast<void>(pointer)
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#define VK_NO_PROTOTYPES
#include <vulkan/vulkan.h>

namespace manifests {

namespace {

// The loaders that first read each of these (earlier ones ignore them).
constexpr std::uint32_t kFirstFilteringLoader = VK_MAKE_API_VERSION(0, 1, 3, 234);
constexpr std::uint32_t kFirstAllowingLoader = VK_MAKE_API_VERSION(0, 1, 3, 262);
constexpr std::uint32_t kFirstImplicitPathLoader = VK_MAKE_API_VERSION(0, 1, 4, 304);
constexpr std::uint32_t kFirstSettingsLoader = VK_MAKE_API_VERSION(0, 1, 4, 0);
// Larger files are not read: no manifest comes near it.
constexpr std::size_t kLargestManifest = 256u << 20;
// The loader keeps a layer's name in VkLayerProperties::layerName, cut to fit.
constexpr std::size_t kLongestName = VK_MAX_EXTENSION_NAME_SIZE - 1;

using Document = rapidjson::GenericDocument<rapidjson::UTF8<>, rapidjson::MemoryPoolAllocator<>,
                                            rapidjson::CrtAllocator>;
using Value = rapidjson::GenericValue<rapidjson::UTF8<>, rapidjson::MemoryPoolAllocator<>>;

// The text printf makes of the arguments, in a block from malloc, or null. A C variadic, so that
// the compiler checks each format against its arguments.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
char* Format(const char* format, ...) {  // NOLINT(cert-dcl50-cpp): printf's checks need one
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  char* text =
      length >= 0 ? static_cast<char*>(std::malloc(static_cast<std::size_t>(length) + 1)) : nullptr;
  if (text != nullptr) {
    va_start(arguments, format);
    std::vsnprintf(text, static_cast<std::size_t>(length) + 1, format, arguments);
    va_end(arguments);
  }
  return text;
}

char* Copy(const char* text) { return text != nullptr ? Format("%s", text) : nullptr; }

// A new layer read from `file`, or null where memory runs out.
Layer* Add(Found* found, const char* file, bool implicit) {
  if (found->count == found->capacity) {
    const std::size_t capacity = found->capacity == 0 ? 16 : found->capacity * 2;
    auto* larger = static_cast<Layer*>(std::realloc(found->layers, capacity * sizeof(Layer)));
    if (larger == nullptr) {
      found->outOfMemory = true;
      return nullptr;
    }
    found->layers = larger;
    found->capacity = capacity;
  }
  Layer* layer = &found->layers[found->count++];
  *layer = Layer{};
  layer->file = Copy(file);
  layer->implicit = implicit;
  found->outOfMemory = found->outOfMemory || layer->file == nullptr;
  return layer;
}

void Explain(Found* found, Layer* layer, char* why) {
  std::free(layer->why);
  layer->why = why;
  found->outOfMemory = found->outOfMemory || why == nullptr;
}

const char* String(const Value& object, const char* name) {
  const auto member = object.FindMember(name);
  return member != object.MemberEnd() && member->value.IsString() ? member->value.GetString()
                                                                  : nullptr;
}

const Value* Member(const Value& object, const char* name) {
  const auto member = object.FindMember(name);
  return member != object.MemberEnd() ? &member->value : nullptr;
}

// The single variable and value of an "enable_environment" or "disable_environment" object.
void Variable(Found* found, const Value& layer, const char* name, char** variable, char** value) {
  const Value* environment = Member(layer, name);
  if (environment == nullptr || !environment->IsObject() || environment->MemberCount() == 0) {
    return;
  }
  const auto first = environment->MemberBegin();
  *variable = Copy(first->name.GetString());
  *value = Copy(first->value.IsString() ? first->value.GetString() : "");
  found->outOfMemory = found->outOfMemory || *variable == nullptr || *value == nullptr;
}

// One "layer" object, as the loader reads it: the fields it needs, and the machine it is for.
void ReadLayer(Found* found, const char* file, bool implicit, const Value& object) {
  Layer* layer = Add(found, file, implicit);
  if (layer == nullptr) {
    return;
  }
  if (!object.IsObject()) {
    Explain(found, layer, Copy("a layer in it is not a JSON object"));
    return;
  }
  if (const char* name = String(object, "name")) {
    layer->nameLength = std::strlen(name);
    layer->name = Format("%.*s", static_cast<int>(kLongestName), name);
    found->outOfMemory = found->outOfMemory || layer->name == nullptr;
  }
  const char* library = String(object, "library_path");
  const Value* components = Member(object, "component_layers");
  if (library != nullptr) {
    layer->library = Copy(library);
  } else if (components != nullptr && components->IsArray()) {
    layer->library = Copy("component layers:");
    for (const Value& component : components->GetArray()) {
      char* longer = Format("%s %s", layer->library != nullptr ? layer->library : "",
                            component.IsString() ? component.GetString() : "?");
      std::free(layer->library);
      layer->library = longer;
    }
  }
  Variable(found, object, "enable_environment", &layer->enableVariable, &layer->enableValue);
  Variable(found, object, "disable_environment", &layer->disableVariable, &layer->disableValue);
  for (const char* field :
       {"name", "type", "api_version", "implementation_version", "description"}) {
    if (String(object, field) == nullptr) {
      Explain(found, layer,
              Format("the layer has no \"%s\" string, which the loader needs", field));
      return;
    }
  }
  const char* type = String(object, "type");
  if (std::strcmp(type, "INSTANCE") != 0 && std::strcmp(type, "GLOBAL") != 0) {
    Explain(found, layer,
            Format("its type is \"%s\"; the loader lists INSTANCE and GLOBAL layers", type));
  } else if (library != nullptr && components != nullptr) {
    Explain(found, layer, Copy("it has both \"library_path\" and \"component_layers\""));
  } else if (library == nullptr && components == nullptr) {
    Explain(found, layer, Copy("the layer has no \"library_path\", which the loader needs"));
  } else if (implicit && layer->disableVariable == nullptr) {
    Explain(found, layer,
            Copy("an implicit layer without \"disable_environment\", which the loader needs"));
  } else if (const char* arch = String(object, "library_arch")) {
    const bool mine = (std::strncmp(arch, "32", 2) == 0 && sizeof(void*) == 4) ||
                      (std::strncmp(arch, "64", 2) == 0 && sizeof(void*) == 8) ||
                      (std::strncmp(arch, "32", 2) != 0 && std::strncmp(arch, "64", 2) != 0);
    if (!mine) {
      Explain(found, layer,
              Format("built for %s-bit programs (library_arch \"%s\"); this loader is %u-bit", arch,
                     arch, static_cast<unsigned>(sizeof(void*) * 8)));
    }
  }
}

// How deep the text's arrays and objects nest.
std::size_t Depth(const char* text, std::size_t size) {
  std::size_t depth = 0;
  std::size_t deepest = 0;
  bool inString = false;
  for (std::size_t i = 0; i < size; ++i) {
    const char c = text[i];
    if (inString) {
      i += c == '\\' ? 1 : 0;
      inString = c != '"';
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = ++depth > deepest ? depth : deepest;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

// Deeper than any manifest goes, and where a loader's recursive parser may run out of stack.
constexpr std::size_t kDeepest = 10000;

// The file's text parsed; false with the layer's reason where it cannot be.
bool Parse(Found* found, const char* file, bool implicit, Document* document) {
  char* text = nullptr;
  std::size_t size = 0;
  unsigned long error = 0;
  const platform::ReadResult read =
      platform::ReadWholeFile(file, kLargestManifest, &text, &size, &error);
  char* why = nullptr;
  if (read == platform::ReadResult::kTooLarge) {
    why =
        Format("not read: larger than %lu MiB", static_cast<unsigned long>(kLargestManifest >> 20));
  } else if (read == platform::ReadResult::kFailed) {
    char description[128];
    platform::DescribeError(error != 0 ? error : ENOMEM, description, sizeof description);
    why = Format("not readable: %s", description);
  } else {
    document->Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseStopWhenDoneFlag>(text, size);
    if (document->HasParseError()) {
      why =
          Format("not JSON at byte %lu: %s", static_cast<unsigned long>(document->GetErrorOffset()),
                 rapidjson::GetParseError_En(document->GetParseError()));
    } else if (const std::size_t depth = Depth(text, size); depth > kDeepest) {
      why = Format(
          "JSON nested %lu levels deep, where a loader's parser may run out of stack "
          "(Debian 12's, 1.3.239, does at 200000)",
          static_cast<unsigned long>(depth));
    } else if (!document->IsObject()) {
      why = Copy("not a JSON object");
    }
  }
  std::free(text);
  if (why == nullptr) {
    return true;
  }
  if (Layer* layer = Add(found, file, implicit)) {
    layer->unread = true;
    Explain(found, layer, why);
  } else {
    std::free(why);
  }
  return false;
}

void ReadFile(Found* found, const char* file, bool implicit) {
  // A file the loader reads twice (from the settings file and a folder) has said all once.
  for (std::size_t i = 0; i < found->count; ++i) {
    if (found->layers[i].file != nullptr && std::strcmp(found->layers[i].file, file) == 0) {
      return;
    }
  }
  rapidjson::CrtAllocator base;
  rapidjson::CrtAllocator stack;
  rapidjson::MemoryPoolAllocator<> pool(4096, &base);
  Document document(&pool, 1024, &stack);
  if (!Parse(found, file, implicit, &document)) {
    return;
  }
  const Value* layers = Member(document, "layers");
  const Value* single = Member(document, "layer");
  const char* why = nullptr;
  if (String(document, "file_format_version") == nullptr) {
    why = "no \"file_format_version\" string, which the loader needs";
  } else if (layers != nullptr && !layers->IsArray()) {
    why = "its \"layers\" is not a list";
  } else if (layers != nullptr && layers->Empty()) {
    why = "its \"layers\" list is empty";
  } else if (layers == nullptr && single == nullptr) {
    why = "no \"layer\" or \"layers\" in it";
  }
  if (why != nullptr) {
    if (Layer* layer = Add(found, file, implicit)) {
      Explain(found, layer, Copy(why));
    }
  } else if (layers != nullptr) {
    for (const Value& layer : layers->GetArray()) {
      ReadLayer(found, file, implicit, layer);
    }
  } else {
    ReadLayer(found, file, implicit, *single);
  }
}

struct Folder {
  Found* found;
  const char* path;
  bool implicit;
};

void ReadFolderEntry(const char* name, void* context) {
  const auto* folder = static_cast<const Folder*>(context);
  char* file = Format("%s%c%s", folder->path, platform::kDirectorySeparator, name);
  if (file == nullptr) {
    folder->found->outOfMemory = true;
    return;
  }
  ReadFile(folder->found, file, folder->implicit);
  std::free(file);
}

// A folder's manifests, or a manifest named on its own.
void ReadPath(Found* found, const char* path, bool implicit) {
  const std::size_t length = std::strlen(path);
  if (!platform::IsFolder(path) && length > 5 && std::strcmp(path + length - 5, ".json") == 0) {
    ReadFile(found, path, implicit);
    return;
  }
  Folder folder{found, path, implicit};
  unsigned long error = 0;
  if (!platform::ListJsonFiles(path, ReadFolderEntry, &folder, &error)) {
    char description[128];
    platform::DescribeError(error, description, sizeof description);
    // (The loader passes such a folder over: it is no reason for the loader to fail.)
    if (Layer* layer = Add(found, path, implicit)) {
      Explain(found, layer, Format("a folder the loader reads, not readable: %s", description));
    }
  }
}

// Paths, each once, in the order first given.
struct Paths {
  char** items;
  std::size_t count;
  std::size_t capacity;
  bool outOfMemory;
};

void AddPath(Paths* paths, char* path) {
  if (path == nullptr) {
    paths->outOfMemory = true;
    return;
  }
  for (std::size_t i = 0; i < paths->count; ++i) {
    if (std::strcmp(paths->items[i], path) == 0) {
      std::free(path);
      return;
    }
  }
  if (paths->count == paths->capacity) {
    const std::size_t capacity = paths->capacity == 0 ? 16 : paths->capacity * 2;
    auto* larger = static_cast<char**>(
        std::realloc(static_cast<void*>(paths->items), capacity * sizeof(char*)));
    if (larger == nullptr) {
      std::free(path);
      paths->outOfMemory = true;
      return;
    }
    paths->items = larger;
    paths->capacity = capacity;
  }
  paths->items[paths->count++] = path;
}

// Each folder of a list such as VK_LAYER_PATH (null for none), with `suffix` after it.
void AddList(Paths* paths, const char* list, const char* suffix) {
  for (const char* at = list; at != nullptr && *at != '\0';) {
    const char* end = std::strchr(at, platform::kPathListSeparator);
    const std::size_t length =
        end != nullptr ? static_cast<std::size_t>(end - at) : std::strlen(at);
    if (length > 0) {
      AddPath(paths, Format("%.*s%s", static_cast<int>(length), at, suffix));
    }
    at = end != nullptr ? end + 1 : nullptr;
  }
}

void FreePaths(Paths* paths) {
  for (std::size_t i = 0; i < paths->count; ++i) {
    std::free(paths->items[i]);
  }
  std::free(static_cast<void*>(paths->items));
}

const char* Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// A variable the loader ignores in an elevated process (setuid on ELF systems; a high integrity
// level on Windows, as Wine gives every process), or its value.
const char* SecureEnvironment(const char* name) {
  return platform::IsElevated() ? nullptr : Environment(name);
}

// The folders every loader of ELF systems reads, in its order, each with `suffix` (none where the
// process is elevated, whose variables the loader does not trust): the user's
// (XDG_CONFIG_HOME, else ~/.config), XDG_CONFIG_DIRS, the system's configuration folders (a loader
// installed under /usr reads /etc; one under /usr/local reads both), the user's data folder
// (XDG_DATA_HOME, else ~/.local/share) and XDG_DATA_DIRS.
void AddStandardFolders(Paths* paths, const char* suffix) {
  const char* home = SecureEnvironment("HOME");
  const char* configHome = SecureEnvironment("XDG_CONFIG_HOME");
  const char* dataHome = SecureEnvironment("XDG_DATA_HOME");
  const char* configDirs = SecureEnvironment("XDG_CONFIG_DIRS");
  const char* dataDirs = SecureEnvironment("XDG_DATA_DIRS");
  if (configHome != nullptr) {
    AddList(paths, configHome, suffix);
  } else if (home != nullptr) {
    AddPath(paths, Format("%s/.config%s", home, suffix));
  }
  AddList(paths, configDirs != nullptr ? configDirs : "/etc/xdg", suffix);
  AddList(paths, "/usr/local/etc:/etc", suffix);
  if (dataHome != nullptr) {
    AddList(paths, dataHome, suffix);
  } else if (home != nullptr) {
    AddPath(paths, Format("%s/.local/share%s", home, suffix));
  }
  AddList(paths, dataDirs != nullptr ? dataDirs : "/usr/local/share:/usr/share", suffix);
}

void AddRegistryPath(const char* path, bool /*on*/, const char* /*where*/, void* context) {
  AddPath(static_cast<Paths*>(context), Copy(path));
}

// Where the loader of `version` looks for implicit or explicit layers: the variable that replaces
// its folders, else the one that adds to them and then its own (the registry on Windows).
void ReadLayers(Found* found, std::uint32_t version, bool implicit) {
  const bool variables = !implicit || version >= kFirstImplicitPathLoader;
  const char* replaced =
      variables ? SecureEnvironment(implicit ? "VK_IMPLICIT_LAYER_PATH" : "VK_LAYER_PATH")
                : nullptr;
  Paths paths{};
  if (replaced != nullptr) {
    AddList(&paths, replaced, "");
  } else {
    if (variables) {
      AddList(&paths,
              SecureEnvironment(implicit ? "VK_ADD_IMPLICIT_LAYER_PATH" : "VK_ADD_LAYER_PATH"), "");
    }
    if (platform::kManifestsInRegistry) {
      platform::ListRegistryManifests(implicit ? "ImplicitLayers" : "ExplicitLayers",
                                      AddRegistryPath, &paths);
    } else {
      AddStandardFolders(&paths,
                         implicit ? "/vulkan/implicit_layer.d" : "/vulkan/explicit_layer.d");
    }
  }
  found->outOfMemory = found->outOfMemory || paths.outOfMemory;
  for (std::size_t i = 0; i < paths.count; ++i) {
    ReadPath(found, paths.items[i], implicit);
  }
  FreePaths(&paths);
}

constexpr const char kSettingsName[] = "vk_loader_settings.json";

// A LoaderSettings value naming a settings file: HKEY_CURRENT_USER's is read before
// HKEY_LOCAL_MACHINE's.
void FindSettingsInRegistry(const char* path, bool /*on*/, const char* where, void* context) {
  auto* chosen = static_cast<Paths*>(context);
  const bool user = std::strncmp(where, "HKEY_CURRENT_USER", 17) == 0;
  const std::size_t length = std::strlen(path);
  const std::size_t nameLength = sizeof kSettingsName - 1;
  if (length >= nameLength && std::strcmp(path + length - nameLength, kSettingsName) == 0 &&
      (chosen->count == 0 || user)) {
    FreePaths(chosen);
    *chosen = Paths{};
    AddPath(chosen, Copy(path));
  }
}

// The loader settings file the loader reads, the first there is: on ELF systems in the user's
// folders, then the system's; on Windows where the registry names it.
char* FindSettingsFile() {
  Paths paths{};
  if (platform::kManifestsInRegistry) {
    platform::ListRegistryManifests("LoaderSettings", FindSettingsInRegistry, &paths);
  } else {
    const char* suffix = "/vulkan/loader_settings.d/vk_loader_settings.json";
    const char* home = SecureEnvironment("HOME");
    AddList(&paths, SecureEnvironment("XDG_CONFIG_HOME"), suffix);
    AddList(&paths, SecureEnvironment("XDG_DATA_HOME"), suffix);
    if (home != nullptr && SecureEnvironment("XDG_CONFIG_HOME") == nullptr) {
      AddPath(&paths, Format("%s/.config%s", home, suffix));
    }
    if (home != nullptr && SecureEnvironment("XDG_DATA_HOME") == nullptr) {
      AddPath(&paths, Format("%s/.local/share%s", home, suffix));
    }
    const char* configDirs = SecureEnvironment("XDG_CONFIG_DIRS");
    const char* dataDirs = SecureEnvironment("XDG_DATA_DIRS");
    AddList(&paths, configDirs != nullptr ? configDirs : "/etc/xdg", suffix);
    AddList(&paths, "/usr/local/etc:/etc", suffix);
    AddList(&paths, dataDirs != nullptr ? dataDirs : "/usr/local/share:/usr/share", suffix);
  }
  char* chosen = nullptr;
  for (std::size_t i = 0; chosen == nullptr && i < paths.count; ++i) {
    std::FILE* file = std::fopen(paths.items[i], "rb");
    if (file != nullptr) {
      std::fclose(file);
      chosen = Copy(paths.items[i]);
    }
  }
  FreePaths(&paths);
  return chosen;
}

// The layers a loader settings file names: those it reads from their own manifests (read here
// first), those it turns off, and whether it leaves the rest where they are.
struct Settings {
  Paths off;       // names
  bool hasLayers;  // it names layers at all
  bool keepsRest;  // with an "unordered_layer_location"
};

void ReadSettings(Found* found, Settings* settings) {
  rapidjson::CrtAllocator base;
  rapidjson::CrtAllocator stack;
  rapidjson::MemoryPoolAllocator<> pool(4096, &base);
  Document document(&pool, 1024, &stack);
  const std::size_t before = found->count;
  if (!Parse(found, found->settingsFile, false, &document)) {
    // The loader then reads no settings: the file's line says why.
    Explain(found, &found->layers[before],
            Format("the loader settings file, %s", found->layers[before].why));
    return;
  }
  // The settings for every application: the one object, or the entry of the array without
  // "app_keys".
  const Value* chosen = Member(document, "settings");
  if (const Value* array = Member(document, "settings_array")) {
    chosen = nullptr;
    for (rapidjson::SizeType i = 0; array->IsArray() && i < array->Size(); ++i) {
      const Value& entry = (*array)[i];
      if (chosen == nullptr && entry.IsObject() && Member(entry, "app_keys") == nullptr) {
        chosen = &entry;
      }
    }
  }
  const Value* layers =
      chosen != nullptr && chosen->IsObject() ? Member(*chosen, "layers") : nullptr;
  if (layers == nullptr || !layers->IsArray()) {
    return;
  }
  settings->hasLayers = true;
  for (const Value& entry : layers->GetArray()) {
    if (!entry.IsObject()) {
      continue;
    }
    const char* control = String(entry, "control");
    const char* name = String(entry, "name");
    const char* path = String(entry, "path");
    if (control != nullptr && std::strcmp(control, "unordered_layer_location") == 0) {
      settings->keepsRest = true;
      continue;
    }
    if (control != nullptr && std::strcmp(control, "off") == 0 && name != nullptr) {
      AddPath(&settings->off, Copy(name));
    }
    if (path != nullptr) {
      const Value* implicit = Member(entry, "treat_as_implicit_manifest");
      ReadFile(found, path, implicit != nullptr && implicit->IsTrue());
    }
  }
  found->outOfMemory = found->outOfMemory || settings->off.outOfMemory;
}

// A layer filter of VK_LOADER_LAYERS_DISABLE and its kin: a name, with "*" before, after or
// around it, or ~all~, ~implicit~ or ~explicit~; case does not matter.
bool Matches(const char* list, const Layer& layer) {
  for (const char* at = list; at != nullptr && *at != '\0';) {
    const char* end = std::strchr(at, ',');
    std::size_t length = end != nullptr ? static_cast<std::size_t>(end - at) : std::strlen(at);
    const char* filter = at;
    at = end != nullptr ? end + 1 : nullptr;
    const auto is = [&](const char* special) {
      return length == std::strlen(special) && std::strncmp(filter, special, length) == 0;
    };
    if (is("~all~") || (is("~implicit~") && layer.implicit) ||
        (is("~explicit~") && !layer.implicit)) {
      return true;
    }
    const bool before = length > 0 && filter[0] == '*';
    const bool after = length > 1 && filter[length - 1] == '*';
    filter += before ? 1 : 0;
    length -= (before ? 1U : 0U) + (after ? 1U : 0U);
    const std::size_t nameLength = std::strlen(layer.name);
    if (length == 0 || length > nameLength) {
      continue;
    }
    for (std::size_t start = 0; start + length <= nameLength; ++start) {
      if ((!before && start > 0) || (!after && start + length != nameLength)) {
        continue;
      }
      std::size_t i = 0;
      while (i < length && std::tolower(static_cast<unsigned char>(layer.name[start + i])) ==
                               std::tolower(static_cast<unsigned char>(filter[i]))) {
        ++i;
      }
      if (i == length) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

void ReadManifest(const char* file, bool implicit, Found* found) {
  ReadFile(found, file, implicit);
}

void Read(std::uint32_t loaderVersion, Found* found) {
  Settings settings{};
  if (loaderVersion >= kFirstSettingsLoader) {
    found->settingsFile = FindSettingsFile();
    if (found->settingsFile != nullptr) {
      ReadSettings(found, &settings);
    }
  }
  const std::size_t fromSettings = found->count;
  ReadLayers(found, loaderVersion, true);
  ReadLayers(found, loaderVersion, false);
  const bool filters = loaderVersion >= kFirstFilteringLoader;
  const char* disable = filters ? SecureEnvironment("VK_LOADER_LAYERS_DISABLE") : nullptr;
  const char* enable = filters ? SecureEnvironment("VK_LOADER_LAYERS_ENABLE") : nullptr;
  const char* allow =
      loaderVersion >= kFirstAllowingLoader ? SecureEnvironment("VK_LOADER_LAYERS_ALLOW") : nullptr;
  for (std::size_t i = 0; i < found->count; ++i) {
    Layer* layer = &found->layers[i];
    if (layer->why != nullptr || layer->name == nullptr) {
      continue;
    }
    bool off = false;
    for (std::size_t j = 0; j < settings.off.count; ++j) {
      off = off || std::strcmp(settings.off.items[j], layer->name) == 0;
    }
    if (off) {
      Explain(found, layer,
              Format("turned off by the loader settings file %s", found->settingsFile));
    } else if (i >= fromSettings && settings.hasLayers && !settings.keepsRest) {
      Explain(found, layer,
              Format("left out by the loader settings file %s, which lists its own layers and no "
                     "\"unordered_layer_location\"",
                     found->settingsFile));
    } else if (Matches(disable, *layer) && !Matches(enable, *layer) && !Matches(allow, *layer)) {
      Explain(found, layer, Format("turned off by VK_LOADER_LAYERS_DISABLE=%s", disable));
    }
  }
  FreePaths(&settings.off);
}

std::size_t* Match(const char* const* names, std::size_t count, Found* found) {
  auto* at = static_cast<std::size_t*>(std::calloc(count + 1, sizeof(std::size_t)));
  if (at == nullptr) {
    return nullptr;
  }
  for (std::size_t i = 0; i < count; ++i) {
    at[i] = found->count;
    for (std::size_t j = 0; j < found->count && at[i] == found->count; ++j) {
      Layer& layer = found->layers[j];
      if (!layer.listed && layer.why == nullptr && layer.name != nullptr &&
          std::strcmp(layer.name, names[i]) == 0) {
        layer.listed = true;
        at[i] = j;
      }
    }
  }
  for (std::size_t j = 0; j < found->count; ++j) {
    Layer& layer = found->layers[j];
    if (layer.listed || layer.why != nullptr || layer.name == nullptr) {
      continue;
    }
    const Layer* taken = nullptr;
    for (std::size_t k = 0; k < found->count && taken == nullptr; ++k) {
      const Layer& other = found->layers[k];
      taken = other.listed && std::strcmp(other.name, layer.name) == 0 ? &other : nullptr;
    }
    if (taken != nullptr) {
      Explain(found, &layer, Format("the loader takes a layer of this name from %s", taken->file));
    } else if (layer.nameLength >= kLongestName) {
      // Loaders up to 1.3.239 at least list such a name cut to 255 bytes; later ones pass over
      // any of 255 bytes or more.
      Explain(found, &layer,
              Format("its name is %lu bytes long; the loader lists none of more than %lu",
                     static_cast<unsigned long>(layer.nameLength),
                     static_cast<unsigned long>(kLongestName - 1)));
    } else {
      Explain(found, &layer,
              Copy("passed over by the loader for a reason the check does not know"));
    }
  }
  return at;
}

bool IsOn(const Layer& layer) {
  const char* enabled = layer.enableVariable != nullptr ? std::getenv(layer.enableVariable) : "";
  const bool on = layer.enableVariable == nullptr ||
                  (enabled != nullptr && std::strcmp(enabled, layer.enableValue) == 0);
  return on && (layer.disableVariable == nullptr || std::getenv(layer.disableVariable) == nullptr);
}

void Free(Found* found) {
  for (std::size_t i = 0; i < found->count; ++i) {
    const Layer& layer = found->layers[i];
    for (char* text : {layer.file, layer.name, layer.library, layer.enableVariable,
                       layer.enableValue, layer.disableVariable, layer.disableValue, layer.why}) {
      std::free(text);
    }
  }
  std::free(found->layers);
  std::free(found->settingsFile);
  *found = Found{};
}

}  // namespace manifests
