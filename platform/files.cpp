#include "files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

bool EndsInJson(const char* name) {
  const std::size_t length = std::strlen(name);
  return length > 5 && std::strcmp(name + length - 5, ".json") == 0;
}

}  // namespace

#ifdef _WIN32

const char kPathListSeparator = ';';
const char kDirectorySeparator = '\\';
const bool kManifestsInRegistry = true;

bool ListJsonFiles(const char* folder, void (*visit)(const char* name, void* context),
                   void* context, unsigned long* error) {
  char pattern[MAX_PATH + 8];
  if (std::snprintf(pattern, sizeof pattern, "%s\\*.json", folder) >=
      static_cast<int>(sizeof pattern)) {
    *error = ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(pattern, &entry);
  if (search == INVALID_HANDLE_VALUE) {
    // A folder without manifests, or none at all, is no error.
    *error = GetLastError();
    return *error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND;
  }
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && EndsInJson(entry.cFileName)) {
      visit(entry.cFileName, context);
    }
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return true;
}

bool IsElevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return false;
  }
  // The largest SID_AND_ATTRIBUTES there is: a SID and a DWORD.
  alignas(TOKEN_MANDATORY_LABEL) unsigned char
      label[SECURITY_MAX_SID_SIZE + sizeof(DWORD) + sizeof(TOKEN_MANDATORY_LABEL)];
  DWORD size = 0;
  bool elevated = false;
  if (GetTokenInformation(token, TokenIntegrityLevel, label, sizeof label, &size)) {
    const PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label)->Label.Sid;
    const DWORD level = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1U);
    elevated = level >= SECURITY_MANDATORY_HIGH_RID;
  }
  CloseHandle(token);
  return elevated;
}

bool IsFolder(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void ListRegistryManifests(const char* key,
                           void (*visit)(const char* path, bool on, const char* where,
                                         void* context),
                           void* context) {
  char subkey[64];
  std::snprintf(subkey, sizeof subkey, "SOFTWARE\\Khronos\\Vulkan\\%s", key);
  const struct {
    HKEY root;
    const char* name;
  } roots[] = {{HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
               {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"}};
  const bool elevated = IsElevated();
  for (const auto& root : roots) {
    HKEY opened = nullptr;
    if (elevated && root.root == HKEY_CURRENT_USER) {
      continue;
    }
    if (RegOpenKeyExA(root.root, subkey, 0, KEY_READ, &opened) != ERROR_SUCCESS) {
      continue;
    }
    char where[128];
    std::snprintf(where, sizeof where, "%s\\%s", root.name, subkey);
    for (DWORD i = 0;; ++i) {
      char name[MAX_PATH * 2];
      DWORD nameSize = sizeof name;
      DWORD type = 0;
      DWORD value = 1;
      DWORD valueSize = sizeof value;
      const LONG status = RegEnumValueA(opened, i, name, &nameSize, nullptr, &type,
                                        reinterpret_cast<BYTE*>(&value), &valueSize);
      if (status == ERROR_NO_MORE_ITEMS) {
        break;
      }
      if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        visit(name, status == ERROR_SUCCESS && type == REG_DWORD && value == 0, where, context);
      }
    }
    RegCloseKey(opened);
  }
}

#else

const char kPathListSeparator = ':';
const char kDirectorySeparator = '/';
const bool kManifestsInRegistry = false;

bool ListJsonFiles(const char* folder, void (*visit)(const char* name, void* context),
                   void* context, unsigned long* error) {
  DIR* listing = opendir(folder);
  if (listing == nullptr) {
    // A folder that is not there is no error.
    *error = static_cast<unsigned long>(errno);
    return errno == ENOENT || errno == ENOTDIR;
  }
  while (const dirent* entry = readdir(listing)) {
    if (EndsInJson(entry->d_name)) {
      visit(entry->d_name, context);
    }
  }
  closedir(listing);
  return true;
}

bool IsElevated() { return geteuid() != getuid() || getegid() != getgid(); }

bool IsFolder(const char* path) {
  struct stat status = {};
  return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

void ListRegistryManifests(const char* /*key*/,
                           void (* /*visit*/)(const char* path, bool on, const char* where,
                                              void* context),
                           void* /*context*/) {}

#endif

ReadResult ReadWholeFile(const char* path, std::size_t limit, char** data, std::size_t* size,
                         unsigned long* error) {
  *data = nullptr;
  *size = 0;
  *error = 0;
  errno = 0;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    *error = static_cast<unsigned long>(errno);
    return ReadResult::kFailed;
  }
  std::size_t capacity = 4096;
  char* text = static_cast<char*>(std::malloc(capacity + 1));
  ReadResult result = text != nullptr ? ReadResult::kRead : ReadResult::kFailed;
  while (result == ReadResult::kRead) {
    *size += std::fread(text + *size, 1, capacity - *size, file);
    if (std::ferror(file) != 0) {
      *error = static_cast<unsigned long>(errno != 0 ? errno : EIO);
      result = ReadResult::kFailed;
    } else if (*size > limit) {
      result = ReadResult::kTooLarge;
    } else if (*size < capacity) {
      break;
    } else {
      capacity *= 2;
      char* larger = static_cast<char*>(std::realloc(text, capacity + 1));
      if (larger == nullptr) {
        result = ReadResult::kFailed;
      } else {
        text = larger;
      }
    }
  }
  std::fclose(file);
  if (result != ReadResult::kRead) {
    std::free(text);
    *size = 0;
    return result;
  }
  text[*size] = '\0';
  *data = text;
  return result;
}

}  // namespace platform
