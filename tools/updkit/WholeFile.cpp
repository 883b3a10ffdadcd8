#include "tools/updkit/WholeFile.h"

#include <algorithm>
#include <memory>

#include "update/FileReplacement.h"

namespace {
constexpr size_t kMostPerCall = size_t{1} << 30;  // File::Read and Write take 32-bit counts
constexpr size_t kChunk = 65536;                  // what is read past the size the file gave
}  // namespace

bool ReadWholeFile(const char* path, std::vector<uint8_t>* bytes, plat::Env& env) {
  std::unique_ptr<plat::File> file;
  uint64_t size = 0;
  if (env.Open(path, plat::Access::Read, plat::Share::Read, plat::Disposition::OpenExisting,
               plat::ATTR_NORMAL, &file) != 0 ||
      file->Size(&size) != 0) {
    return false;
  }
  // Read to the end: the size taken at the open is only the first guess (a
  // file may grow meanwhile, and a device has no size).
  std::vector<uint8_t> read(static_cast<size_t>(size));
  std::vector<uint8_t> more;
  size_t filled = 0;
  for (;;) {
    const bool sized = filled < read.size();
    if (!sized) more.resize(kChunk);
    uint8_t* to = sized ? read.data() + filled : more.data();
    const size_t want = sized ? std::min(read.size() - filled, kMostPerCall) : kChunk;
    uint32_t got = 0;
    if (file->Read(to, static_cast<uint32_t>(want), &got) != 0) return false;
    if (got == 0) break;
    if (!sized) read.insert(read.end(), more.begin(), more.begin() + got);
    filled += got;
  }
  read.resize(filled);
  bytes->swap(read);
  return true;
}

bool WriteWholeFile(const char* path, const void* bytes, size_t n, plat::Env& env) {
  FileReplacement out(env);
  if (!out.Begin(path, plat::ATTR_NORMAL)) return false;
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  for (size_t done = 0; done < n;) {
    const uint32_t want = static_cast<uint32_t>(std::min(n - done, kMostPerCall));
    uint32_t put = 0;
    if (out.file().Write(p + done, want, &put) != 0 || put != want) return false;
    done += put;
  }
  return out.Commit() == 0;
}
