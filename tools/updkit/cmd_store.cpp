// `updkit store`: makes and inspects record stores (".DKX" index and ".DKD"
// data file) through cMf32, so records are packed, keyed and replaced
// exactly as the game and the updater do it.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Mf32int.h"
#include "ourlib/src/Pack.h"
#include "ourlib/src/StoreChange.h"
#include "ourlib/src/StoreEngine.h"
#include "tools/updkit/Command.h"
#include "tools/updkit/Escape.h"
#include "tools/updkit/FontSurface.h"
#include "tools/updkit/WholeFile.h"
#include "update/SectionNames.h"

namespace {

void Help(FILE* out) {
  std::fputs(
      "usage: updkit store <action> PATH [arguments]\n"
      "\n"
      "PATH names the store as the updater does: units.dkx, units.dkd and units\n"
      "all name units.DKX and units.DKD; any other extension gets both appended.\n"
      "SECTION is a number 0..255 or a section name (M_FNT, M_USER, 033, ...).\n"
      "\n"
      "create PATH                      a new, empty store (an existing one is lost)\n"
      "put PATH SECTION NAME FILE [--pack 0|1|2] [--info HEX]\n"
      "                                 stores FILE's bytes under SECTION and NAME,\n"
      "                                 replacing a record that is there; records\n"
      "                                 below 32 bytes, and records the method cannot\n"
      "                                 shrink, are stored unpacked (pack 0); --info\n"
      "                                 gives the key's 12 info bytes (24 hex digits)\n"
      "put-noname PATH FILE             stores an unnamed record, prints its offset\n"
      "put-font PATH NAME [--pack M] [--tail FILE] DIB...\n"
      "                                 stores each DIB (a .bmp file or a bare DIB) as\n"
      "                                 an unnamed surface, then the font table (count,\n"
      "                                 offsets, FILE's bytes) in section 3 under NAME.\n"
      "                                 A surface is what the game reads: a 40-byte\n"
      "                                 header, colour table or bit-field masks and\n"
      "                                 bottom-up pixel rows, as long as its header\n"
      "                                 says. OS/2, V4 and V5 headers, top-down rows\n"
      "                                 and RLE8 are converted; RLE4, JPEG and PNG\n"
      "                                 bitmaps are refused, and so is a bitmap whose\n"
      "                                 biSizeImage disagrees with its rows\n"
      "import PATH SECTION FOLDER [--pack M]\n"
      "                                 puts every file of FOLDER under its file name\n"
      "get PATH SECTION NAME OUT        writes the record's unpacked bytes to OUT\n"
      "                                 (- for standard output, which on Windows\n"
      "                                 turns line feeds into CR LF: use a file)\n"
      "del PATH SECTION NAME            removes a record and frees its block\n"
      "list PATH [--section N]          one line per key, in key order:\n"
      "                                 SECTION TAB SECTIONNAME TAB NAME TAB STOREDLEN\n"
      "                                 TAB PACK TAB UNPACKEDLEN; bytes of a name\n"
      "                                 below 0x20 or above 0x7E and the backslash\n"
      "                                 are written as \\t \\n \\r \\\\ or \\xHH\n"
      "verify PATH                      checks both files: prints ok (exit 0) or the\n"
      "                                 first violation (exit 1)\n"
      "compact PATH                     rebuilds the index (data file unchanged)\n",
      out);
}

// The store's handle. A store opened to be written is changed on copies of
// its files (StoreChange), which replace it only when Close succeeds; on any
// other way out the store stays exactly as it was.
class Store {
 public:
  Store() = default;
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  ~Store() { Delete(); }
  // 0, or the code raised by the open (or returned by the change's start).
  int Open(const char* path, int mode, int compactOnClose = 0) {
    const char* open = path;
    if (mode == MFO_UPDATE || mode == MFO_CREATE) {
      StoreChange::Start start = mode == MFO_CREATE ? StoreChange::Start::Empty : StoreChange::Start::Copy;
      if (int code = change_.Begin(path, start)) return code;
      open = change_.WorkingPath();
      writing_ = true;
    }
    return Guard([&] { handle_ = cMf32::Open(open, mode, compactOnClose, 0); });
  }
  // 0, or the code raised while closing or returned by the commit.
  int Close() {
    int code = Delete();
    if (code == 0 && writing_) code = change_.Commit();
    writing_ = false;
    return code;
  }
  cMf32* operator->() const { return handle_; }
  cMf32* get() const { return handle_; }

 private:
  int Delete() {
    cMf32* h = handle_;
    handle_ = nullptr;
    return h != nullptr ? Guard([&] { delete h; }) : 0;
  }

  StoreChange change_;
  cMf32* handle_ = nullptr;
  bool writing_ = false;
};

bool ParseNumber(const char* text, long long low, long long high, long long& value) {
  if (text == nullptr || *text == '\0') return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 0);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  value = v;
  return true;
}

// A section number, or a section's display name without its trailing blank.
bool ParseSection(const char* text, uint8_t& section) {
  long long v = 0;
  if (ParseNumber(text, 0, 255, v)) {
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
    store->RecPut(section, name, bytes.data(), static_cast<int32_t>(bytes.size()), info, pack, stored);
  });
}

int DoCreate(int argc, char** argv) {
  if (argc != 3) return UpdkitFail("store create: PATH expected");
  Store store;
  int code = store.Open(argv[2], MFO_CREATE);
  if (code != 0) return OpenFail(argv[2], code);
  return CloseStore(store, argv[2]);
}

int DoPut(int argc, char** argv) {
  if (argc < 6) return UpdkitFail("store put: PATH SECTION NAME FILE expected");
  uint8_t section = 0;
  if (!ParseSection(argv[3], section)) return UpdkitFail("store put: bad section '%s'", argv[3]);
  long long pack = PACK_NONE;
  uint8_t info[kRecKeyInfo] = {};
  const uint8_t* infoArg = nullptr;
  for (int i = 6; i < argc; ++i) {
    if (std::strcmp(argv[i], "--pack") == 0 && i + 1 < argc) {
      if (!ParseNumber(argv[++i], 0, 255, pack)) return UpdkitFail("store put: bad pack method");
    } else if (std::strcmp(argv[i], "--info") == 0 && i + 1 < argc) {
      if (!ParseHex(argv[++i], info, sizeof info)) return UpdkitFail("store put: bad --info");
      infoArg = info;
    } else {
      return UpdkitFail("store put: unknown argument '%s'", argv[i]);
    }
  }
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(argv[5], &bytes)) return UpdkitFail("store put: cannot read %s", argv[5]);
  Store store;
  int code = store.Open(argv[2], MFO_UPDATE);
  if (code != 0) return OpenFail(argv[2], code);
  int32_t stored = 0;
  code = PutRecord(store, section, argv[4], bytes, infoArg, static_cast<int>(pack), &stored);
  if (code != 0) return UpdkitFail("store put: %s failed (code %d)", argv[4], code);
  return CloseStore(store, argv[2]);
}

int DoPutNoname(int argc, char** argv) {
  if (argc != 4) return UpdkitFail("store put-noname: PATH FILE expected");
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(argv[3], &bytes)) return UpdkitFail("store put-noname: cannot read %s", argv[3]);
  Store store;
  int code = store.Open(argv[2], MFO_UPDATE);
  if (code != 0) return OpenFail(argv[2], code);
  int32_t offset = -1;
  code = Guard([&] {
    offset = store->RecPutNoname(bytes.data(), static_cast<int32_t>(bytes.size()));
  });
  if (code != 0) return UpdkitFail("store put-noname: failed (code %d)", code);
  if (CloseStore(store, argv[2]) != 0) return 1;
  std::printf("%d\n", static_cast<int>(offset));
  return 0;
}

int DoPutFont(int argc, char** argv) {
  if (argc < 4) return UpdkitFail("store put-font: PATH NAME DIB... expected");
  long long pack = PACK_NONE;
  std::vector<uint8_t> tail;
  std::vector<std::vector<uint8_t>> surfaces;
  for (int i = 4; i < argc; ++i) {
    if (std::strcmp(argv[i], "--pack") == 0 && i + 1 < argc) {
      if (!ParseNumber(argv[++i], 0, 255, pack)) return UpdkitFail("store put-font: bad pack method");
    } else if (std::strcmp(argv[i], "--tail") == 0 && i + 1 < argc) {
      if (!ReadWholeFile(argv[++i], &tail)) return UpdkitFail("store put-font: cannot read %s", argv[i]);
    } else {
      std::vector<uint8_t> bmp;
      if (!ReadWholeFile(argv[i], &bmp)) return UpdkitFail("store put-font: cannot read %s", argv[i]);
      // Every bitmap is checked before the store is opened: a refused one
      // leaves the store as it was.
      std::vector<uint8_t> surface;
      std::string wrong = MakeFontSurface(bmp, surface);
      if (!wrong.empty()) return UpdkitFail("store put-font: %s %s", argv[i], wrong.c_str());
      surfaces.push_back(std::move(surface));
    }
  }
  if (surfaces.size() > 0x7FFF) return UpdkitFail("store put-font: too many surfaces");
  Store store;
  int code = store.Open(argv[2], MFO_UPDATE);
  if (code != 0) return OpenFail(argv[2], code);
  std::vector<uint8_t> table(2 + 4 * surfaces.size());
  table[0] = static_cast<uint8_t>(surfaces.size());
  table[1] = static_cast<uint8_t>(surfaces.size() >> 8);
  for (size_t i = 0; i < surfaces.size(); ++i) {
    int32_t offset = -1;
    code = Guard([&] {
      offset = store->RecPutNoname(surfaces[i].data(), static_cast<int32_t>(surfaces[i].size()));
    });
    if (code != 0) return UpdkitFail("store put-font: surface %d failed (code %d)", static_cast<int>(i), code);
    for (int b = 0; b < 4; ++b) table[2 + 4 * i + b] = static_cast<uint8_t>(static_cast<uint32_t>(offset) >> (8 * b));
  }
  table.insert(table.end(), tail.begin(), tail.end());
  code = PutRecord(store, SECTION_FONT, argv[3], table, nullptr, static_cast<int>(pack), nullptr);
  if (code != 0) return UpdkitFail("store put-font: %s failed (code %d)", argv[3], code);
  return CloseStore(store, argv[2]);
}

int DoImport(int argc, char** argv) {
  if (argc < 5) return UpdkitFail("store import: PATH SECTION FOLDER expected");
  uint8_t section = 0;
  if (!ParseSection(argv[3], section)) return UpdkitFail("store import: bad section '%s'", argv[3]);
  long long pack = PACK_NONE;
  for (int i = 5; i < argc; ++i) {
    if (std::strcmp(argv[i], "--pack") == 0 && i + 1 < argc) {
      if (!ParseNumber(argv[++i], 0, 255, pack)) return UpdkitFail("store import: bad pack method");
    } else {
      return UpdkitFail("store import: unknown argument '%s'", argv[i]);
    }
  }
  std::error_code ec;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(argv[4], ec)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  if (ec) return UpdkitFail("store import: cannot list %s", argv[4]);
  Store store;
  int code = store.Open(argv[2], MFO_UPDATE);
  if (code != 0) return OpenFail(argv[2], code);
  for (const auto& file : files) {
    std::vector<uint8_t> bytes;
    std::string name = file.filename().string();
    if (!ReadWholeFile(file.string().c_str(), &bytes)) return UpdkitFail("store import: cannot read %s", name.c_str());
    if (bytes.empty()) continue;  // a record holds at least one byte
    code = PutRecord(store, section, name.c_str(), bytes, nullptr, static_cast<int>(pack), nullptr);
    if (code != 0) return UpdkitFail("store import: %s failed (code %d)", name.c_str(), code);
    std::printf("%s\n", EscapeBytes(name.c_str()).c_str());
  }
  return CloseStore(store, argv[2]);
}

int DoGet(int argc, char** argv) {
  if (argc != 6) return UpdkitFail("store get: PATH SECTION NAME OUT expected");
  uint8_t section = 0;
  if (!ParseSection(argv[3], section)) return UpdkitFail("store get: bad section '%s'", argv[3]);
  Store store;
  int code = store.Open(argv[2], MFO_READ);
  if (code != 0) return OpenFail(argv[2], code);
  uint8_t probe[kRecKeyBuffer] = {};
  void* record = nullptr;
  int32_t length = 0;
  code = Guard([&] {
    record = store->RecGet(section, argv[4], nullptr, 1);
    // The key's lengths: found again by a lookup of the same key.
    size_t n = std::strlen(argv[4]);
    probe[0] = section;
    probe[22] = static_cast<uint8_t>(n);
    probe[23] = static_cast<uint8_t>(n >> 8);
    std::memcpy(probe + kRecKeyHeader, argv[4], n);
    StoreGetRecord(store->Engine(), probe, nullptr, 0);
    length = RecKeyPack(probe) == PACK_LZ || RecKeyPack(probe) == PACK_RLE ? RecKeyUnpackedLength(probe)
                                                                          : RecKeyStoredLength(probe);
  });
  if (code != 0) return UpdkitFail("store get: %s failed (code %d)", argv[4], code);
  bool ok = WriteOut(argv[5], record, static_cast<size_t>(length));
  Guard([&] { store->RecMemFree(&record); });
  if (!ok) return UpdkitFail("store get: cannot write %s", argv[5]);
  return CloseStore(store, argv[2]);
}

int DoDel(int argc, char** argv) {
  if (argc != 5) return UpdkitFail("store del: PATH SECTION NAME expected");
  uint8_t section = 0;
  if (!ParseSection(argv[3], section)) return UpdkitFail("store del: bad section '%s'", argv[3]);
  size_t n = std::strlen(argv[4]);
  if (n == 0 || n > static_cast<size_t>(kRecNameMax)) return UpdkitFail("store del: bad name");
  Store store;
  int code = store.Open(argv[2], MFO_UPDATE);
  if (code != 0) return OpenFail(argv[2], code);
  uint8_t key[kRecKeyBuffer] = {};
  key[0] = section;
  key[22] = static_cast<uint8_t>(n);
  key[23] = static_cast<uint8_t>(n >> 8);
  std::memcpy(key + kRecKeyHeader, argv[4], n);
  int result = 0;
  code = Guard([&] { result = StoreRemoveKey(store->Engine(), key); });
  if (code != 0) return UpdkitFail("store del: %s failed (code %d)", argv[4], code);
  if (result == ERR_NOT_FOUND) return UpdkitFail("store del: no record %s", argv[4]);
  return CloseStore(store, argv[2]);
}

int SectionOnly(const void* key, void* section) {
  return RecKeySection(key) != *static_cast<const uint8_t*>(section) ? 1 : 0;
}

int DoList(int argc, char** argv) {
  if (argc != 3 && argc != 5) return UpdkitFail("store list: PATH [--section N] expected");
  uint8_t section = 0;
  bool filtered = argc == 5;
  if (filtered && (std::strcmp(argv[3], "--section") != 0 || !ParseSection(argv[4], section))) {
    return UpdkitFail("store list: bad section");
  }
  Store store;
  int code = store.Open(argv[2], MFO_READ);
  if (code != 0) return OpenFail(argv[2], code);
  code = Guard([&] {
    store->ToBeg(filtered ? SectionOnly : nullptr, &section);
    while (const uint8_t* key = store->RecKeyGetNext(nullptr)) {
      std::printf("%d\t%s\t%s\t%d\t%d\t%d\n", RecKeySection(key), SectionName(RecKeySection(key)),
                  EscapeBytes(RecKeyName(key)).c_str(), static_cast<int>(RecKeyStoredLength(key)),
                  RecKeyPack(key), static_cast<int>(RecKeyUnpackedLength(key)));
    }
  });
  std::fflush(stdout);
  if (code != 0) return UpdkitFail("store list: reading %s failed (code %d)", argv[2], code);
  return CloseStore(store, argv[2]);
}

int DoVerify(int argc, char** argv) {
  if (argc != 3) return UpdkitFail("store verify: PATH expected");
  Store store;
  int code = store.Open(argv[2], MFO_READ);
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
  return CloseStore(store, argv[2]);
}

int DoCompact(int argc, char** argv) {
  if (argc != 3) return UpdkitFail("store compact: PATH expected");
  Store store;
  int code = store.Open(argv[2], MFO_UPDATE, 1);
  if (code != 0) return OpenFail(argv[2], code);
  return CloseStore(store, argv[2]);
}

struct Action {
  const char* name;
  int (*run)(int argc, char** argv);
};

const Action kActions[] = {
    {"create", DoCreate}, {"put", DoPut},   {"put-noname", DoPutNoname}, {"put-font", DoPutFont},
    {"import", DoImport}, {"get", DoGet},   {"del", DoDel},              {"list", DoList},
    {"verify", DoVerify}, {"compact", DoCompact},
};

int RunStore(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    Help(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  for (const Action& a : kActions) {
    if (std::strcmp(argv[1], a.name) == 0) {
      if (argc < 3) return UpdkitFail("store %s: PATH expected", a.name);
      return a.run(argc, argv);
    }
  }
  UpdkitFail("store: unknown action '%s'", argv[1]);
  Help(stderr);
  return 2;
}

}  // namespace

UPDKIT_COMMAND(store, "store", "make and inspect record stores (.DKX/.DKD)", RunStore);
