#include "ourlib/src/StoreChange.h"

#include <cstring>

#include "ourlib/src/ByteCodec.h"
#include "ourlib/src/MappedFile.h"
#include "ourlib/src/PathText.h"
#include "ourlib/src/StoreEngine.h"

// The commit record, 20 bytes, little-endian. It is written in place; a
// record cut short by a crash fails its length or checksum and counts as
// absent, which is right, since no rename is made before it is on the disk.
namespace {

// Each field's offset, its size and what it holds.
enum : uint32_t {
  kRecMagic = 0,      // 4  "DKCM"
  kRecVersion = 4,    // 4  kRecordVersion
  kRecIndexSize = 8,  // 4  size of the index copy
  kRecDataSize = 12,  // 4  size of the data copy
  kRecChecksum = 16,  // 4  FNV-1a of the bytes before it
};
constexpr uint32_t kRecordBytes = 20;
constexpr uint32_t kRecordVersion = 1;

uint32_t Fnv1a(const uint8_t* p, size_t n) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
  return h;
}

plat::Env* Env() { return plat::Env::Default(); }

// The folder part of a file path, with its separator ("" for a bare name).
std::string FolderOf(const std::string& path) {
  const char* text = path.c_str();
  size_t end = 0;
  for (const char* b = FindBackslash(text); b != nullptr; b = FindBackslash(b + 1)) {
    end = static_cast<size_t>(b - text) + 1;
  }
  for (size_t i = end; i < path.size(); ++i) {
    if (path[i] == '/' || path[i] == ':') end = i + 1;
  }
  return path.substr(0, end);
}

int SyncFolderOf(const std::string& file) { return Env()->SyncFolder(FolderOf(file).c_str()); }

int RemoveIfThere(const std::string& path) {
  return Env()->Exists(path.c_str()) ? Env()->Delete(path.c_str()) : 0;
}

int FileSize(const std::string& path, uint32_t* size) {
  std::unique_ptr<plat::File> f;
  int rc = Env()->Open(path.c_str(), plat::Access::Read, plat::Share::Read,
                       plat::Disposition::OpenExisting, plat::ATTR_NORMAL, &f);
  uint64_t n = 0;
  if (rc == 0) rc = f->Size(&n);
  *size = static_cast<uint32_t>(n);
  return rc;
}

// Opens a closed working file once more to make its bytes durable.
int FlushFile(const std::string& path, uint32_t* size) {
  std::unique_ptr<plat::File> f;
  int rc = Env()->Open(path.c_str(), plat::Access::ReadWrite, plat::Share::None,
                       plat::Disposition::OpenExisting, plat::ATTR_NORMAL, &f);
  uint64_t n = 0;
  if (rc == 0) rc = f->Size(&n);
  if (rc == 0) rc = f->Flush();
  *size = static_cast<uint32_t>(n);
  return rc;
}

bool Fits(const std::string& path) { return path.size() < kPathField; }

}  // namespace

struct StoreChangeNames {
  std::string index, data;                       // the store's files, links followed
  std::string working;                           // the working store's path for cMf32
  std::string workIndex, workData, workCompact;  // its files and compaction temporary
  std::string record, lock;
};

namespace {

using Names = StoreChangeNames;

int FormNames(const char* path, Names* n) {
  char x[kPathField], d[kPathField], base[kPathField];
  if (path == nullptr || !StoreFileName(path, ".DKX", x, sizeof x) ||
      !StoreFileName(path, ".DKD", d, sizeof d)) {
    return ERR_NOT_STORE;
  }
  // A store file that is a symbolic link is replaced at its target, so that
  // the link stays; the working files lie beside the index's target.
  if (int rc = Env()->ResolveLink(x, &n->index)) return rc;
  if (int rc = Env()->ResolveLink(d, &n->data)) return rc;
  if (!Fits(n->index) || !Fits(n->data) ||
      !StoreFileName(n->index.c_str(), "", base, sizeof base)) {
    return ERR_NOT_STORE;
  }
  const std::string b = base;
  n->working = b + ".$$";
  n->workIndex = n->working + ".DKX";
  n->workData = n->working + ".DKD";
  n->workCompact = n->working + ".$$X";
  n->record = b + ".$$C";
  n->lock = b + ".$$L";
  for (const std::string* s :
       {&n->workIndex, &n->workData, &n->workCompact, &n->record, &n->lock}) {
    if (!Fits(*s)) return ERR_NOT_STORE;
  }
  return 0;
}

int TakeLock(const Names& n, std::unique_ptr<plat::File>* lock) {
  return Env()->Open(n.lock.c_str(), plat::Access::ReadWrite, plat::Share::None,
                     plat::Disposition::OpenAlways, plat::ATTR_NORMAL, lock);
}

void DropLock(const Names& n, std::unique_ptr<plat::File>* lock) {
  if (!*lock) return;
  lock->reset();
  Env()->Delete(n.lock.c_str());  // a lock file left behind only costs its name
}

// True with the copies' sizes when a whole, valid record is there.
bool ReadRecord(const Names& n, uint32_t* indexSize, uint32_t* dataSize) {
  std::unique_ptr<plat::File> f;
  if (Env()->Open(n.record.c_str(), plat::Access::Read, plat::Share::Read,
                  plat::Disposition::OpenExisting, plat::ATTR_NORMAL, &f) != 0) {
    return false;
  }
  uint8_t r[kRecordBytes + 1];
  uint32_t got = 0;
  if (f->Read(r, sizeof r, &got) != 0 || got != kRecordBytes) return false;
  if (std::memcmp(r, "DKCM", 4) != 0 || GetU32(r + kRecVersion) != kRecordVersion ||
      GetU32(r + kRecChecksum) != Fnv1a(r, kRecChecksum)) {
    return false;
  }
  *indexSize = GetU32(r + kRecIndexSize);
  *dataSize = GetU32(r + kRecDataSize);
  return true;
}

int WriteRecord(const Names& n, uint32_t indexSize, uint32_t dataSize) {
  uint8_t r[kRecordBytes];
  std::memcpy(r, "DKCM", 4);
  PutU32(r + kRecVersion, kRecordVersion);
  PutU32(r + kRecIndexSize, indexSize);
  PutU32(r + kRecDataSize, dataSize);
  PutU32(r + kRecChecksum, Fnv1a(r, kRecChecksum));
  std::unique_ptr<plat::File> f;
  int rc = Env()->Open(n.record.c_str(), plat::Access::ReadWrite, plat::Share::None,
                       plat::Disposition::CreateAlways, plat::ATTR_NORMAL, &f);
  uint32_t put = 0;
  if (rc == 0) rc = f->Write(r, kRecordBytes, &put);
  if (rc == 0 && put != kRecordBytes) rc = ERR_SYSTEM;
  if (rc == 0) rc = f->Flush();
  f.reset();
  if (rc == 0) rc = SyncFolderOf(n.record);
  return rc;
}

// Renames the copies that are still there over the store's files (each
// checked against the size the record holds), then deletes the record. Each
// step is made durable before the next. *renamed counts the renames made.
int Install(const Names& n, uint32_t indexSize, uint32_t dataSize, int* renamed) {
  const struct {
    const std::string& from;
    const std::string& to;
    uint32_t size;
  } moves[] = {{n.workIndex, n.index, indexSize}, {n.workData, n.data, dataSize}};
  for (const auto& m : moves) {
    if (Env()->Exists(m.from.c_str())) {
      uint32_t size = 0;
      if (int rc = FileSize(m.from, &size)) return rc;
      if (size != m.size) return ERR_NOT_STORE;  // not the copy the record speaks of
      if (int rc = Env()->Rename(m.from.c_str(), m.to.c_str())) return rc;
      ++*renamed;
    }
    if (int rc = SyncFolderOf(m.to)) return rc;
  }
  if (int rc = RemoveIfThere(n.record)) return rc;
  return SyncFolderOf(n.record);
}

// With the lock held: finishes a change that has its record, else clears
// what an unfinished one left.
int Recover(const Names& n) {
  uint32_t indexSize = 0, dataSize = 0;
  if (ReadRecord(n, &indexSize, &dataSize)) {
    int renamed = 0;
    return Install(n, indexSize, dataSize, &renamed);
  }
  for (const std::string* s : {&n.workIndex, &n.workData, &n.workCompact, &n.record}) {
    if (int rc = RemoveIfThere(*s)) return rc;
  }
  return 0;
}

// Opens a store file that is there for writing, without sharing, and closes
// it again: a read-only file or one that another program holds fails here,
// as it would if the store were opened for update itself.
int ProbeWritable(const std::string& path) {
  if (!Env()->Exists(path.c_str())) return 0;
  std::unique_ptr<plat::File> f;
  return Env()->Open(path.c_str(), plat::Access::ReadWrite, plat::Share::None,
                     plat::Disposition::OpenExisting, plat::ATTR_NORMAL, &f);
}

}  // namespace

StoreChange::StoreChange() = default;

StoreChange::~StoreChange() {
  Discard();
  Unlock();
}

void StoreChange::Unlock() {
  if (names_) DropLock(*names_, &lock_);
}

// Takes back a change that was not decided: the record goes first, and only
// once it is gone may the copies go (a record left with one copy deleted
// would later install the other alone).
void StoreChange::Discard() {
  if (!names_ || working_.empty() || keepCopies_) return;
  working_.clear();
  if (RemoveIfThere(names_->record) != 0) return;
  for (const std::string* s : {&names_->workIndex, &names_->workData, &names_->workCompact})
    RemoveIfThere(*s);
}

int StoreChange::Begin(const char* path, Start start) {
  if (names_) return ERR_NOT_STORE;  // one change per object
  auto n = std::make_unique<Names>();
  if (int rc = FormNames(path, n.get())) return rc;
  if (int rc = TakeLock(*n, &lock_)) return rc;
  names_ = std::move(n);
  if (int rc = Recover(*names_)) return rc;  // what it could not finish stays for the next try
  if (int rc = ProbeWritable(names_->index)) return rc;
  if (int rc = ProbeWritable(names_->data)) return rc;
  working_ = names_->working;
  if (start == Start::Copy && StoreExists(path)) {
    if (int rc = Env()->Copy(names_->index.c_str(), names_->workIndex.c_str())) return rc;
    if (int rc = Env()->Copy(names_->data.c_str(), names_->workData.c_str())) return rc;
  }
  return 0;
}

int StoreChange::Commit() {
  if (!names_ || working_.empty() || keepCopies_) return ERR_NOT_STORE;
  const Names& n = *names_;
  uint32_t indexSize = 0, dataSize = 0;
  if (int rc = FlushFile(n.workIndex, &indexSize)) return rc;
  if (int rc = FlushFile(n.workData, &dataSize)) return rc;
  // The copies' names are on the disk before the record that refers to them.
  if (int rc = SyncFolderOf(n.workIndex)) return rc;
  if (int rc = WriteRecord(n, indexSize, dataSize))
    return rc;  // Discard removes it with the copies

  int renamed = 0;
  int rc = Install(n, indexSize, dataSize, &renamed);
  if (rc != 0 && renamed == 0 && RemoveIfThere(n.record) == 0)
    return rc;  // nothing changed: taken back
  if (rc != 0 && renamed != 0) rc = Install(n, indexSize, dataSize, &renamed);
  keepCopies_ = true;  // installed, or left whole for the next change to finish
  Unlock();
  return rc;
}

int StoreRecover(const char* path) {
  Names n;
  if (int rc = FormNames(path, &n)) return rc;
  std::unique_ptr<plat::File> lock;
  if (int rc = TakeLock(n, &lock)) return rc;
  int rc = Recover(n);
  DropLock(n, &lock);
  return rc;
}
