// `updkit store`: makes and inspects record stores (".DKX" index and ".DKD"
// data file) through cMf32, so records are packed, keyed and replaced
// exactly as the game and the updater do it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Mf32int.h"
#include "ourlib/src/Pack.h"
#include "ourlib/src/SectionNames.h"
#include "ourlib/src/StoreEngine.h"
#include "platform/Env.h"
#include "tools/updkit/Command.h"
#include "tools/updkit/DistTree.h"
#include "tools/updkit/Escape.h"
#include "tools/updkit/FontSurface.h"
#include "tools/updkit/Progress.h"
#include "tools/updkit/WholeFile.h"
#include "update/StoreGuarded.h"

namespace {

// A store opened to be written is changed on copies of its files, which
// replace it only when Close succeeds; on any other way out the store stays
// exactly as it was.
using Store = StoreHandle;

// A section number, or a section's display name without its trailing blank.
bool ParseSection(const char* text, uint8_t& section) {
  int64_t v = 0;
  if (ParseNumber(text, 0, 255, &v)) {
    section = static_cast<uint8_t>(v);
    return true;
  }
  for (int i = 0; i < 256; ++i) {
    std::string name = kSectionNames[i];
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name == text) {
      section = static_cast<uint8_t>(i);
      return true;
    }
  }
  return false;
}

bool ParseHex(const char* text, uint8_t* out, size_t size) {
  std::memset(out, 0, size);
  size_t n = std::strlen(text);
  if (n > 2 * size || n % 2 != 0) return false;
  for (size_t i = 0; i < n; i += 2) {
    char pair[3] = {text[i], text[i + 1], 0};
    char* end = nullptr;
    unsigned long v = std::strtoul(pair, &end, 16);
    if (*end != '\0' || pair[0] == '-' || pair[0] == '+' || pair[0] == ' ') return false;
    out[i / 2] = static_cast<uint8_t>(v);
  }
  return true;
}

// The record's bytes to OUT, or to standard output for "-".
bool WriteOut(const char* path, const void* bytes, size_t n) {
  if (std::strcmp(path, "-") == 0) {
    return std::fwrite(bytes, 1, n, stdout) == n && std::fflush(stdout) == 0;
  }
  return WriteWholeFile(path, bytes, n);
}

int OpenFail(const char* path, int code) {
  return UpdkitFail("store: cannot open %s (code %d)", path, code);
}

int CloseStore(Store& store, const char* path) {
  int code = store.Close();
  if (code != 0) return UpdkitFail("store: closing %s failed (code %d)", path, code);
  return 0;
}

// Puts one record; 0 or the code raised.
int PutRecord(Store& store, uint8_t section, const char* name, const std::vector<uint8_t>& bytes,
              const uint8_t* info, int pack, int32_t* stored) {
  if (bytes.size() > static_cast<size_t>(INT32_MAX)) return ERR_REC_ARGUMENT;
  return Guard([&] {
    store->RecPut(section, name, bytes.data(), static_cast<int32_t>(bytes.size()), info, pack,
                  stored);
  });
}

int BadSection(const Args& a, const char* text) {
  return a.Usage("bad section '%s' (a number 0..255 or a section name)", text);
}

int PackMethod(const Args& a) { return static_cast<int>(a.Number("--pack", PACK_NONE)); }

int DoCreate(const Args& a) {
  const char* path = a.word(0);
  Store store;
  int code = store.Open(path, MFO_CREATE);
  if (code != 0) return OpenFail(path, code);
  return CloseStore(store, path);
}

int DoPut(const Args& a) {
  const char *path = a.word(0), *name = a.word(2), *file = a.word(3);
  uint8_t section = 0;
  if (!ParseSection(a.word(1), section)) return BadSection(a, a.word(1));
  uint8_t info[kRecKeyInfo] = {};
  const char* infoText = a.Value("--info");
  if (infoText != nullptr && !ParseHex(infoText, info, sizeof info)) {
    return a.Usage("--info takes up to 12 bytes as pairs of hex digits, not '%s'", infoText);
  }
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(file, &bytes)) return UpdkitFail("store put: cannot read %s", file);
  Store store;
  int code = store.Open(path, MFO_UPDATE);
  if (code != 0) return OpenFail(path, code);
  int32_t stored = 0;
  code = PutRecord(store, section, name, bytes, infoText != nullptr ? info : nullptr, PackMethod(a),
                   &stored);
  if (code != 0) return UpdkitFail("store put: %s failed (code %d)", name, code);
  return CloseStore(store, path);
}

int DoPutNoname(const Args& a) {
  const char *path = a.word(0), *file = a.word(1);
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(file, &bytes)) return UpdkitFail("store put-noname: cannot read %s", file);
  Store store;
  int code = store.Open(path, MFO_UPDATE);
  if (code != 0) return OpenFail(path, code);
  int32_t offset = -1;
  code = Guard(
      [&] { offset = store->RecPutNoname(bytes.data(), static_cast<int32_t>(bytes.size())); });
  if (code != 0) return UpdkitFail("store put-noname: failed (code %d)", code);
  if (CloseStore(store, path) != 0) return 1;
  std::printf("%d\n", static_cast<int>(offset));
  return 0;
}

int DoPutFont(const Args& a) {
  const char *path = a.word(0), *name = a.word(1);
  std::vector<uint8_t> tail;
  const char* tailFile = a.Value("--tail");
  if (tailFile != nullptr && !ReadWholeFile(tailFile, &tail)) {
    return UpdkitFail("store put-font: cannot read %s", tailFile);
  }
  std::vector<std::vector<uint8_t>> surfaces;
  for (size_t i = 2; i < a.words().size(); ++i) {
    std::vector<uint8_t> bmp;
    if (!ReadWholeFile(a.word(i), &bmp))
      return UpdkitFail("store put-font: cannot read %s", a.word(i));
    // Every bitmap is checked before the store is opened: a refused one
    // leaves the store as it was.
    std::vector<uint8_t> surface;
    std::string wrong = MakeFontSurface(bmp, surface);
    if (!wrong.empty()) return UpdkitFail("store put-font: %s %s", a.word(i), wrong.c_str());
    surfaces.push_back(std::move(surface));
  }
  if (surfaces.size() > 0x7FFF) return UpdkitFail("store put-font: too many surfaces");
  Store store;
  int code = store.Open(path, MFO_UPDATE);
  if (code != 0) return OpenFail(path, code);
  std::vector<uint8_t> table(2 + 4 * surfaces.size());
  table[0] = static_cast<uint8_t>(surfaces.size());
  table[1] = static_cast<uint8_t>(surfaces.size() >> 8);
  for (size_t i = 0; i < surfaces.size(); ++i) {
    int32_t offset = -1;
    code = Guard([&] {
      offset = store->RecPutNoname(surfaces[i].data(), static_cast<int32_t>(surfaces[i].size()));
    });
    if (code != 0)
      return UpdkitFail("store put-font: surface %d failed (code %d)", static_cast<int>(i), code);
    for (int b = 0; b < 4; ++b)
      table[2 + 4 * i + b] = static_cast<uint8_t>(static_cast<uint32_t>(offset) >> (8 * b));
  }
  table.insert(table.end(), tail.begin(), tail.end());
  code = PutRecord(store, SECTION_FONT, name, table, nullptr, PackMethod(a), nullptr);
  if (code != 0) return UpdkitFail("store put-font: %s failed (code %d)", name, code);
  return CloseStore(store, path);
}

int DoImport(const Args& a) {
  const char *path = a.word(0), *folder = a.word(2);
  uint8_t section = 0;
  if (!ParseSection(a.word(1), section)) return BadSection(a, a.word(1));
  // Listed through the Env: the names, which become the records', are those
  // of the ANSI code page.
  std::vector<plat::FolderEntry> entries, files;
  if (plat::Env::Default()->ListFolder(folder, &entries) != 0)
    return UpdkitFail("store import: cannot list %s", folder);
  for (const plat::FolderEntry& e : entries) {
    if (!e.folder) files.push_back(e);
  }
  std::sort(files.begin(), files.end(),
            [](const plat::FolderEntry& a, const plat::FolderEntry& b) { return a.name < b.name; });
  Store store;
  int code = store.Open(path, MFO_UPDATE);
  if (code != 0) return OpenFail(path, code);
  Progress progress("store import", Progress::kRecords, files.size());
  for (const plat::FolderEntry& file : files) {
    std::vector<uint8_t> bytes;
    const std::string& name = file.name;
    if (!ReadWholeFile(dist::Join(folder, name).c_str(), &bytes)) {
      return UpdkitFail("store import: cannot read %s", name.c_str());
    }
    if (bytes.empty()) {  // a record holds at least one byte
      progress.SetTotal(progress.total() - 1);
      continue;
    }
    code = PutRecord(store, section, name.c_str(), bytes, nullptr, PackMethod(a), nullptr);
    if (code != 0) return UpdkitFail("store import: %s failed (code %d)", name.c_str(), code);
    progress.Add(1);
    progress.WriteLine(stdout, EscapeBytes(name.c_str()).c_str());
  }
  code = CloseStore(store, path);
  if (code == 0) progress.Done();
  return code;
}

int DoGet(const Args& a) {
  const char *path = a.word(0), *name = a.word(2), *out = a.word(3);
  uint8_t section = 0;
  if (!ParseSection(a.word(1), section)) return BadSection(a, a.word(1));
  Store store;
  int code = store.Open(path, MFO_READ);
  if (code != 0) return OpenFail(path, code);
  uint8_t probe[kRecKeyBuffer] = {};
  void* record = nullptr;
  int32_t length = 0;
  code = Guard([&] {
    record = store->RecGet(section, name, nullptr, 1);
    // The key's lengths: found again by a lookup of the same key.
    RecKeyMake(probe, section, name, std::strlen(name));
    StoreGetRecord(store->Engine(), probe, nullptr, 0);
    length = RecKeyPack(probe) == PACK_LZ || RecKeyPack(probe) == PACK_RLE
                 ? RecKeyUnpackedLength(probe)
                 : RecKeyStoredLength(probe);
  });
  if (code != 0) return UpdkitFail("store get: %s failed (code %d)", name, code);
  bool ok = WriteOut(out, record, static_cast<size_t>(length));
  Guard([&] { store->RecMemFree(&record); });
  if (!ok) return UpdkitFail("store get: cannot write %s", out);
  return CloseStore(store, path);
}

int DoDel(const Args& a) {
  const char *path = a.word(0), *name = a.word(2);
  uint8_t section = 0;
  if (!ParseSection(a.word(1), section)) return BadSection(a, a.word(1));
  size_t n = std::strlen(name);
  if (n == 0 || n > static_cast<size_t>(kRecNameMax)) return a.Usage("bad name '%s'", name);
  Store store;
  int code = store.Open(path, MFO_UPDATE);
  if (code != 0) return OpenFail(path, code);
  uint8_t key[kRecKeyBuffer] = {};
  RecKeyMake(key, section, name, n);
  int result = 0;
  code = Guard([&] { result = StoreRemoveKey(store->Engine(), key); });
  if (code != 0) return UpdkitFail("store del: %s failed (code %d)", name, code);
  if (result == ERR_NOT_FOUND) return UpdkitFail("store del: no record %s", name);
  return CloseStore(store, path);
}

int SectionOnly(const void* key, void* section) {
  return RecKeySection(key) != *static_cast<const uint8_t*>(section) ? 1 : 0;
}

int DoList(const Args& a) {
  const char* path = a.word(0);
  uint8_t section = 0;
  const char* only = a.Value("--section");
  if (only != nullptr && !ParseSection(only, section)) return BadSection(a, only);
  Store store;
  int code = store.Open(path, MFO_READ);
  if (code != 0) return OpenFail(path, code);
  code = Guard([&] {
    store->ToBeg(only != nullptr ? SectionOnly : nullptr, &section);
    while (const uint8_t* key = store->RecKeyGetNext(nullptr)) {
      std::printf("%d\t%s\t%s\t%d\t%d\t%d\n", RecKeySection(key), SectionName(RecKeySection(key)),
                  EscapeBytes(RecKeyName(key)).c_str(), static_cast<int>(RecKeyStoredLength(key)),
                  RecKeyPack(key), static_cast<int>(RecKeyUnpackedLength(key)));
    }
  });
  std::fflush(stdout);
  if (code != 0) return UpdkitFail("store list: reading %s failed (code %d)", path, code);
  return CloseStore(store, path);
}

int DoVerify(const Args& a) {
  const char* path = a.word(0);
  Store store;
  int code = store.Open(path, MFO_READ);
  if (code != 0) {
    std::printf("cannot open the store (code %d)\n", code);
    return 1;
  }
  std::string violation = StoreVerify(store->Engine());
  if (!violation.empty()) {
    std::printf("%s\n", violation.c_str());
    return 1;
  }
  std::printf("ok\n");
  return CloseStore(store, path);
}

int DoCompact(const Args& a) {
  const char* path = a.word(0);
  Store store;
  int code = store.Open(path, MFO_UPDATE, 1);
  if (code != 0) return OpenFail(path, code);
  // The index is rebuilt in one step when the store closes: the line shows
  // the records it holds, and the time the rebuild took.
  uint64_t records = 0;
  code = Guard([&] {
    IndexFile* index = store->Engine()->index;
    IndexFirst(index, nullptr, nullptr);
    while (IndexNextFiltered(index, nullptr, nullptr, nullptr) == 0) ++records;
  });
  if (code != 0) return UpdkitFail("store compact: reading %s failed (code %d)", path, code);
  Progress progress("store compact", Progress::kRecords, records);
  code = CloseStore(store, path);
  if (code != 0) return code;
  progress.Add(records);
  return 0;
}

const Option kPack = Number("--pack", "M", 0, 255);

const Command kStoreCommand{
    "store",
    "make and inspect record stores (.DKX/.DKD)",
    {
        {"create", {"PATH"}, {}, "a new, empty store (an existing one is lost)\n", DoCreate},
        {"put",
         {"PATH", "SECTION", "NAME", "FILE"},
         {kPack, Valued("--info", "HEX")},
         "stores FILE's bytes under SECTION and NAME, replacing a record that\n"
         "is there, packed by method M (0 none, 1 LZ, 2 RLE; default 0);\n"
         "records below 32 bytes, and records the method cannot shrink, are\n"
         "stored unpacked (pack 0); --info gives the key's 12 info bytes (24\n"
         "hex digits)\n",
         DoPut},
        {"put-noname",
         {"PATH", "FILE"},
         {},
         "stores an unnamed record, prints its offset\n",
         DoPutNoname},
        {"put-font",
         {"PATH", "NAME", "[DIB...]"},
         {kPack, Valued("--tail", "FILE")},
         "stores each DIB (a .bmp file or a bare DIB) as an unnamed surface,\n"
         "then the font table (count, offsets, FILE's bytes) in section 3\n"
         "under NAME. A surface is what the game reads: a 40-byte header,\n"
         "colour table or bit-field masks and bottom-up pixel rows, as long\n"
         "as its header says. OS/2, V4 and V5 headers, top-down rows and\n"
         "RLE8 are converted; RLE4, JPEG and PNG bitmaps are refused, and so\n"
         "is a bitmap whose biSizeImage disagrees with its rows\n",
         DoPutFont},
        {"import",
         {"PATH", "SECTION", "FOLDER"},
         {kPack},
         "puts every file of FOLDER under its file name\n",
         DoImport},
        {"get",
         {"PATH", "SECTION", "NAME", "OUT"},
         {},
         "writes the record's unpacked bytes to OUT (- for standard output,\n"
         "which on Windows turns line feeds into CR LF: use a file)\n",
         DoGet},
        {"del", {"PATH", "SECTION", "NAME"}, {}, "removes a record and frees its block\n", DoDel},
        {"list",
         {"PATH"},
         {Valued("--section", "SECTION")},
         "one line per key, in key order:\n"
         "SECTION TAB SECTIONNAME TAB NAME TAB STOREDLEN TAB PACK TAB\n"
         "UNPACKEDLEN; bytes of a name below 0x20 or above 0x7E and the\n"
         "backslash are written as \\t \\n \\r \\\\ or \\xHH\n",
         DoList},
        {"verify",
         {"PATH"},
         {},
         "checks both files: prints ok (exit 0) or the first violation (exit 1)\n",
         DoVerify},
        {"compact", {"PATH"}, {}, "rebuilds the index (data file unchanged)\n", DoCompact},
    },
    "PATH names the store as the updater does: units.dkx, units.dkd and units\n"
    "all name units.DKX and units.DKD; any other extension gets both appended.\n"
    "SECTION is a number 0..255 or a section name (M_FNT, M_USER, 033, ...).\n",
};

}  // namespace

UPDKIT_COMMAND(store, kStoreCommand);
