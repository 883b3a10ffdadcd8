#include "update/FolderPath.h"

#include <cstring>
#include <string>

#include "platform/Env.h"

// A new folder is made durable in its parent at once: a file renamed into it
// later is only as durable as the folder's own entry.
bool CreateFolderPath(char* path) {
  plat::Env* env = plat::Env::Default();
  char* parentEnd = nullptr;  // the backslash that ends the parent folder
  for (char* p = const_cast<char*>(FindBackslash(path)); p != nullptr;
       parentEnd = p, p = const_cast<char*>(FindBackslash(p + 1))) {
    *p = '\0';
    if (std::strlen(path) > 3 && !env->IsFolder(path)) {
      if (env->CreateFolder(path) != 0)
        return false;  // left cut here: path names the failed folder
      std::string parent = parentEnd != nullptr ? std::string(path, parentEnd + 1) : std::string();
      if (env->SyncFolder(parent.c_str()) != 0) return false;
    }
    *p = '\\';
  }
  return true;
}
