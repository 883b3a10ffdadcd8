// The real updater running `file = "UNITS.DKX", 1;` on record stores made by
// `updkit store`, on a game installation in a temporary folder; the result
// is read back with `updkit store verify`, `list` and `get`.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ConsoleUpdater.h"
#include "tests/support/Dib.h"
#include "tests/support/GameInstall.h"
#include "tests/support/Lines.h"
#include "tests/support/Pattern.h"
#include "tests/support/Process.h"
#include "tests/support/TestPaths.h"
#include "update/DibSize.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

uint32_t Le32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i)
    v |= static_cast<uint32_t>(static_cast<uint8_t>(bytes.at(at + i))) << (8 * i);
  return v;
}

// The program of that name in a folder of PATH, or "".
std::string OnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "";
  for (size_t start = 0; start <= folders.size();) {
    size_t end = std::min(folders.find(':', start), folders.size());
    fs::path candidate = fs::path(folders.substr(start, end - start)) / name;
    std::error_code ec;
    if (end > start && fs::is_regular_file(candidate, ec) &&
        (fs::status(candidate, ec).permissions() & fs::perms::owner_exec) != fs::perms::none) {
      return candidate.string();
    }
    start = end + 1;
  }
  return "";
}

const char kScript[] = "updatetype = 0\ndstpath = __DATA;\nfile = \"UNITS.DKX\", 1;\n";

struct RecordRun {
  TempDir dir;
  GameInstall g{dir.path()};
  std::string work = dir / "work/";
  std::string src = g.dist + "UNITS.DKX";
  std::string dst = g.game + "Data/UNITS.DKX";
  int files = 0;

  RecordRun() {
    g.WriteRegistry();
    fs::create_directories(work);
    g.Ship("patch.txt", kScript);
  }
  // updkit with args; fails the test unless it exits 0.
  std::string Kit(const std::vector<std::string>& args, int status = 0) {
    ProcessResult p = RunProgram(UpdkitPath(), args);
    EXPECT_EQ(status, p.status) << args[1] << " " << args[2] << ": " << p.err;
    return p.out;
  }
  std::string File(const std::string& bytes) {
    std::string path = work + "f" + std::to_string(files++);
    WriteFileBytes(path, bytes);
    return path;
  }
  void Put(const std::string& store, const std::string& section, const std::string& name,
           const std::string& bytes, const std::string& pack = "0") {
    Kit({"store", "put", store, section, name, File(bytes), "--pack", pack});
  }
  std::string Get(const std::string& store, const std::string& section, const std::string& name) {
    std::string out = work + "got";
    Kit({"store", "get", store, section, name, out});
    return ReadFileBytes(out);
  }
  // The surfaces a font's table points at, each as long as its header says.
  std::vector<std::string> Surfaces(const std::string& store, const std::string& font) {
    std::string table = Get(store, "M_FNT", font);
    std::string data = ReadFileBytes(store.substr(0, store.size() - 4) + ".DKD");
    std::vector<std::string> surfaces;
    int count =
        table.size() < 2 ? 0 : static_cast<uint8_t>(table[0]) | static_cast<uint8_t>(table[1]) << 8;
    for (int i = 0; i < count; ++i) {
      uint32_t offset = Le32(table, 2 + 4 * i);
      int64_t size = offset + 40 <= data.size()
                         ? DibSize(reinterpret_cast<const uint8_t*>(&data[offset]))
                         : -1;
      if (size < 40 || offset + static_cast<uint64_t>(size) > data.size()) {
        ADD_FAILURE() << font << " surface " << i << " at " << offset << " leaves the data file";
        break;
      }
      surfaces.push_back(data.substr(offset, static_cast<size_t>(size)));
    }
    return surfaces;
  }
  ProcessResult Update() { return RunConsoleUpdater(g, {"patch.txt", "-L"}); }
  // Runs the update and checks that it failed (status 255) with a message
  // that holds text and path.
  void UpdateFails(const std::string& text, const std::string& path) {
    ProcessResult p = Update();
    EXPECT_EQ(255, p.status);
    EXPECT_NE(std::string::npos, p.err.find(text)) << p.err;
    EXPECT_NE(std::string::npos, p.err.find(path)) << p.err;
  }
  std::vector<std::string> Log() {
    return SplitLines(ReadFileBytes(g.dist + "updlog.txt"), "\r\n");
  }
  std::vector<std::string> Head() { return {kLogRule, "Destination : " + dst, "Source : " + src}; }
};

TEST(RecordsRun, PlainPackedAndFontRecordsReplaceAndKeep) {
  RecordRun r;
  r.Kit({"store", "create", r.src});
  r.Put(r.src, "0", "plain", Pattern(100, 1));
  r.Put(r.src, "1", "lz", std::string(5000, 'L'), "1");
  r.Put(r.src, "2", "rle", std::string(3000, 'R') + Pattern(100, 2), "2");
  r.Put(r.src, "2", "tiny", std::string(20, 't'), "1");  // below 32 bytes: stored unpacked
  r.Put(r.src, "255", "never", Pattern(40, 3));
  r.Kit({"store", "put-font", r.src, "arial", r.File(Dib(4, 2, 'a')), r.File(Dib(8, 3, 'b'))});
  r.Kit({"store", "put-font", r.src, "empty"});
  r.Kit({"store", "create", r.dst});
  r.Put(r.dst, "0", "plain", Pattern(900, 9));  // replaced
  r.Put(r.dst, "9", "keep", Pattern(70, 10));   // left as it is
  r.Kit({"store", "put-font", r.dst, "arial", r.File(Dib(4, 4, 'z'))});

  ProcessResult p = r.Update();
  ASSERT_EQ(0, p.status) << p.err;
  std::vector<std::string> expected = r.Head();
  for (const char* line : {
           "Sect = M_ANY , Name = plain, len = 100, pack = 0",
           "Sect = M_BMP , Name = lz, len = 5000, pack = 1",
           "Sect = M_WAV , Name = rle, len = 3100, pack = 2",
           "Sect = M_WAV , Name = tiny, len = 20, pack = 0",
           "For FNT arial, surf = 0, len = 64",
           "For FNT arial, surf = 1, len = 80",
           "Sect = M_FNT , Name = arial, len = 10, pack = 0",
           "Sect = M_FNT , Name = empty, len = 2, pack = 0",
           "Units updated = 8, Bytes updated = 8376",
       }) {
    expected.push_back(line);
  }
  EXPECT_EQ(expected, r.Log());

  EXPECT_EQ("ok\n", r.Kit({"store", "verify", r.dst}));
  std::string list = r.Kit({"store", "list", r.dst});
  std::vector<std::string> rows = SplitLines(list, "\n");
  ASSERT_EQ(7u, rows.size()) << list;
  EXPECT_EQ("0\tM_ANY \tplain\t100\t0\t100", rows[0]);
  EXPECT_EQ(0u, rows[1].find("1\tM_BMP \tlz\t"));
  EXPECT_NE(std::string::npos, rows[1].find("\t1\t5000"));
  EXPECT_EQ(0u, rows[2].find("2\tM_WAV \trle\t"));
  EXPECT_NE(std::string::npos, rows[2].find("\t2\t3100"));
  EXPECT_EQ("2\tM_WAV \ttiny\t20\t0\t20", rows[3]);
  EXPECT_EQ("3\tM_FNT \tempty\t2\t0\t2", rows[5]);
  EXPECT_EQ("9\tM_AME \tkeep\t70\t0\t70", rows[6]);

  EXPECT_EQ(Pattern(100, 1), r.Get(r.dst, "0", "plain"));
  EXPECT_EQ(std::string(5000, 'L'), r.Get(r.dst, "1", "lz"));
  EXPECT_EQ(std::string(3000, 'R') + Pattern(100, 2), r.Get(r.dst, "M_WAV", "rle"));
  EXPECT_EQ(Pattern(70, 10), r.Get(r.dst, "9", "keep"));
  r.Kit({"store", "get", r.dst, "255", "never", r.work + "x"}, 1);
  // The font table points at copies of the surfaces inside the destination.
  std::string table = r.Get(r.dst, "M_FNT", "arial");
  ASSERT_EQ(10u, table.size());
  EXPECT_EQ((std::vector<std::string>{Dib(4, 2, 'a'), Dib(8, 3, 'b')}), r.Surfaces(r.dst, "arial"));
  std::string data = ReadFileBytes(r.g.game + "Data/UNITS.DKD");
  EXPECT_NE(std::string::npos, data.find(Dib(4, 4, 'z')));  // the old surface, unreferenced
}

// Bitmaps as ImageMagick saves them, each a different road to the 40-byte
// header the game reads: its V4 and V5 headers, RLE8 (its choice for 8
// bits), bit fields, the OS/2 header with 3-byte palette entries and rows
// stored top-down. Through put-font, operation 1 and back, every surface
// holds the source's pixels and is exactly as long as its header says.
TEST(RecordsRun, FontSurfacesFromImageMagickKeepTheirPixels) {
  const std::string convert = OnPath("convert");
  if (convert.empty())
    GTEST_SKIP() << "ImageMagick's convert is not installed (scripts/setup.sh installs it)";
  struct Saved {
    const char* what;
    std::vector<std::string> options;
    std::string format;
    uint32_t header, bits, compression;
    bool topDown;
  };
  const Saved kSaved[] = {
      {"1 bit", {"-type", "bilevel"}, "", 108, 1, 0, false},
      {"4 bits", {"-colors", "16", "-type", "palette"}, "", 124, 4, 0, false},
      {"8 bits RLE8", {"-colors", "200", "-type", "palette"}, "", 124, 8, 1, false},
      {"8 bits OS/2", {"-colors", "200", "-type", "palette"}, "BMP2:", 12, 8, 0, false},
      {"16 bits", {"-define", "bmp:subtype=RGB565"}, "", 124, 16, 3, false},
      {"24 bits", {"-type", "truecolor"}, "", 124, 24, 0, false},
      {"24 bits top-down", {"-type", "truecolor"}, "BMP3:", 40, 24, 0, true},
      {"32 bits", {"-type", "truecoloralpha"}, "", 124, 32, 3, false},
  };
  auto rgb = [&](const std::string& bmp) {
    ProcessResult p = RunProgram(convert, {bmp, "-depth", "8", "rgb:-"});
    EXPECT_EQ(0, p.status) << bmp << ": " << p.err;
    return p.out;
  };
  RecordRun r;
  std::vector<std::string> sources;
  for (const Saved& s : kSaved) {
    // 13 pixels wide: every depth has padding at the end of its rows.
    std::string path = r.work + "s" + std::to_string(sources.size()) + ".bmp";
    std::vector<std::string> args = {"-size", "13x7", "gradient:red-blue", "-swirl", "120"};
    args.insert(args.end(), s.options.begin(), s.options.end());
    args.push_back(s.format + path);
    ProcessResult made = RunProgram(convert, args);
    ASSERT_EQ(0, made.status) << s.what << ": " << made.err;
    std::string bmp = ReadFileBytes(path);
    ASSERT_EQ(s.header, Le32(bmp, 14)) << s.what;
    if (s.header != 12) {
      EXPECT_EQ(s.bits, Le32(bmp, 28) & 0xFFFF) << s.what;
      EXPECT_EQ(s.compression, Le32(bmp, 30)) << s.what;
    }
    if (s.topDown) {
      size_t row = (s.bits * 13 + 31) / 32 * 4, at = Le32(bmp, 10);
      std::string rows = bmp.substr(at, row * 7);
      for (size_t y = 0; y < 7; ++y) bmp.replace(at + y * row, row, rows, (6 - y) * row, row);
      bmp[22] = static_cast<char>(-7);
      bmp[23] = bmp[24] = bmp[25] = static_cast<char>(0xFF);
      WriteFileBytes(path, bmp);
    }
    sources.push_back(path);
  }
  r.Kit({"store", "create", r.src});
  std::vector<std::string> put = {"store", "put-font", r.src, "faces"};
  put.insert(put.end(), sources.begin(), sources.end());
  r.Kit(put);
  r.Kit({"store", "create", r.dst});
  ProcessResult p = r.Update();
  ASSERT_EQ(0, p.status) << p.err;

  std::vector<std::string> surfaces = r.Surfaces(r.dst, "faces");
  ASSERT_EQ(sources.size(), surfaces.size());
  std::vector<std::string> expected = r.Head();
  size_t bytes = 2 + 4 * surfaces.size();
  for (size_t i = 0; i < surfaces.size(); ++i) {
    const Saved& s = kSaved[i];
    const std::string& surface = surfaces[i];
    EXPECT_EQ(40u, Le32(surface, 0)) << s.what;
    EXPECT_EQ(7u, Le32(surface, 8)) << s.what;  // bottom-up
    EXPECT_EQ(s.bits, Le32(surface, 14) & 0xFFFF) << s.what;
    std::string back = r.work + "back" + std::to_string(i) + ".bmp";
    WriteFileBytes(back, BmpFile(surface));
    std::string pixels = rgb(sources[i]);
    EXPECT_EQ(13u * 7u * 3u, pixels.size()) << s.what;
    EXPECT_EQ(pixels, rgb(back)) << s.what;
    expected.push_back("For FNT faces, surf = " + std::to_string(i) +
                       ", len = " + std::to_string(surface.size()));
    bytes += surface.size();
  }
  expected.push_back("Sect = M_FNT , Name = faces, len = " +
                     std::to_string(2 + 4 * surfaces.size()) + ", pack = 0");
  expected.push_back("Units updated = " + std::to_string(surfaces.size() + 1) +
                     ", Bytes updated = " + std::to_string(bytes));
  EXPECT_EQ(expected, r.Log());
}

TEST(RecordsRun, EverySectionButTheLast) {
  RecordRun r;
  r.Kit({"store", "create", r.src});
  int bytes = 0;
  for (int s = 0; s < 256; ++s) {
    // Section 3 holds fonts: this one has a surface count of 0.
    std::string bytesOf = s == 3 ? std::string(2, '\0') + Pattern(34, s) : Pattern(33 + s, s);
    r.Put(r.src, std::to_string(s), "s" + std::to_string(s), bytesOf);
  }
  r.Kit({"store", "create", r.dst});
  ProcessResult p = r.Update();
  ASSERT_EQ(0, p.status) << p.err;

  std::vector<std::string> log = r.Log();
  ASSERT_EQ(3u + 255u + 1u, log.size());
  EXPECT_EQ(r.Head(), std::vector<std::string>(log.begin(), log.begin() + 3));
  static const char* const kNamed[] = {"M_ANY ", "M_BMP ", "M_WAV ", "M_FNT ", "M_PCX ", "M_GIF ",
                                       "M_SPR ", "M_SSPR", "M_MSPR", "M_AME ", "M_AMAP"};
  for (int s = 0; s < 255; ++s) {
    char name[16];
    if (s <= 10) {
      std::snprintf(name, sizeof name, "%s", kNamed[s]);
    } else if (s == 128) {
      std::snprintf(name, sizeof name, "M_USER");
    } else if (s > 32) {
      std::snprintf(name, sizeof name, "%03d", s);
    } else {
      continue;  // the other named rows are checked by the unit tests
    }
    char line[96];
    std::snprintf(line, sizeof line, "Sect = %s, Name = s%d, len = %d, pack = 0", name, s, 33 + s);
    EXPECT_EQ(line, log[3 + s]);
  }
  for (int s = 0; s < 255; ++s) bytes += 33 + s;
  EXPECT_EQ("Units updated = 255, Bytes updated = " + std::to_string(bytes), log.back());

  EXPECT_EQ("ok\n", r.Kit({"store", "verify", r.dst}));
  EXPECT_EQ(255u, SplitLines(r.Kit({"store", "list", r.dst}), "\n").size());
  EXPECT_EQ("", r.Kit({"store", "list", r.dst, "--section", "255"}));
  EXPECT_EQ(Pattern(33 + 254, 254), r.Get(r.dst, "254", "s254"));
}

TEST(RecordsRun, ReplacesAKeyOnTheRightEdgeOfACompactedStore) {
  // Full-length names fill a node with three keys; after a compaction the
  // last keys lie in a chain of nodes without leftmost children, and the
  // deletion of the last one must leave the one before it replaceable.
  RecordRun r;
  auto name = [](int i) {
    return "K" + std::string(i < 10 ? "0" : "") + std::to_string(i) + std::string(509, 'x');
  };
  r.Kit({"store", "create", r.dst});
  for (int i = 1; i <= 18; ++i) r.Put(r.dst, "1", name(i), Pattern(40, i));
  r.Kit({"store", "compact", r.dst});
  r.Kit({"store", "del", r.dst, "1", name(18)});
  r.Kit({"store", "create", r.src});
  r.Put(r.src, "1", name(17), Pattern(60, 99));
  ProcessResult p = r.Update();
  ASSERT_EQ(0, p.status) << p.err;
  EXPECT_EQ("ok\n", r.Kit({"store", "verify", r.dst}));
  EXPECT_EQ(Pattern(60, 99), r.Get(r.dst, "1", name(17)));
  EXPECT_EQ(Pattern(40, 16), r.Get(r.dst, "1", name(16)));
  EXPECT_EQ(17u, SplitLines(r.Kit({"store", "list", r.dst}), "\n").size());
}

TEST(RecordsRun, MissingDestinationIsMessage3AndCreatesNothing) {
  RecordRun r;
  r.Kit({"store", "create", r.src});
  r.Put(r.src, "1", "a", Pattern(40, 1));
  r.UpdateFails("Error open file ", r.dst);
  std::vector<std::string> log = r.Log();
  ASSERT_GE(log.size(), 5u);
  EXPECT_EQ(r.Head(), std::vector<std::string>(log.begin(), log.begin() + 3));
  EXPECT_EQ(" ERROR ", log[3]);
  std::string text = ReadFileBytes(r.g.dist + "updlog.txt");
  EXPECT_NE(std::string::npos, text.find("Error open file ")) << text;
  EXPECT_NE(std::string::npos, text.find(r.dst)) << text;
  EXPECT_FALSE(fs::exists(r.dst));
  EXPECT_FALSE(fs::exists(r.g.game + "Data/UNITS.DKD"));
}

TEST(RecordsRun, DamagedSourceStopsWithAClearMessageAndTheDestinationStaysAsItWas) {
  {
    // A data file that is no store data file: the source cannot be opened.
    RecordRun r;
    r.Kit({"store", "create", r.src});
    r.Put(r.src, "1", "a", Pattern(40, 1));
    std::string dkd = ReadFileBytes(r.g.dist + "UNITS.DKD");
    dkd.replace(0, 4, "JUNK");
    WriteFileBytes(r.g.dist + "UNITS.DKD", dkd);
    r.Kit({"store", "create", r.dst});
    r.Put(r.dst, "5", "mine", Pattern(50, 5));
    r.UpdateFails("Error open file ", r.src);
    EXPECT_EQ("ok\n", r.Kit({"store", "verify", r.dst}));
    EXPECT_EQ("5\tM_GIF \tmine\t50\t0\t50\n", r.Kit({"store", "list", r.dst}));
  }
  {
    // A font whose surface offset leads nowhere: a read failure after the
    // records before it were written, which go with the store's copies.
    RecordRun r;
    r.Kit({"store", "create", r.src});
    r.Put(r.src, "1", "first", Pattern(40, 1));
    r.Put(r.src, "3", "bad", std::string("\x01\x00\xF0\xFF\xFF\x0F", 6));
    r.Put(r.src, "4", "after", Pattern(40, 4));
    r.Kit({"store", "create", r.dst});
    r.Put(r.dst, "9", "mine", Pattern(50, 9));
    const std::string index = ReadFileBytes(r.dst),
                      data = ReadFileBytes(r.g.game + "Data/UNITS.DKD");
    r.UpdateFails("Error reading file ", r.src);
    std::vector<std::string> log = r.Log();
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ("Sect = M_BMP , Name = first, len = 40, pack = 0", log[3]);
    EXPECT_EQ(" ERROR ", log[4]);
    EXPECT_EQ(index, ReadFileBytes(r.dst));
    EXPECT_EQ(data, ReadFileBytes(r.g.game + "Data/UNITS.DKD"));
    EXPECT_EQ(2,
              std::distance(fs::directory_iterator(r.g.game + "Data"), fs::directory_iterator()));
  }
}

}  // namespace
