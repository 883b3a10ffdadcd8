// `updkit dist make OLD NEW OUT`: compares two installed game folders and
// writes the update that takes the first to the second: the changed and new
// files in packages or as plain files, the changed and new records in
// shipped stores, the script patch.txt that applies them to an installation
// at exactly the old version and sets the new one, and Report.txt.
//
// OUT is written whole or not at all: everything goes into the folder
// OUT.part beside it (each file written beside its name, flushed and
// renamed), which is renamed to OUT only at the end.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ourlib/src/SectionNames.h"
#include "platform/Env.h"
#include "platform/NativePath.h"
#include "tools/updkit/Command.h"
#include "tools/updkit/Dist.h"
#include "tools/updkit/DistScript.h"
#include "tools/updkit/DistStore.h"
#include "tools/updkit/DistTree.h"
#include "tools/updkit/PackageBuild.h"
#include "tools/updkit/Progress.h"
#include "tools/updkit/WholeFile.h"
#include "update/FileReplacement.h"
#include "update/PackageFormat.h"

namespace dist {

namespace {

// A file this large ships as it is (operation 0): no time spent packing it,
// no package holding it.
constexpr uint64_t kPlainFrom = uint64_t{64} << 20;
// At most this many packed bytes are held between a file's trial and its
// package; a file past it is packed again when its package is written.
constexpr uint64_t kKeepPacked = uint64_t{64} << 20;
// The installer sets an entry's time 4 hours back from 04:00 on, never
// across midnight: a time from 20:00 on cannot be given to an entry.
constexpr uint16_t kInstallHourShift = 4;
constexpr uint16_t kLastShiftableHour = 19;
// The completion dialog shows Report.txt in an edit control; it is kept
// within what such a control takes on every Windows.
constexpr size_t kMostReport = 30000;
constexpr char kScriptName[] = "patch.txt";
constexpr char kReportName[] = "Report.txt";
constexpr char kPartSuffix[] = ".part";
// Names in the updater's folder that the distribution keeps for itself:
// the script, the report, the update log, the updater.
const char* const kReserved[] = {"PATCH.TXT", "REPORT.TXT", "UPDLOG.TXT", "UPDATER.EXE", "UPDATER"};

// Where files go: the folder keywords of the script, each with the folder
// below the game's folder that stands for it in OLD and NEW.
struct Place {
  const char* keyword;
  const char* option;  // the command line's name for its folder; null for the game's folder
  const char* folder;  // its default
  const char* package;
  const char* what;
};
constexpr Place kPlaces[] = {
    {"__MAIN", nullptr, "", "MAIN.PQ", "the game's folder (MainPath)"},
    {"__DATA", "--data", "Data", "DATA.PQ", "the data folder (DataPath)"},
    {"__SOUND", "--sound", "Sound", "SOUND.PQ", "the sound folder (SoundPath)"},
    {"__VIDEO", "--video", "Video", "VIDEO.PQ", "the video folder (VideoPath)"},
    {"__MUSIC", "--music", "Music", "MUSIC.PQ", "the music folder (MusicPath)"},
};
constexpr int kPlaceCount = sizeof kPlaces / sizeof kPlaces[0];

// A new or changed file of NEW.
struct FileJob {
  std::string rel;     // below NEW
  std::string within;  // below its place's folder
  uint64_t size = 0;
  plat::FileTimes times;
  pkg::SystemTime entryTime;  // what the installer turns into times.lastWrite
  bool timeFits = false;      // whether it can
  bool tried = false;
  pkgbuild::LzTrial trial;
  bool plain = false;
};

struct StoreJob {
  std::string rel, oldRel, within;
  std::string folder;   // below its place's folder, where the store is
  std::string srcName;  // its name in OUT and in the script, maybe below a folder
  StoreDiff diff;
};

struct Group {
  std::vector<FileJob> files;
  std::vector<std::string> emptyFolders;  // below the place's folder
  std::vector<StoreJob> stores;

  size_t Packaged() const {
    return std::count_if(files.begin(), files.end(), [](const FileJob& f) { return !f.plain; });
  }
  bool HasPackage() const { return Packaged() > 0 || !emptyFolders.empty(); }
};

struct Make {
  std::string oldRoot, newRoot, out, part;
  Version from, to;
  int type = 0;
  std::string roots[kPlaceCount];  // folded, backslashes
  Group groups[kPlaceCount];
  std::vector<TreeChange> changes;
  std::vector<std::string> warnings;  // also in the report
  std::set<std::string> taken;        // folded file paths in OUT
  std::set<std::string> folders;      // folded folder paths in OUT
  // Packed bytes that trials may still keep for the packages (so that a
  // file is packed once), and the progress line, moved by the bytes read.
  uint64_t keepLeft = kKeepPacked;
  Progress* progress = nullptr;
};

std::string Parent(const std::string& path) {
  const size_t cut = path.find_last_of("\\/");
  if (cut == std::string::npos) return ".";
  return cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

std::string Slashed(std::string text) {
  std::replace(text.begin(), text.end(), '/', '\\');
  while (!text.empty() && text.back() == '\\') text.pop_back();
  while (!text.empty() && text.front() == '\\') text.erase(0, 1);
  return text;
}

// The place that holds rel (the deepest folder of the keywords that is a
// prefix of it), and rel below that folder.
int PlaceOf(const Make& m, const std::string& rel, std::string* within) {
  const std::string folded = Folded(rel);
  int best = 0;
  size_t bestLength = 0;
  *within = rel;
  for (int p = 1; p < kPlaceCount; ++p) {
    const std::string& root = m.roots[p];
    if (root.size() <= bestLength || folded.compare(0, root.size(), root) != 0) continue;
    if (folded.size() == root.size() || folded[root.size()] == '\\') {
      best = p;
      bestLength = root.size();
      *within = folded.size() == root.size() ? "" : rel.substr(root.size() + 1);
    }
  }
  return best;
}

std::string FolderOf(const std::string& rel) {
  const size_t cut = rel.rfind('\\');
  return cut == std::string::npos ? "" : rel.substr(0, cut);
}

std::string NameOf(const std::string& rel) { return rel.substr(rel.rfind('\\') + 1); }

// Whether OUT has room for a file at path (folded), and its folders.
bool Free(const Make& m, const std::string& path) {
  if (m.taken.count(path) != 0 || m.folders.count(path) != 0) return false;
  for (size_t cut = path.find('\\'); cut != std::string::npos; cut = path.find('\\', cut + 1)) {
    if (m.taken.count(path.substr(0, cut)) != 0) return false;
  }
  return true;
}

void Take(Make& m, const std::string& path) {
  m.taken.insert(path);
  for (size_t cut = path.find('\\'); cut != std::string::npos; cut = path.find('\\', cut + 1))
    m.folders.insert(path.substr(0, cut));
}

// A shipped store takes the shortest end of its path below its place's
// folder that OUT has room for: its name, else its folder and name, ...
// (the script names it below the updater's folder and below the dstpath
// alike, so the two must end the same).
bool NameStore(Make& m, StoreJob& s) {
  const std::string base = s.within.substr(0, s.within.size() - 4);  // without ".DKX"
  for (size_t cut = base.size();;) {
    cut = cut == 0 ? std::string::npos : base.rfind('\\', cut - 1);
    const size_t start = cut == std::string::npos ? 0 : cut + 1;
    const std::string name = base.substr(start);
    const std::string index = Folded(name) + ".DKX", data = Folded(name) + ".DKD";
    if (Free(m, index) && Free(m, data)) {
      Take(m, index);
      Take(m, data);
      s.srcName = name + ".DKX";
      s.folder = start == 0 ? "" : base.substr(0, start - 1);
      return true;
    }
    if (start == 0) return false;
  }
}

std::string OpenFailText(const std::string& path) { return "cannot read " + path; }

// Reads a file's times and works out its entry time.
std::string ReadTimes(const std::string& path, FileJob& f) {
  std::unique_ptr<plat::File> file;
  if (plat::Env::Default()->Open(path.c_str(), plat::Access::Read, plat::Share::Read,
                                 plat::Disposition::OpenExisting, plat::ATTR_NORMAL, &file) != 0 ||
      file->GetTimes(&f.times) != 0) {
    return OpenFailText(path);
  }
  // Stored 4 hours later than the file's time, the entry is installed at it.
  f.entryTime = pkg::FileTimeToSystemTime(f.times.lastWrite);
  f.timeFits = f.entryTime.hour <= kLastShiftableHour;
  if (f.timeFits && f.entryTime.hour >= kInstallHourShift) f.entryTime.hour += kInstallHourShift;
  return "";
}

std::string TryPacking(Make& m, const std::string& path, FileJob& f) {
  std::unique_ptr<plat::File> file;
  if (plat::Env::Default()->Open(path.c_str(), plat::Access::Read, plat::Share::Read,
                                 plat::Disposition::OpenExisting, plat::ATTR_NORMAL, &file) != 0) {
    return OpenFailText(path);
  }
  const int rc = pkgbuild::TryLz(
      *file, uint32_t{pkgbuild::kDefaultChunkKiB} * 1024, &f.trial,
      [&](uint32_t n) { m.progress->Add(n); }, m.keepLeft);
  if (rc == pkgbuild::kPackerFault) return path + ": LZ packing does not give the bytes back";
  if (rc != 0) return OpenFailText(path);
  m.keepLeft -= f.trial.kept.size();
  f.tried = true;
  return "";
}

// Gives back what a file that ships as it is kept of its trial.
void Release(Make& m, FileJob& f) {
  m.keepLeft += f.trial.kept.size();
  f.trial.DropKept();
}

// What the file costs in a package: its chunks and its directory slot.
uint64_t EntryCost(const FileJob& f) {
  const uint64_t capacity = uint64_t{pkgbuild::kDefaultChunkKiB} * 1024;
  const uint64_t chunks = (f.size + capacity - 1) / capacity;
  return (f.trial.Pays() ? f.trial.packed : f.trial.raw) + 4 + pkg::kEntryChunkSizes + 4 * chunks;
}

// Decides how each file of each place ships. A file ships as it is when it
// is large, when a package cannot give it its time, or when that is
// smaller than its share of a package; so does the one file a package
// would otherwise hold alone. A file whose name OUT has no room for goes
// into its place's package whatever it is.
std::string PlanFiles(Make& m) {
  for (Group& g : m.groups) {
    for (FileJob& f : g.files) {
      const std::string path = Join(m.newRoot, f.rel);
      std::string wrong = ReadTimes(path, f);
      if (wrong.empty() && f.size < kPlainFrom && f.timeFits) wrong = TryPacking(m, path, f);
      if (!wrong.empty()) return wrong;
      f.plain = !f.tried || f.size <= EntryCost(f);
      if (f.plain) Release(m, f);
    }
    if (g.Packaged() == 1 && g.emptyFolders.empty()) {
      for (FileJob& f : g.files) {
        f.plain = true;
        Release(m, f);
      }
    }
    for (FileJob& f : g.files) {
      if (!f.plain) continue;
      const std::string name = Folded(NameOf(f.within));
      if (Free(m, name)) {
        Take(m, name);
        continue;
      }
      f.plain = false;
      if (!f.tried) {
        std::string wrong = TryPacking(m, Join(m.newRoot, f.rel), f);
        if (!wrong.empty()) return wrong;
      }
    }
  }
  return "";
}

// Sorts the changes into their places and names the shipped stores;
// compares the stores record by record.
std::string Plan(Make& m) {
  for (const char* name : kReserved) Take(m, name);
  for (const Place& p : kPlaces) Take(m, p.package);
  for (const TreeChange& c : m.changes) {
    std::string within;
    Group& g = m.groups[PlaceOf(m, c.rel, &within)];
    switch (c.kind) {
      case TreeChange::kChanged:
      case TreeChange::kNew: {
        FileJob f;
        f.rel = c.rel;
        f.within = within;
        f.size = c.size;
        pkg::Entry probe;
        if (within.empty() || !pkgbuild::FileEntry(within, pkgbuild::kDefaultChunkKiB, &probe))
          return c.rel + ": name or folder longer than a package or the script takes";
        g.files.push_back(f);
        break;
      }
      case TreeChange::kEmptyFolder:
        g.emptyFolders.push_back(within);
        break;
      case TreeChange::kStore: {
        StoreJob s;
        s.rel = c.rel;
        s.oldRel = c.oldRel;
        s.within = within;
        std::string wrong =
            CompareStores(Join(m.oldRoot, c.oldRel), Join(m.newRoot, c.rel), &s.diff);
        if (!wrong.empty()) return wrong;
        for (const RecordRef& r : s.diff.gone) {
          m.warnings.push_back(c.rel + ": " + RecordName(r.section, r.name) +
                               " is not in NEW; an update cannot remove a record");
        }
        for (const RecordRef& r : s.diff.unshippable) {
          m.warnings.push_back(c.rel + ": " + RecordName(r.section, r.name) +
                               (r.section == SECTION_ALL
                                    ? " is new or changed; the updater never copies section 255"
                                    : " is new or changed; the updater cannot copy a record whose "
                                      "name holds a zero byte"));
        }
        if (s.diff.shipped.empty()) break;
        if (!NameStore(m, s)) return c.rel + ": OUT has no name left for this store";
        g.stores.push_back(std::move(s));
        break;
      }
      case TreeChange::kGone:
        m.warnings.push_back(c.rel + (c.folder ? " (a folder)" : "") +
                             " is not in NEW; an update cannot remove it");
        break;
    }
  }
  return "";
}

// --- writing ------------------------------------------------------------------

std::string WritePackage(const Make& m, int place, const std::string& path) {
  const Group& g = m.groups[place];
  FileReplacement out(*plat::Env::Default());
  if (!out.Begin(path.c_str(), plat::ATTR_NORMAL)) return "cannot create " + path;
  pkg::Writer writer(out.file());
  if (writer.Begin() != 0) return "cannot write " + path;
  for (const FileJob& f : g.files) {
    if (f.plain) continue;
    const std::string source = Join(m.newRoot, f.rel);
    pkg::Entry entry;
    pkgbuild::FileEntry(f.within, pkgbuild::kDefaultChunkKiB, &entry);
    entry.time = f.entryTime;
    entry.packed = f.trial.Pays();
    if (entry.packed && !f.trial.kept.empty()) {
      if (pkgbuild::WriteKept(writer, f.trial, entry) != 0) return "cannot write " + path;
      continue;
    }
    std::unique_ptr<plat::File> file;
    if (plat::Env::Default()->Open(source.c_str(), plat::Access::Read, plat::Share::Read,
                                   plat::Disposition::OpenExisting, plat::ATTR_NORMAL,
                                   &file) != 0) {
      return OpenFailText(source);
    }
    switch (pkgbuild::WriteFile(writer, *file, entry, [&](uint32_t n) { m.progress->Add(n); })) {
      case 0:
        break;
      case pkgbuild::kWriteFailed:
        return "cannot write " + path;
      case pkgbuild::kPackerFault:
        return source + ": LZ packing does not give the bytes back";
      default:
        return OpenFailText(source);
    }
  }
  for (const std::string& folder : g.emptyFolders) {
    pkg::Entry entry;
    if (!pkgbuild::EmptyEntry(folder, &entry)) return folder + ": folder name too long";
    writer.AddEntry(entry);
  }
  if (writer.Finish() != 0 || out.Commit() != 0)
    return "cannot write " + path + " (a package holds at most 4 GiB)";
  return "";
}

// A copy of the file with its times, which the updater gives the game's copy.
std::string CopyPlain(const std::string& from, const std::string& to,
                      const plat::FileTimes& times) {
  plat::Env& env = *plat::Env::Default();
  std::unique_ptr<plat::File> file;
  if (env.Copy(from.c_str(), to.c_str()) != 0 ||
      env.Open(to.c_str(), plat::Access::ReadWrite, plat::Share::None,
               plat::Disposition::OpenExisting, plat::ATTR_NORMAL, &file) != 0 ||
      file->SetTimes(times) != 0 || file->Flush() != 0) {
    return "cannot copy " + from + " to " + to;
  }
  return "";
}

std::string DstPath(const Place& p, const std::string& folder) {
  std::string s = std::string("dstpath = ") + p.keyword;
  if (!folder.empty()) s += " + " + ScriptString(folder + "\\");
  return s + ";\n";
}

std::string Count(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Writes what ships into OUT.part and returns the script.
std::string WriteShipment(const Make& m, std::string* script) {
  plat::Env& env = *plat::Env::Default();
  *script = "// Update from " + VersionText(m.from) + " to " + VersionText(m.to) +
            ", made by updkit dist make.\n// Every file it names lies beside it.\n\n" +
            VersionDirectives(m.from, m.to, m.type);
  for (int p = 0; p < kPlaceCount; ++p) {
    const Group& g = m.groups[p];
    const Place& place = kPlaces[p];
    if (g.files.empty() && g.emptyFolders.empty() && g.stores.empty()) continue;
    *script += std::string("\n// Into ") + place.what + ".\n";
    std::string dstpath;
    auto use = [&](const std::string& folder) {
      const std::string line = DstPath(place, folder);
      if (line != dstpath) *script += line;
      dstpath = line;
    };
    if (g.HasPackage()) {
      std::string wrong = WritePackage(m, p, Join(m.part, place.package));
      if (!wrong.empty()) return wrong;
      use("");
      *script += "// " + Count(g.Packaged(), "file", "files") +
                 (g.emptyFolders.empty()
                      ? ""
                      : " and " + Count(g.emptyFolders.size(), "new folder", "new folders")) +
                 ", each into its folder\n";
      *script += std::string("file = ") + ScriptString(place.package) + ", 2\n";
    }
    for (const FileJob& f : g.files) {
      if (!f.plain) continue;
      const std::string name = NameOf(f.within);
      std::string wrong = CopyPlain(Join(m.newRoot, f.rel), Join(m.part, name), f.times);
      if (!wrong.empty()) return wrong;
      m.progress->Add(f.size);
      use(FolderOf(f.within));
      *script += "file = " + ScriptString(name) + ", 0\n";
    }
    for (const StoreJob& s : g.stores) {
      const std::string sub = FolderOf(s.srcName);
      for (size_t cut = 0; cut != std::string::npos && !sub.empty();) {
        cut = sub.find('\\', cut + 1);
        const std::string folder = Join(m.part, sub.substr(0, cut));
        if (!env.IsFolder(folder.c_str()) && env.CreateFolder(folder.c_str()) != 0)
          return "cannot create " + folder;
      }
      std::string wrong =
          WriteShippedStore(Join(m.newRoot, s.rel), s.diff, Join(m.part, s.srcName));
      if (!wrong.empty()) return wrong;
      if (!sub.empty() && env.SyncFolder(Join(m.part, sub).c_str()) != 0)
        return "cannot write " + Join(m.part, sub);
      use(s.folder);
      const size_t added = std::count_if(s.diff.shipped.begin(), s.diff.shipped.end(),
                                         [](const RecordRef& r) { return r.added; });
      *script += "// " + Count(s.diff.shipped.size() - added, "record", "records") + " changed, " +
                 std::to_string(added) + " new\n";
      *script += "file = " + ScriptString(s.srcName) + ", 1\n";
    }
  }
  return "";
}

// The report: the new version, what changes, and what the update cannot do.
std::string Report(const Make& m) {
  std::vector<std::string> lines = {"Update to version " + VersionText(m.to) + " (for version " +
                                    VersionText(m.from) + ")"};
  auto list = [&](const std::string& title, const std::vector<std::string>& items) {
    if (items.empty()) return;
    lines.push_back("");
    lines.push_back(title);
    for (const std::string& item : items) lines.push_back("  " + item);
  };
  std::vector<std::string> changed, added, folders, records[2];
  for (const TreeChange& c : m.changes) {
    if (c.kind == TreeChange::kChanged) changed.push_back(c.rel);
    if (c.kind == TreeChange::kNew) added.push_back(c.rel);
    if (c.kind == TreeChange::kEmptyFolder) folders.push_back(c.rel);
  }
  for (const Group& g : m.groups) {
    for (const StoreJob& s : g.stores) {
      for (const RecordRef& r : s.diff.shipped)
        records[r.added].push_back(s.rel + ": " + RecordName(r.section, r.name));
    }
  }
  list("Changed files:", changed);
  list("New files:", added);
  list("New folders:", folders);
  list("Changed records:", records[0]);
  list("New records:", records[1]);
  list("Not done (the update cannot do it):", m.warnings);
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string more = "(and " + std::to_string(lines.size() - i) + " more lines)\r\n";
    if (text.size() + lines[i].size() + 2 + more.size() > kMostReport) {
      text += more;
      break;
    }
    text += lines[i] + "\r\n";
  }
  return text;
}

// Removes a folder this command made, with what is in it (part is named in
// the code page; the removal takes the system's name).
void RemovePart(const std::string& part) {
  std::error_code ec;
  std::filesystem::remove_all(plat::NativePath(part.c_str()), ec);
}

}  // namespace

}  // namespace dist

int DistMake(const Args& a) {
  using namespace dist;
  Make m;
  m.oldRoot = a.word(0);
  m.newRoot = a.word(1);
  m.out = a.word(2);
  while (m.out.size() > 1 && (m.out.back() == '/' || m.out.back() == '\\')) m.out.pop_back();
  m.part = m.out + kPartSuffix;
  if (!ParseVersion(a.Value("--from"), &m.from))
    return a.Usage("bad --from '%s' (V.BBB.PPP)", a.Value("--from"));
  if (!ParseVersion(a.Value("--to"), &m.to))
    return a.Usage("bad --to '%s' (V.BBB.PPP)", a.Value("--to"));
  std::string why;
  m.type = UpdateType(m.from, m.to, static_cast<int>(a.Number("--type", -1)), &why);
  if (m.type < 0) return UpdkitFail("dist make: %s", why.c_str());
  for (int p = 1; p < kPlaceCount; ++p) {
    const char* given = a.Value(kPlaces[p].option);
    m.roots[p] = Folded(Slashed(given != nullptr ? given : kPlaces[p].folder));
    if (m.roots[p].empty()) return a.Usage("%s names no folder", kPlaces[p].option);
  }
  plat::Env& env = *plat::Env::Default();
  for (const std::string* root : {&m.oldRoot, &m.newRoot}) {
    if (!env.IsFolder(root->c_str()))
      return UpdkitFail("dist make: %s is not a folder", root->c_str());
  }
  if (env.Exists(m.out.c_str()))
    return UpdkitFail("dist make: %s is there already; give a new folder", m.out.c_str());

  std::string wrong = CompareTrees(m.oldRoot, m.newRoot, &m.changes);
  if (wrong.empty()) wrong = Plan(m);
  if (!wrong.empty()) return UpdkitFail("dist make: %s", wrong.c_str());
  for (const std::string& w : m.warnings)
    UpdkitPrint(stderr, "updkit: dist make: warning: %s\n", w.c_str());
  if (a.Has("--strict") && !m.warnings.empty())
    return UpdkitFail("dist make: %s warnings, and --strict: nothing written",
                      std::to_string(m.warnings.size()).c_str());
  // The bytes of the files to try first (all, as far as is known yet), then
  // those read again for a package or copied as they are.
  uint64_t bytes = 0;
  for (const Group& g : m.groups) {
    for (const FileJob& f : g.files) bytes += f.size;
  }
  Progress progress("dist make", Progress::kBytes, 2 * bytes);
  m.progress = &progress;
  wrong = PlanFiles(m);
  if (!wrong.empty()) return UpdkitFail("dist make: %s", wrong.c_str());
  bytes = progress.done();
  for (const Group& g : m.groups) {
    for (const FileJob& f : g.files) {
      if (f.plain || f.trial.kept.empty() || !f.trial.Pays()) bytes += f.size;
    }
  }
  progress.SetTotal(bytes);

  // A folder left by a run that did not finish is this command's own.
  RemovePart(m.part);
  if (env.CreateFolder(m.part.c_str()) != 0)
    return UpdkitFail("dist make: cannot create %s", m.part.c_str());
  std::string script;
  wrong = WriteShipment(m, &script);
  const std::string report = Report(m);
  const char* reportFile = a.Value("--report");
  if (wrong.empty() && reportFile == nullptr &&
      !WriteWholeFile(Join(m.part, kReportName).c_str(), report.data(), report.size())) {
    wrong = "cannot write " + Join(m.part, kReportName);
  }
  if (wrong.empty() &&
      !WriteWholeFile(Join(m.part, kScriptName).c_str(), script.data(), script.size()))
    wrong = "cannot write " + Join(m.part, kScriptName);
  if (wrong.empty() &&
      (env.SyncFolder(m.part.c_str()) != 0 || env.Rename(m.part.c_str(), m.out.c_str()) != 0 ||
       env.SyncFolder(Parent(m.out).c_str()) != 0)) {
    wrong = "cannot put " + m.part + " in place of " + m.out;
  }
  if (!wrong.empty()) {
    RemovePart(m.part);
    return UpdkitFail("dist make: %s", wrong.c_str());
  }
  if (reportFile != nullptr && !WriteWholeFile(reportFile, report.data(), report.size()))
    return UpdkitFail("dist make: cannot write %s", reportFile);

  progress.Done();
  size_t files = 0, packages = 0, stores = 0;
  for (const Group& g : m.groups) {
    files += g.files.size() - g.Packaged();
    packages += g.HasPackage() ? 1 : 0;
    stores += g.stores.size();
  }
  const std::string counts = std::to_string(packages) + " packages, " + std::to_string(files) +
                             " plain files, " + std::to_string(stores) + " stores, " +
                             std::to_string(m.warnings.size()) + " warnings";
  UpdkitPrint(stdout, "%s: update type %d, %s\n", m.out.c_str(), m.type, counts.c_str());
  return 0;
}
