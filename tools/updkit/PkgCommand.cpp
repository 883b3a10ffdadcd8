// updkit pkg: builds "PQ" update packages from a folder, lists them and
// extracts them the way the updater installs them.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Pack.h"
#include "ourlib/src/PathText.h"
#include "platform/Env.h"
#include "platform/NativePath.h"
#include "tools/updkit/Command.h"
#include "tools/updkit/DistTree.h"
#include "tools/updkit/PackageBuild.h"
#include "tools/updkit/Progress.h"
#include "update/FileReplacement.h"
#include "update/FolderPath.h"
#include "update/PackageFormat.h"
#include "update/PackageInstall.h"

namespace {

bool ParseStamp(const char* text, pkg::SystemTime* out) {
  unsigned y, mo, d, h, mi, s;
  char tail;
  if (std::sscanf(text, "%4u-%2u-%2uT%2u:%2u:%2u%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6)
    return false;
  pkg::SystemTime t;
  t.year = static_cast<uint16_t>(y);
  t.month = static_cast<uint16_t>(mo);
  t.day = static_cast<uint16_t>(d);
  t.hour = static_cast<uint16_t>(h);
  t.minute = static_cast<uint16_t>(mi);
  t.second = static_cast<uint16_t>(s);
  uint64_t ft = 0;
  if (!pkg::SystemTimeToFileTime(t, &ft)) return false;
  *out = pkg::FileTimeToSystemTime(ft);  // fills in the day of the week
  return true;
}

// A relative path with backslashes, as the package keeps folders. ('/' is
// never the second byte of a double-byte character.)
std::string PackagePath(std::string relative) {
  std::replace(relative.begin(), relative.end(), '/', '\\');
  return relative;
}

struct Listing {
  std::vector<std::pair<std::string, std::string>> files;  // package path, path
  std::vector<std::string> emptyFolders;                   // package paths
  uint64_t bytes = 0;                                      // of all the files
};

// Lists the folder rel below root, and every folder below it, through the
// Env: the names are those of the ANSI code page, which the package keeps.
// "" or the folder that cannot be listed.
std::string ListTree(const std::string& root, const std::string& rel, Listing* out) {
  const std::string path = dist::Join(root, rel);
  std::vector<plat::FolderEntry> entries;
  if (plat::Env::Default()->ListFolder(path.c_str(), &entries) != 0) return path;
  if (!rel.empty() && entries.empty()) out->emptyFolders.push_back(rel);
  for (const plat::FolderEntry& e : entries) {
    const std::string child = rel.empty() ? e.name : rel + "\\" + e.name;
    if (e.folder) {
      std::string failed = ListTree(root, child, out);
      if (!failed.empty()) return failed;
    } else {
      out->files.emplace_back(child, dist::Join(root, child));
      out->bytes += e.size;
    }
  }
  return "";
}

// Creates the folder and those it lies in, as far as they are missing.
void MakeFolders(const std::string& folder) {
  char path[kPathField];
  CopyBounded(path, sizeof path, PackagePath(folder).c_str());
  if (EnsureTrailingSeparator(path, sizeof path)) CreateFolderPath(path);
}

// The size of the file at path, or 0 when it cannot be read.
uint64_t FileSize(const char* path) {
  std::unique_ptr<plat::File> file;
  uint64_t size = 0;
  if (plat::Env::Default()->Open(path, plat::Access::Read, plat::Share::Read,
                                 plat::Disposition::OpenExisting, plat::ATTR_NORMAL, &file) != 0 ||
      file->Size(&size) != 0) {
    return 0;
  }
  return size;
}

struct BuildOptions {
  std::string out;
  std::string from;
  bool lz = false;
  uint8_t chunkKiB = pkgbuild::kDefaultChunkKiB;
  bool haveTime = false;
  pkg::SystemTime time;
  std::map<std::string, pkg::SystemTime> timeOf;  // by package path
  std::vector<std::string> winsystem;             // package paths
  std::vector<std::string> empty;                 // folders
};

int AddFile(const BuildOptions& o, pkg::Writer& writer, const std::string& path,
            const std::string& rel, Progress& progress) {
  plat::Env& env = *plat::Env::Default();
  std::unique_ptr<plat::File> file;
  if (env.Open(path.c_str(), plat::Access::Read, plat::Share::Read, plat::Disposition::OpenExisting,
               plat::ATTR_NORMAL, &file) != 0) {
    return UpdkitFail("cannot open %s", plat::ShownPath(path.c_str()).c_str());
  }
  pkg::Entry entry;
  const bool system = std::find(o.winsystem.begin(), o.winsystem.end(), rel) != o.winsystem.end();
  std::string at = rel;
  if (system) at = std::string(pkg::kSystemFolderName) + "\\" + rel.substr(rel.rfind('\\') + 1);
  if (!pkgbuild::FileEntry(at, o.chunkKiB, &entry)) {
    return UpdkitFail("%s: name or folder longer than %u characters", rel.c_str(),
                      pkg::kTextField - 1);
  }
  auto stamp = o.timeOf.find(rel);
  if (stamp != o.timeOf.end()) {
    entry.time = stamp->second;
  } else if (o.haveTime) {
    entry.time = o.time;
  } else {
    plat::FileTimes times;
    if (file->GetTimes(&times) != 0)
      return UpdkitFail("cannot read the times of %s", plat::ShownPath(path.c_str()).c_str());
    entry.time = pkg::FileTimeToSystemTime(times.lastWrite);
  }

  const pkgbuild::ChunkDone done = [&](uint32_t n) { progress.Add(n); };
  const int rc = o.lz ? pkgbuild::WritePacked(writer, *file, entry, done)
                      : pkgbuild::WriteFile(writer, *file, entry, done);
  switch (rc) {
    case 0:
      return 0;
    case pkgbuild::kPackerFault:
      return UpdkitFail("%s: LZ packing does not give the bytes back", rel.c_str());
    case pkgbuild::kWriteFailed:
      return UpdkitFail("cannot write %s", o.out.c_str());
    case pkgbuild::kNoMemory:
      return UpdkitFail("out of memory");
    default:
      return UpdkitFail("cannot read %s", plat::ShownPath(path.c_str()).c_str());
  }
}

int AddEmpty(pkg::Writer& writer, const std::string& folder) {
  pkg::Entry entry;
  if (!pkgbuild::EmptyEntry(folder, &entry)) {
    return UpdkitFail("%s: folder longer than %u characters", folder.c_str(), pkg::kTextField - 1);
  }
  writer.AddEntry(entry);
  return 0;
}

int Build(const Args& args) {
  BuildOptions o;
  o.out = args.word(0);
  o.from = args.Value("--from");
  o.lz = args.Has("--lz");
  o.chunkKiB = static_cast<uint8_t>(args.Number("--chunk-kib", pkgbuild::kDefaultChunkKiB));
  for (const char* stamp : args.Values("--time")) {
    if (!ParseStamp(stamp, &o.time))
      return args.Usage("bad time '%s' (YYYY-MM-DDTHH:MM:SS)", stamp);
    o.haveTime = true;
  }
  for (const char* given : args.Values("--time-of")) {
    const std::string v = given;
    const size_t eq = v.find('=');
    pkg::SystemTime t;
    if (eq == std::string::npos || !ParseStamp(v.c_str() + eq + 1, &t)) {
      return args.Usage("bad --time-of '%s' (REL=YYYY-MM-DDTHH:MM:SS)", v.c_str());
    }
    o.timeOf[PackagePath(v.substr(0, eq))] = t;
  }
  for (const char* rel : args.Values("--winsystem")) o.winsystem.push_back(PackagePath(rel));
  for (const char* folder : args.Values("--empty")) o.empty.push_back(PackagePath(folder));

  if (!plat::Env::Default()->IsFolder(o.from.c_str()))
    return UpdkitFail("%s is not a folder", o.from.c_str());
  Listing listing;
  const std::string unlisted = ListTree(o.from, "", &listing);
  if (!unlisted.empty())
    return UpdkitFail("cannot list %s", plat::ShownPath(unlisted.c_str()).c_str());
  std::vector<std::pair<std::string, std::string>>& files = listing.files;
  std::vector<std::string>& emptyFolders = listing.emptyFolders;
  std::sort(files.begin(), files.end());
  std::sort(emptyFolders.begin(), emptyFolders.end());
  // Every byte is read once (and once more when packing did not pay, which
  // the line does not count).
  Progress progress("pkg build", Progress::kBytes, listing.bytes);

  // Written beside OUT and renamed over it once whole: a failed build
  // leaves an earlier package as it was.
  FileReplacement out(*plat::Env::Default());
  if (!out.Begin(o.out.c_str(), plat::ATTR_NORMAL))
    return UpdkitFail("cannot create %s", o.out.c_str());
  pkg::Writer writer(out.file());
  if (writer.Begin() != 0) return UpdkitFail("cannot write %s", o.out.c_str());
  for (const auto& f : files) {
    if (int rc = AddFile(o, writer, f.second, f.first, progress)) return rc;
  }
  for (const std::string& folder : emptyFolders) {
    if (int rc = AddEmpty(writer, folder)) return rc;
  }
  for (const std::string& folder : o.empty) {
    if (int rc = AddEmpty(writer, folder)) return rc;
  }
  if (writer.Finish() != 0 || out.Commit() != 0)
    return UpdkitFail("cannot write %s", o.out.c_str());
  return 0;
}

// Opens a package and reads its directory; says why not (unless quiet) and
// returns false.
bool OpenPackage(const char* path, std::unique_ptr<plat::File>* file,
                 std::vector<pkg::Entry>* entries, bool quiet = false) {
  uint64_t size = 0;
  uint8_t magic[2] = {0, 0};
  uint32_t got = 0;
  if (plat::Env::Default()->Open(path, plat::Access::Read, plat::Share::Read,
                                 plat::Disposition::OpenExisting, plat::ATTR_NORMAL, file) != 0 ||
      (*file)->Size(&size) != 0 || (*file)->Read(magic, 2, &got) != 0) {
    if (!quiet) UpdkitFail("cannot read %s", path);
    return false;
  }
  if (got != 2 || magic[0] != 'P' || magic[1] != 'Q') {
    if (!quiet) UpdkitFail("%s is not a package (no \"PQ\")", path);
    return false;
  }
  if (pkg::ReadDirectory(**file, size, entries) != 0) {
    if (!quiet) {
      UpdkitFail("%s: damaged package (trailer, directory or chunk sizes out of bounds)", path);
    }
    return false;
  }
  return true;
}

int List(const char* package) {
  std::unique_ptr<plat::File> file;
  std::vector<pkg::Entry> entries;
  if (!OpenPackage(package, &file, &entries)) return 1;
  std::printf("NAME\tFOLDER\tMETHOD\tCHUNK_KIB\tCHUNKS\tSIZE\tSTORED\tTIME\n");
  int status = 0;
  for (const pkg::Entry& e : entries) {
    const bool empty = e.IsEmpty();
    const int64_t size = empty ? 0 : pkg::UnpackedSize(*file, e);
    if (size < 0) status = 1;
    const pkg::SystemTime& t = e.time;
    UpdkitPrint(
        stdout,
        "%s\t%s\t%s\t%u\t%u\t%" PRId64 "\t%" PRIu64 "\t%04u-%02u-%02u %02u:%02u:%02u.%03u\n",
        e.name, e.hasFolder ? e.folder : "-", e.packed ? "lz" : "stored", unsigned{e.chunkKiB},
        static_cast<unsigned>(e.chunkSizes.size()), size, empty ? uint64_t{0} : e.StoredSize(),
        unsigned{t.year}, unsigned{t.month}, unsigned{t.day}, unsigned{t.hour}, unsigned{t.minute},
        unsigned{t.second}, unsigned{t.milliseconds});
  }
  if (status != 0) UpdkitFail("%s: a packed chunk does not unpack within its chunk size", package);
  return status;
}

// What the extract shows: each file as it is installed, under a progress
// line, and the totals (the bytes beyond what a 32-bit counter holds).
class ConsoleSink : public QuietSink {
 public:
  // expected: each file's size in the order the files are installed, as
  // far as it is known before (ExpectedSizes).
  // (::Progress: the sink has a member of that name.)
  ConsoleSink(::Progress& progress, std::vector<uint64_t> expected)
      : progress_(progress), expected_(std::move(expected)) {}
  void FileUpdated(const char* path) override {
    QuietSink::FileUpdated(path);
    // The file's real size takes the place of its estimate in the whole.
    if (next_ < expected_.size())
      progress_.SetTotal(progress_.total() - expected_[next_++] + fileBytes_);
    fileBytes_ = 0;
    progress_.WriteLine(stdout, plat::ShownPath(path).c_str());
  }
  void BytesUpdated(uint32_t count) override {
    bytes_ += count;
    fileBytes_ += count;
    progress_.Add(count);
  }
  uint64_t bytes() const { return bytes_; }

 private:
  ::Progress& progress_;
  std::vector<uint64_t> expected_;
  size_t next_ = 0;
  uint64_t fileBytes_ = 0;
  uint64_t bytes_ = 0;
};

// The size of each file a package installs, in the order it installs them:
// a stored entry's size, and for a packed one what its chunks unpack to at
// most (each a full chunk), which the file's real size later replaces.
std::vector<uint64_t> ExpectedSizes(const std::vector<pkg::Entry>& entries) {
  std::vector<uint64_t> sizes;
  for (const pkg::Entry& e : entries) {
    if (e.IsEmpty()) continue;
    sizes.push_back(e.packed ? uint64_t{e.ChunkCapacity()} * e.chunkSizes.size() : e.StoredSize());
  }
  return sizes;
}

int Extract(const Args& a) {
  std::string system = a.Has("--system-folder") ? a.Value("--system-folder") : "";
  const std::vector<const char*>& args = a.words();
  std::string dest = args[1];
  MakeFolders(dest);  // the updater's destination exists too
  // A file that is not a package is copied whole, as the updater does; a
  // damaged one fails in the installer, which says why.
  std::unique_ptr<plat::File> file;
  std::vector<pkg::Entry> entries;
  const bool package = OpenPackage(args[0], &file, &entries, /*quiet=*/true);
  file.reset();
  if (system.empty()) {
    // The installer never creates the system folder; the stand-in is made
    // only when some entry goes there.
    system = dist::Join(dest, "WINSYSTEM");
    if (std::any_of(entries.begin(), entries.end(),
                    [](const pkg::Entry& e) { return e.InSystemFolder(); })) {
      MakeFolders(system);
    }
  }
  std::vector<uint64_t> expected = ExpectedSizes(entries);
  if (!package) expected.assign(1, FileSize(args[0]));
  uint64_t total = 0;
  for (uint64_t size : expected) total += size;
  Progress progress("pkg extract", Progress::kBytes, total);
  PathParts source;
  SplitPath(args[0], &source);
  const std::string plainName = std::string(source.fname) + source.ext;
  ConsoleSink sink(progress, std::move(expected));
  char failed[kPathField];
  const int code = InstallFileAt(sink, args[0], plainName.c_str(), dest.c_str(), system.c_str(),
                                 failed, sizeof failed);
  if (code != 0) {
    return UpdkitFail("%s: %s (code %d)", plat::ShownPath(failed).c_str(), InstallCodeText(code),
                      code);
  }
  progress.Done();
  std::printf("%d files, %" PRIu64 " bytes\n", sink.Counters().files, sink.bytes());
  return 0;
}

const Command kPkgCommand{
    "pkg",
    "build, list and extract \"PQ\" update packages",
    {
        {"build",
         {"OUT"},
         {
             Required(Valued("--from", "DIR")),
             Switch("--lz",
                    "pack chunks with PACK_LZ. The packed flag is per\n"
                    "entry: an entry is stored packed only when every\n"
                    "chunk packs within twice the chunk size (the\n"
                    "installer's input buffer) and the packed chunks\n"
                    "together are smaller than the file; otherwise\n"
                    "all its chunks are stored as they are"),
             Number("--chunk-kib", "N", 1, 255, "chunk size in KiB, 1..255 (default 32)"),
             Valued("--time", "STAMP", "give every entry this time (YYYY-MM-DDTHH:MM:SS)"),
             Repeated(Valued("--time-of", "REL=STAMP",
                             "give the file REL (relative to DIR, '/' or\n"
                             "'\\' separated) this time")),
             Repeated(Valued("--winsystem", "REL",
                             "install the file REL into the system folder\n"
                             "(folder \"*WINSYSTEM\")")),
             Repeated(Valued("--empty", "FOLDER", "add an \"*EMPTY\" entry that creates FOLDER")),
         },
         "Every file below DIR becomes an entry whose folder is its folder\n"
         "relative to DIR and whose time is its modification time (UTC clock\n"
         "fields); every empty folder below DIR becomes an \"*EMPTY\" entry.\n",
         Build},
        {"list",
         {"PKG"},
         {},
         "One line per entry: name, folder (\"-\" when the entry has none),\n"
         "method, chunk size in KiB, chunk count, unpacked size, stored size\n"
         "and time, separated by tabs, after a header line.\n",
         [](const Args& a) { return List(a.word(0)); }},
        {"extract",
         {"PKG", "DIR"},
         {Valued("--system-folder", "SYS")},
         "Installs PKG into DIR exactly as the updater does (entry folders,\n"
         "\"*EMPTY\" folders, file times moved back 4 hours from 04:00 on).\n"
         "\"*WINSYSTEM\" entries go to SYS, by default DIR/WINSYSTEM, never to\n"
         "the real system folder.\n",
         Extract},
    },
};

}  // namespace

UPDKIT_COMMAND(pkg, kPkgCommand);
