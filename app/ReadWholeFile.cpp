#include "app/ReadWholeFile.h"

#include <cstdint>
#include <memory>

#include "ourlib/src/ErrFrame.h"
#include "platform/Env.h"

char* ReadWholeFile(const char* path) {
  std::unique_ptr<plat::File> file;
  // No sharing: a report held open by another program counts as missing.
  if (plat::Env::Default()->Open(path, plat::Access::Read, plat::Share::None,
                                 plat::Disposition::OpenExisting, 0, &file) != 0) {
    return nullptr;
  }
  uint64_t size = 0;
  if (file->Seek(0) != 0 || file->Size(&size) != 0) return nullptr;
  if (size >= UINT32_MAX) return nullptr;  // GetFileSize cannot tell such a size
  const uint32_t n = static_cast<uint32_t>(size);
  MemPtr<char> buffer(static_cast<char*>(MemAllocZero(n + 1u)));
  if (!buffer) return nullptr;
  uint32_t total = 0;
  while (total < n) {
    uint32_t got = 0;
    if (file->Read(buffer.get() + total, n - total, &got) != 0 || got == 0) return nullptr;
    total += got;
  }
  return buffer.release();
}
