// `updkit lz` and `updkit rle` run as processes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/ourlib/PackTestKit.h"
#include "tests/support/TestPaths.h"

namespace {

using namespace packtest;
using testing_support::FolderNames;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::UpdkitPath;
using testing_support::WriteFileBytes;

std::string AsString(const Bytes& b) { return std::string(b.begin(), b.end()); }
Bytes AsBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Runs updkit with the arguments; true when it exits with status 0. Its
// standard error goes to err.txt in dir.
bool Updkit(const TempDir& dir, const std::string& args) {
  std::string line = "\"" + UpdkitPath() + "\" " + args + " > \"" + (dir / "out.txt") + "\" 2> \"" +
                     (dir / "err.txt") + "\"";
  // cmd.exe drops the first and last quote of its command line.
  if (std::string(UPD_EXE_SUFFIX) == ".exe") line = "\"" + line + "\"";
  return std::system(line.c_str()) == 0;
}

std::string Quoted(const TempDir& dir, const char* name) { return "\"" + (dir / name) + "\""; }

TEST(UpdkitPack, PacksAndUnpacksFilesLikeTheLibrary) {
  struct Method {
    const char* name;
    PackFn pack;
  } methods[] = {{"lz", LzPack}, {"rle", RlePack}};
  TempDir dir;
  Bytes data = Bitmap(200000, 31);  // read and packed in several pieces
  WriteFileBytes(dir / "in.bin", AsString(data));
  const std::string in = Quoted(dir, "in.bin"), packed = Quoted(dir, "packed.bin"),
                    out = Quoted(dir, "out.bin");
  // OUT is replaced whole, never written in place: a second link to the old
  // file keeps the old bytes.
  WriteFileBytes(dir / "packed.bin", "old bytes");
  std::filesystem::create_hard_link(dir / "packed.bin", dir / "old.bin");
  for (const Method& m : methods) {
    SCOPED_TRACE(m.name);
    const std::string cmd = std::string(m.name) + " ";
    ASSERT_TRUE(Updkit(dir, cmd + "pack " + in + " " + packed));
    EXPECT_EQ(ReadFileBytes(dir / "old.bin"), "old bytes");
    Result lib = Call(m.pack, data, int32_t(data.size()));
    ASSERT_EQ(lib.code, 0);
    EXPECT_EQ(AsBytes(ReadFileBytes(dir / "packed.bin")), lib.out);

    EXPECT_TRUE(Updkit(dir, cmd + "unpack " + packed + " " + out));
    EXPECT_EQ(AsBytes(ReadFileBytes(dir / "out.bin")), data);
    EXPECT_TRUE(Updkit(
        dir, cmd + "unpack " + packed + " " + out + " --size " + std::to_string(data.size())));
    EXPECT_EQ(AsBytes(ReadFileBytes(dir / "out.bin")), data);
    // A size that is not the stream's length fails either way.
    EXPECT_FALSE(Updkit(
        dir, cmd + "unpack " + packed + " " + out + " --size " + std::to_string(data.size() - 1)));
    EXPECT_FALSE(Updkit(
        dir, cmd + "unpack " + packed + " " + out + " --size " + std::to_string(data.size() + 1)));
    EXPECT_NE(ReadFileBytes(dir / "err.txt").find("expected"), std::string::npos);
  }
  EXPECT_EQ(FolderNames(dir.path()), (std::vector<std::string>{"err.txt", "in.bin", "old.bin",
                                                               "out.bin", "out.txt", "packed.bin"}))
      << "nothing is left beside OUT";
}

TEST(UpdkitPack, DataThatDoesNotPackNeedsACapacity) {
  TempDir dir;
  Bytes noise = Random(3000, 32);
  WriteFileBytes(dir / "noise.bin", AsString(noise));
  const std::string in = Quoted(dir, "noise.bin"), packed = Quoted(dir, "packed.bin");
  for (const char* name : {"lz", "rle"}) {
    SCOPED_TRACE(name);
    const std::string cmd = std::string(name) + " ";
    EXPECT_FALSE(Updkit(dir, cmd + "pack " + in + " " + packed));
    EXPECT_NE(ReadFileBytes(dir / "err.txt").find("-51"), std::string::npos);
    EXPECT_TRUE(Updkit(dir, cmd + "pack " + in + " " + packed + " --capacity 4000"));
    EXPECT_TRUE(
        Updkit(dir, cmd + "unpack " + packed + " " + Quoted(dir, "back.bin") + " --size 3000"));
    EXPECT_EQ(AsBytes(ReadFileBytes(dir / "back.bin")), noise);
  }
}

TEST(UpdkitPack, BadStreamsAndArgumentsFail) {
  TempDir dir;
  WriteFileBytes(dir / "junk.bin", std::string("\x01\x00\xC0\x10junk", 8));
  const std::string junk = Quoted(dir, "junk.bin"), out = Quoted(dir, "out.bin");
  EXPECT_FALSE(Updkit(dir, "lz unpack " + junk + " " + out));
  EXPECT_NE(ReadFileBytes(dir / "err.txt").find("damaged lz stream"), std::string::npos);
  EXPECT_FALSE(Updkit(dir, "rle unpack " + junk + " " + out + " --size 16"));
  EXPECT_FALSE(Updkit(dir, "rle unpack " + Quoted(dir, "missing.bin") + " " + out));
  EXPECT_NE(ReadFileBytes(dir / "err.txt").find("cannot read"), std::string::npos);
  EXPECT_FALSE(Updkit(dir, "lz pack " + junk + " " + out + " --capacity -3"));
  EXPECT_NE(ReadFileBytes(dir / "err.txt")
                .find("updkit lz pack: --capacity takes a number from 0 to 2147483647"),
            std::string::npos);
  EXPECT_FALSE(Updkit(dir, "lz pack " + junk + " " + out + " --size 3"));
  EXPECT_NE(ReadFileBytes(dir / "err.txt").find("updkit lz pack: --size belongs to unpack"),
            std::string::npos);
  EXPECT_FALSE(Updkit(dir, "lz squeeze " + junk + " " + out));
  EXPECT_FALSE(Updkit(dir, "rle pack " + junk));
  EXPECT_TRUE(Updkit(dir, "lz --help"));
  EXPECT_NE(ReadFileBytes(dir / "out.txt").find("updkit lz pack IN OUT"), std::string::npos);
  EXPECT_TRUE(Updkit(dir, "rle --help"));
  EXPECT_NE(ReadFileBytes(dir / "out.txt").find("updkit rle unpack IN OUT"), std::string::npos);
}

}  // namespace
