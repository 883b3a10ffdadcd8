// What the files and mappings of both backends of env.h keep alike, beside
// their own handles (for Env_posix.cpp and Env_win32.cpp only).
#pragma once

#include <cstdint>

#include "platform/Env.h"

namespace plat {

// Whether the file was opened for writing: writes and a writable mapping
// need it.
class BackendFile : public File {
 public:
  explicit BackendFile(bool writable) : writable_(writable) {}
  bool writable() const { return writable_; }

 protected:
  const bool writable_;
};

// The view, its size and whether it may be written. The backend's mapping
// owns the view (it unmaps it when it dies), so it is not copied.
class BackendMapping : public Mapping {
 public:
  BackendMapping(bool writable, uint8_t* view, uint64_t size)
      : writable_(writable), view_(view), size_(size) {}
  BackendMapping(const BackendMapping&) = delete;
  BackendMapping& operator=(const BackendMapping&) = delete;

  uint8_t* Data() override { return view_; }
  uint64_t Size() const override { return size_; }

 protected:
  const bool writable_;
  uint8_t* view_;
  uint64_t size_;
};

}  // namespace plat
