#include "update/FolderPath.h"

#include <cstring>

#include "platform/env.h"

bool CreateFolderPath(char* path) {
  plat::Env* env = plat::Env::Default();
  for (char* p = const_cast<char*>(FindBackslash(path)); p != nullptr;
       p = const_cast<char*>(FindBackslash(p + 1))) {
    *p = '\0';
    if (std::strlen(path) > 3 && !env->IsFolder(path) && env->CreateFolder(path) != 0) {
      return false;  // left cut at this backslash: path names the failed folder
    }
    *p = '\\';
  }
  return true;
}

bool AddBackslash(char* text, size_t capacity) {
  const char* last = LastCharacter(text);
  if (last != nullptr && *last == '\\') return true;
  return AppendBounded(text, capacity, "\\");
}
