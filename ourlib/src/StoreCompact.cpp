// Compaction: the index is rebuilt by the bulk loader into a ".$$X" file
// that then replaces the ".DKX". The data file is not touched, so every
// record offset stays valid.
#include <memory>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/PathText.h"
#include "ourlib/src/StoreEngine.h"
#include "platform/CodePage.h"

namespace {

struct CloseIndex {
  void operator()(IndexFile* ix) const { IndexClose(ix); }
};
using IndexHandle = std::unique_ptr<IndexFile, CloseIndex>;

// Upper-cases a path in place, leaving double-byte characters alone.
void UpperCase(char* path) {
  for (char* p = path; *p; ++p) {
    uint8_t c = static_cast<uint8_t>(*p);
    if (plat::IsLeadByte(c) && p[1] != 0) {
      ++p;
    } else if (c >= 'a' && c <= 'z') {
      *p = static_cast<char>(c - 32);
    }
  }
}

}  // namespace

int StoreCompact(char* path, const KeyConfig* cfg) {
  UpperCase(path);
  char name[kPathField], temp[kPathField];
  if (!StoreFileName(path, ".DKX", name, sizeof name) ||
      !StoreFileName(name, ".$$X", temp, sizeof temp)) {
    return RaiseError(ERR_NOT_STORE);
  }
  IndexHandle source(IndexOpen(name, cfg, MODE_READ));
  if (!source) return ERR_OPEN_FAILED;  // reached only without a frame
  IndexHandle target;
  bool oldDeleted = false;
  int rc = Guard([&] {
    target.reset(IndexCreate(temp, cfg, TreeDuplicates(source->current)));
    IndexBulkCopy(target.get(), source.get());
    IndexFlush(target.get());
    target.reset();
    source.reset();
    plat::Env* env = plat::Env::Default();
    int code = env->Delete(name);
    if (code != 0) RaiseError(code);
    oldDeleted = true;
    code = env->Rename(temp, name);
    if (code != 0) RaiseError(code);
  });
  if (rc != 0) {
    target.reset();
    source.reset();
    // Once the old index is gone the new one is the only index left: it is
    // kept under its temporary name rather than deleted.
    if (!oldDeleted) plat::Env::Default()->Delete(temp);
    return RaiseError(rc);
  }
  return 0;
}
