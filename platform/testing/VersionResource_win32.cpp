#include "platform/testing/VersionResource.h"

#include <windows.h>

namespace plat {

int VersionResource::Read(const std::string& path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return static_cast<int>(::GetLastError());
  info_.assign(size, 0);
  if (!::GetFileVersionInfoA(path.c_str(), 0, size, info_.data()))
    return static_cast<int>(::GetLastError());
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!::VerQueryValueA(info_.data(), "\\", reinterpret_cast<void**>(&fixed), &length) ||
      fixed == nullptr) {
    return ERROR_RESOURCE_TYPE_NOT_FOUND;
  }
  fileVersionMS = fixed->dwFileVersionMS;
  fileVersionLS = fixed->dwFileVersionLS;
  productVersionMS = fixed->dwProductVersionMS;
  return 0;
}

std::string VersionResource::Text(const char* name) const {
  char* value = nullptr;
  UINT length = 0;
  const std::string key = std::string("\\StringFileInfo\\040904E4\\") + name;
  if (info_.empty() ||
      !::VerQueryValueA(info_.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) ||
      value == nullptr) {
    return "(none)";
  }
  return std::string(value, length > 0 && value[length - 1] == '\0' ? length - 1 : length);
}

}  // namespace plat
