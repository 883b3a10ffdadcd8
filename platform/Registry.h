// The registry seam: keys below HKEY_LOCAL_MACHINE, opened or created by
// their path ("SOFTWARE\\Varnholt\\Marovex\\Version"), and their values.
// Both see the registry as the 32-bit game does. Windows: ADVAPI32
// (RegOpenKeyExA and RegCreateKeyExA with KEY_WOW64_32KEY, RegQueryValueExA,
// RegSetValueExA, RegFlushKey, RegCloseKey). POSIX: a text file in a format
// regedit exports or in Wine's own (a prefix's system.reg; see RegFile.h)
// named by the environment variable UPDATER_REGISTRY, by default
// $HOME/.updater-registry.reg (or updater-registry.reg in the current
// folder when HOME is not set). Every change rewrites the file through a
// temporary file in the same folder, flushed, renamed over the old one and
// made durable with its folder, so a failed write or a crash leaves the old
// file as it was. A Wine prefix's file is refused while the prefix's
// wineserver runs (it keeps the registry in memory and writes it over the
// file), and its drives then give the meaning of drive letters in paths
// (NativePath.h).
// A key below SOFTWARE is the one below SOFTWARE\Wow6432Node where the file
// holds that (a 64-bit Wine prefix keeps a 32-bit installer's keys there),
// else the one named.
//
// Every call returns 0 or a Win32 error code (the POSIX stand-in uses the
// same numbers).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat {

// Value types, with their Win32 numbers.
constexpr uint32_t kRegNone = 0;    // REG_NONE
constexpr uint32_t kRegSz = 1;      // REG_SZ
constexpr uint32_t kRegBinary = 3;  // REG_BINARY
constexpr uint32_t kRegDword = 4;   // REG_DWORD

constexpr int kRegErrNotFound = 2;     // ERROR_FILE_NOT_FOUND: no such key or value
constexpr int kRegErrBadFormat = 13;   // ERROR_INVALID_DATA: the registry file cannot be parsed
constexpr int kRegErrMoreData = 234;   // ERROR_MORE_DATA: the value is longer than the buffer
constexpr int kRegErrWriteFault = 29;  // ERROR_WRITE_FAULT: the registry file cannot be written
constexpr int kRegErrBusy = 170;       // ERROR_BUSY: the Wine prefix of the file is in use

struct RegValue {
  std::string name;
  uint32_t type = kRegNone;
  std::vector<uint8_t> data;  // exactly the stored bytes
};

// An open key. Closing happens on destruction.
class RegKey {
 public:
  virtual ~RegKey() = default;
  // As RegQueryValueExA: *size holds the buffer's capacity on entry and the
  // value's length on return. A value longer than the buffer gives
  // kRegErrMoreData (the buffer's contents are then undefined). type may be null.
  virtual int Query(const char* name, uint32_t* type, void* data, uint32_t* size) = 0;
  // As RegSetValueExA: stores exactly size bytes.
  virtual int Set(const char* name, uint32_t type, const void* data, uint32_t size) = 0;
  // As RegDeleteValueA: kRegErrNotFound when there is no such value.
  virtual int Delete(const char* name) = 0;
  // Every value of the key, in stored order.
  virtual int List(std::vector<RegValue>* values) = 0;
  // As RegFlushKey: returns once the values set so far are on the disk.
  virtual int Flush() = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;
  static Registry* Default();
  // RegOpenKeyA: fails with kRegErrNotFound when the key does not exist.
  virtual int OpenKey(const char* path, std::unique_ptr<RegKey>* out) = 0;
  // RegCreateKeyA: opens the key, creating it (and its parents) when missing.
  virtual int CreateKey(const char* path, std::unique_ptr<RegKey>* out) = 0;
  // The paths of the keys below path (path included when it exists), for
  // listing; HKEY_LOCAL_MACHINE-relative, sorted.
  virtual int ListKeys(const char* path, std::vector<std::string>* keys) = 0;
};

// Sets the Registry that Registry::Default() returns (null restores the
// backend's own). Tests use it to make chosen calls fail.
void SetDefaultRegistry(Registry* registry);

// The backend of this build, whatever SetDefaultRegistry was given.
Registry* BackendRegistry();
// POSIX: the registry file in use (UPDATER_REGISTRY or the default);
// Windows: empty.
std::string RegistryFilePath();
// POSIX: a text for a person who sees the registry read fail: a line break,
// the registry file and how to choose another, and on a further line why
// the last access failed when the reason is known (the file is missing,
// cannot be read or parsed, or its Wine prefix is in use). Windows: empty.
std::string RegistryNote();
// POSIX: uses path as the registry file instead of UPDATER_REGISTRY and the
// default (null returns to those); tests and updkit --registry use it.
// Windows: no effect.
void SetRegistryFile(const char* path);

}  // namespace plat
