// `updkit store` actions that the updater runs do not reach: del, compact,
// import, put-noname, --info, name escapes, a failing verify and the bitmaps
// put-font refuses; and that every action that writes replaces the store's
// files whole. Also the progress line of updkit's long work, which needs a
// pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/Dib.h"
#include "tests/support/Process.h"
#include "tests/support/TestPaths.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

struct Kit {
  TempDir dir;
  // The store's folder has a name beyond ASCII: UTF-8 on the disk, the code
  // page's bytes once updkit has its arguments.
  std::string at = dir / "Lager-\xc3\xbc/";
  std::string store = at + "S.DKX";
  Kit() { fs::create_directories(at); }
  ProcessResult Run(const std::vector<std::string>& args) { return RunProgram(UpdkitPath(), args); }
  std::string Ok(const std::vector<std::string>& args) {
    ProcessResult p = Run(args);
    EXPECT_EQ(0, p.status) << args[1] << ": " << p.err;
    return p.out;
  }
  std::string File(const std::string& name, const std::string& bytes) {
    WriteFileBytes(dir / name, bytes);
    return dir / name;
  }
  // Ok for an action that writes the store: its files are replaced, not
  // edited (a second link to an old file still holds the old bytes), and
  // nothing is left beside them.
  std::string Replaces(const std::vector<std::string>& args) {
    std::vector<std::pair<std::string, std::string>> old;
    for (const char* ext : {".DKX", ".DKD"}) {
      const std::string file = at + "S" + ext, link = at + "old" + ext;
      if (!fs::exists(file)) continue;
      fs::create_hard_link(file, link);
      old.emplace_back(link, ReadFileBytes(file));
    }
    std::string out = Ok(args);
    for (const auto& [link, bytes] : old) {
      EXPECT_TRUE(bytes == ReadFileBytes(link))
          << args[1] << ": " << link << " was written in place";
      fs::remove(link);
    }
    for (const auto& e : fs::directory_iterator(at)) {
      EXPECT_EQ(std::string::npos, e.path().filename().string().find("$$"))
          << args[1] << ": " << e.path();
    }
    return out;
  }
};

TEST(UpdkitStore, PutListDelAndEscapes) {
  Kit k;
  k.Replaces({"store", "create", k.store});
  std::string f = k.File("rec", std::string(64, 'r'));
  k.Replaces(
      {"store", "put", k.store, "M_USER", "tab\there", f, "--info", "0102030405060708090a0b0c"});
  k.Ok({"store", "put", k.store, "128", "back\\slash\xc3\xa9", f});  // in UTF-8
  k.Ok({"store", "put", k.store, "3", "zz", f});
  EXPECT_EQ(
      "3\tM_FNT \tzz\t64\t0\t64\n"
      "128\tM_USER\ttab\\there\t64\t0\t64\n"
      "128\tM_USER\tback\\\\slash\\xe9\t64\t0\t64\n",
      k.Ok({"store", "list", k.store}));
  EXPECT_EQ("3\tM_FNT \tzz\t64\t0\t64\n", k.Ok({"store", "list", k.store, "--section", "M_FNT"}));
  EXPECT_NE(0,
            k.Run({"store", "put", k.store, "3", "x", f, "--info", "123"}).status);  // odd digits
  EXPECT_NE(0, k.Run({"store", "put", k.store, "256", "x", f}).status);              // no section
  EXPECT_NE(
      0, k.Run({"store", "put", k.store, "3", std::string(513, 'n'), f}).status);  // name too long
  WriteFileBytes(k.at + "S.$$.DKD", "left by a killed run");  // a stray copy: cleared first
  k.Replaces({"store", "del", k.store, "3", "zz"});
  EXPECT_NE(0, k.Run({"store", "del", k.store, "3", "zz"}).status);
  EXPECT_EQ("", k.Ok({"store", "list", k.store, "--section", "3"}));
  EXPECT_EQ("ok\n", k.Ok({"store", "verify", k.store}));
  EXPECT_NE(0, k.Run({"store", "get", k.store, "3", "zz", k.dir / "out"}).status);
  // A leading zero is no octal: "033" is the section that list names so. A
  // name may start with a dash, and after "--" with two.
  k.Ok({"store", "put", k.store, "033", "-a", f});
  k.Ok({"store", "put", k.store, "33", "--", "--b", f});
  EXPECT_EQ("33\t033\t-a\t64\t0\t64\n33\t033\t--b\t64\t0\t64\n",
            k.Ok({"store", "list", k.store, "--section", "033"}));
}

TEST(UpdkitStore, WrongCommandLinesSayWhatIsWrong) {
  Kit k;
  struct Wrong {
    std::vector<std::string> args;
    int status;
    const char* says;
  };
  const std::string f = k.File("rec", "bytes");
  const Wrong kWrong[] = {
      {{"store"}, 2, "usage:\n  updkit store create PATH\n"},
      {{"store", "frob"}, 2, "updkit store: unknown action 'frob' (create, put, put-noname,"},
      {{"store", "put", k.store, "3", "x", f, "--pakc", "1"},
       1,
       "updkit store put: unknown option '--pakc'\nusage: updkit store put PATH SECTION NAME FILE "
       "[--pack M]"},
      {{"store", "put", k.store, "3", "x", f, "--pack", "256"},
       1,
       "--pack takes a number from 0 to 255, not '256'"},
      {{"store", "put", k.store, "3", "x", f, "--pack"}, 1, "--pack needs a value: --pack M"},
      {{"store", "put", k.store, "3", "x"}, 1, "updkit store put: FILE is missing"},
      {{"store", "create", k.store, "x"}, 1, "updkit store create: unexpected argument 'x'"},
      {{"store", "list", k.store, "--section", "M_NONE"},
       1,
       "updkit store list: bad section 'M_NONE'"},
  };
  for (const Wrong& w : kWrong) {
    ProcessResult p = k.Run(w.args);
    EXPECT_EQ(w.status, p.status) << w.says;
    EXPECT_NE(std::string::npos, p.err.find(w.says)) << p.err;
  }
  EXPECT_FALSE(fs::exists(k.store)) << "no wrong command line touches the store";
}

TEST(UpdkitStore, ImportPutNonameAndCompact) {
  Kit k;
  fs::create_directories(k.dir / "in-\xc3\xbc");
  for (int i = 0; i < 300; ++i)
    k.File("in-\xc3\xbc/r" + std::to_string(i), std::string(40 + i, 'a' + i % 26));
  k.File("in-\xc3\xbc/M\xc3\xbcller", "named in the code page");
  k.Ok({"store", "create", k.store});
  k.Replaces({"store", "import", k.store, "7", k.dir / "in-\xc3\xbc", "--pack", "2"});
  std::string offset =
      k.Replaces({"store", "put-noname", k.store, k.File("blob", "unnamed bytes")});
  EXPECT_GT(std::stoi(offset), 0);
  k.Replaces({"store", "put-font", k.store, "font", k.File("dib", Dib(4, 2, 'd'))});
  std::string before = k.Ok({"store", "list", k.store});
  k.Replaces({"store", "compact", k.store});
  EXPECT_EQ(before, k.Ok({"store", "list", k.store}));
  EXPECT_EQ(302u, static_cast<size_t>(std::count(before.begin(), before.end(), '\n')));
  EXPECT_NE(std::string::npos, before.find("7\tM_SSPR\tr0\t"));
  EXPECT_NE(std::string::npos, before.find("7\tM_SSPR\tM\\xfcller\t22\t")) << before;
  EXPECT_EQ("ok\n", k.Ok({"store", "verify", k.store}));
  k.Ok({"store", "get", k.store, "7", "r299", k.dir / "out"});
  EXPECT_EQ(std::string(339, 'a' + 299 % 26), ReadFileBytes(k.dir / "out"));
  k.Ok({"store", "get", k.store, "7", "M\xc3\xbcller", k.dir / "out"});
  EXPECT_EQ("named in the code page", ReadFileBytes(k.dir / "out"));
  EXPECT_FALSE(fs::exists(k.at + "S.$$X"));
  k.Replaces({"store", "create", k.store});  // anew, over the full store
  EXPECT_EQ("", k.Ok({"store", "list", k.store}));
}

TEST(UpdkitStore, VerifyReportsADamagedStore) {
  Kit k;
  k.Ok({"store", "create", k.store});
  k.Ok({"store", "put", k.store, "1", "a", k.File("a", std::string(100, 'a'))});
  k.Ok({"store", "put", k.store, "1", "b", k.File("b", std::string(100, 'b'))});
  // The first block's size word overwritten: the heap no longer tiles.
  std::string dkd = ReadFileBytes(k.at + "S.DKD");
  dkd[32] = 0x0C;
  WriteFileBytes(k.at + "S.DKD", dkd);
  ProcessResult p = k.Run({"store", "verify", k.store});
  EXPECT_EQ(1, p.status);
  EXPECT_FALSE(p.out.empty());
  EXPECT_NE("ok\n", p.out);
  ProcessResult help = k.Run({"store", "--help"});
  EXPECT_EQ(0, help.status);
  EXPECT_NE(std::string::npos,
            help.out.find("\n  updkit store put-font PATH NAME [DIB...] [--pack M] [--tail FILE]\n"
                          "      stores each DIB"));
}

TEST(UpdkitStore, PutFontRefusesBitmapsNoSurfaceHolds) {
  Kit k;
  k.Ok({"store", "create", k.store});
  auto with = [](int at, uint32_t value, std::string dib = Dib(4, 2, 'p')) {
    for (int i = 0; i < 4; ++i) dib[at + i] = static_cast<char>(value >> (8 * i));
    return dib;
  };
  std::string cut = BmpFile(Dib(4, 2, 'p'));
  cut.pop_back();
  struct Refused {
    std::string bytes;
    const char* says;
  };
  const Refused kRefused[] = {
      {with(20, 100), "header gives 156 (biSizeImage 100)"},  // the game would copy 156 of 64 bytes
      {with(16, 1), "damaged RLE8"},  // a run of 0x70 pixels in 4-pixel rows
      {with(8, 0x02000000, with(16, 1)), "too large for a font surface"},  // 128 MiB of rows
      {with(16, 2), "RLE4"},
      {with(16, 4), "JPEG"},
      {with(16, 5), "PNG"},
      {with(0, 64), "64-byte bitmap header"},
      {cut, "before its pixel rows do (1 bytes missing)"},
  };
  std::string good = k.File("good.bmp", BmpFile(Dib(4, 2, 'g')));
  std::string data = ReadFileBytes(k.at + "S.DKD");
  for (const Refused& r : kRefused) {
    ProcessResult p = k.Run({"store", "put-font", k.store, "f", good, k.File("bad.bmp", r.bytes)});
    EXPECT_EQ(1, p.status) << r.says;
    EXPECT_NE(std::string::npos, p.err.find("bad.bmp")) << p.err;
    EXPECT_NE(std::string::npos, p.err.find(r.says)) << p.err;
  }
  // Nothing of a refused command reaches the store, not even its good surface.
  EXPECT_EQ("", k.Ok({"store", "list", k.store}));
  EXPECT_EQ(data, ReadFileBytes(k.at + "S.DKD"));
}

// Long work draws a progress line on a terminal, within its width, and
// ends with its final state; without a terminal standard error stays
// empty. Standard output is the same either way.
TEST(UpdkitProgress, DrawnOnATerminalOnly) {
  Kit k;
  fs::create_directories(k.dir / "in/sub");
  const std::string big = k.File("in/sub/big.bin", std::string(1 << 20, 'b'));  // packs show
  k.File("in/small.txt", "small");                                              // from 1 MiB
  const std::string pq = k.dir / "p.pq";
  const std::string dist = k.dir / "dist";  // dist make wants a new folder each time
  fs::create_directories(k.dir / "old");
  k.Ok({"store", "create", k.store});
  const struct {
    std::string label;
    std::vector<std::string> args;
  } kRuns[] = {
      {"pkg build", {"pkg", "build", pq, "--from", k.dir / "in", "--lz"}},
      {"pkg extract", {"pkg", "extract", pq, k.dir / "out"}},
      {"store import", {"store", "import", k.store, "0", k.dir / "in"}},
      {"store compact", {"store", "compact", k.store}},
      {"lz pack", {"lz", "pack", big, k.dir / "big.lz"}},
      {"rle pack", {"rle", "pack", big, k.dir / "big.rle"}},
      {"dist make",
       {"dist", "make", k.dir / "old", k.dir / "in", dist, "--from", "1.000.000", "--to",
        "1.001.000"}},
  };
  for (const auto& run : kRuns) {
    SCOPED_TRACE(run.label);
    fs::remove_all(dist);
    const ProcessResult plain = k.Run(run.args);
    ASSERT_EQ(0, plain.status) << plain.err;
    EXPECT_EQ("", plain.err);
    for (int columns : {80, 24}) {
      ProcessOptions terminal;
      terminal.terminalColumns = columns;
      fs::remove_all(dist);
      const ProcessResult drawn = RunProgram(UpdkitPath(), run.args, terminal);
      ASSERT_EQ(0, drawn.status) << drawn.err;
      EXPECT_EQ(plain.out, drawn.out);
      // Each redraw starts at the line's start (blanks take a line off to
      // write output above it); the final state ends it.
      std::vector<std::string> lines;
      std::string line;
      for (char c : drawn.err) {
        if (c != '\r' && c != '\n') line += c;
        if (c == '\r' && line.find_first_not_of(' ') != std::string::npos) lines.push_back(line);
        if (c == '\r') line.clear();
      }
      ASSERT_FALSE(lines.empty()) << drawn.err;
      for (const std::string& l : lines) {
        EXPECT_LT(l.size(), static_cast<size_t>(columns)) << l;
        EXPECT_EQ(0u, l.find(run.label.substr(0, columns - 1))) << l;
      }
      if (columns == 80) {
        EXPECT_NE(std::string::npos, lines.front().find("[-")) << lines.front();
        EXPECT_NE(std::string::npos, lines.back().find("#] 100%")) << lines.back();
        EXPECT_NE(std::string::npos, lines.back().find("took 0:")) << lines.back();
      }
      EXPECT_EQ('\n', drawn.err.back());
    }
  }
}

}  // namespace
