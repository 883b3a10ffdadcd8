// Damaged packages and entries aimed outside the destination: each is
// refused with its code and path, before anything is written, and nothing
// is read outside the file or the buffers (run under AddressSanitizer).
#include <functional>

#include "tests/update/PackageTestKit.h"

namespace pkgtest {
namespace {

using BadPackage = InstallScene;

// A sound package of two entries; each case damages it in one place.
Built Sound() {
  return Build(
      {File("first.txt", Text(3000), "one", true), File("second.bin", Noise(1500), "two")});
}

struct Damage {
  const char* what;
  std::function<void(Built&)> apply;
};

void SetU32(Built& b, size_t at, uint32_t v) { PutU32(b.bytes, at, v); }

TEST_F(BadPackage, OutOfBoundsFieldsAreReadFailures) {
  const Damage cases[] = {
      {"directory offset past the file",
       [](Built& b) { SetU32(b, b.bytes.size() - 8, 0xFFFFFFF0u); }},
      {"directory offset inside the trailer",
       [](Built& b) { SetU32(b, b.bytes.size() - 8, static_cast<uint32_t>(b.bytes.size() - 6)); }},
      {"directory offset before the data", [](Built& b) { SetU32(b, b.bytes.size() - 8, 10); }},
      {"entry count past the directory", [](Built& b) { SetU32(b, b.bytes.size() - 4, 3); }},
      {"huge entry count", [](Built& b) { SetU32(b, b.bytes.size() - 4, 0xFFFFFFFFu); }},
      {"entry length past the file",
       [](Built& b) { SetU32(b, b.entryOffsets[1] - 4, 0x10000000u); }},
      {"entry shorter than its fixed fields",
       [](Built& b) { SetU32(b, b.entryOffsets[1] - 4, 100); }},
      {"chunk count past the entry",
       [](Built& b) { SetU32(b, b.entryOffsets[0] + pkg::kEntryChunkCount, 4); }},
      {"huge chunk count",
       [](Built& b) { SetU32(b, b.entryOffsets[1] + pkg::kEntryChunkCount, 0x40000000u); }},
      {"chunk size 0 KiB", [](Built& b) { b.bytes[b.entryOffsets[1] + pkg::kEntryChunkKiB] = 0; }},
      {"packed chunk larger than the input buffer",
       [](Built& b) { SetU32(b, b.entryOffsets[0] + pkg::kEntryChunkSizes, 2049); }},
      {"stored chunk larger than the output buffer",
       [](Built& b) { SetU32(b, b.entryOffsets[1] + pkg::kEntryChunkSizes, 1025); }},
      {"chunks running into the directory",
       [](Built& b) {
         SetU32(b, b.entryOffsets[1] + pkg::kEntryChunkSizes + 4, 1024);  // last chunk: 476 -> 1024
       }},
      {"unterminated name",
       [](Built& b) {
         std::memset(&b.bytes[b.entryOffsets[1] + pkg::kEntryName], 'n', pkg::kTextField);
       }},
      {"unterminated folder",
       [](Built& b) {
         std::memset(&b.bytes[b.entryOffsets[0] + pkg::kEntryFolder], 'f', pkg::kTextField);
       }},
      {"package cut inside its trailer", [](Built& b) { b.bytes.resize(pkg::kDataStart + 5); }},
      {"only the letters", [](Built& b) { b.bytes = "PQ"; }},
  };
  for (const Damage& d : cases) {
    SCOPED_TRACE(d.what);
    Built b = Sound();
    d.apply(b);
    Ship("bad.pq", b.bytes);
    EXPECT_EQ(-2, Install("bad.pq"));
    EXPECT_EQ(Source("bad.pq"), failed);
    // Checked before anything is installed.
    EXPECT_FALSE(Exists("one"));
    EXPECT_TRUE(sink.filesUpdated.empty());
  }
}

TEST_F(BadPackage, PackedChunkThatDoesNotUnpackWithinTheChunkSize) {
  // Packed as 4 KiB chunks, then labelled 1 KiB: the first chunk unpacks to
  // 4096 bytes into a 1024-byte buffer. Its packed size still fits 2 KiB.
  FileSpec f = File("long.txt", std::string(4096, 'z'), "", true, 4);
  Built b = Build({f});
  ASSERT_LE(b.bytes.size(), 2048u);
  b.bytes[b.entryOffsets[0] + pkg::kEntryChunkKiB] = 1;
  Ship("over.pq", b.bytes);
  EXPECT_EQ(-2, Install("over.pq"));
  EXPECT_EQ(Source("over.pq"), failed);
  EXPECT_TRUE(sink.filesUpdated.empty());
}

TEST_F(BadPackage, GarbledPackedChunk) {
  Built b = Build({File("g.txt", Text(1000), "", true)});
  for (size_t i = pkg::kDataStart; i < b.dirOffset; ++i) b.bytes[i] = static_cast<char>(0x00);
  Ship("garbled.pq", b.bytes);
  EXPECT_EQ(-2, Install("garbled.pq"));
  EXPECT_EQ(Source("garbled.pq"), failed);
}

struct Escape {
  const char* name;
  const char* folder;
  bool hasFolder;
  const char* failedRel;  // below the destination, in the installer's spelling
};

TEST_F(BadPackage, EntriesMayNotLeaveTheDestination) {
  const Escape cases[] = {
      {"..", "", false, ".."},
      {"...", "", false, "..."},
      {"a\\b.txt", "", false, "a\\b.txt"},
      {"../up.txt", "", false, "../up.txt"},
      {"c:x.txt", "", false, "c:x.txt"},
      {"x.txt", "\\abs", true, "\\abs"},
      {"x.txt", "/abs", true, "/abs"},
      {"x.txt", "C:\\Windows", true, "C:\\Windows"},
      {"x.txt", "..", true, ".."},
      {"x.txt", "a\\..\\..\\b", true, "a\\..\\..\\b"},
      {"x.txt", "a\\.. \\b", true, "a\\.. \\b"},
  };
  for (const Escape& e : cases) {
    SCOPED_TRACE(std::string(e.name) + " in " + e.folder);
    FileSpec bad = File(e.name, "escaped");
    bad.folder = e.folder;
    bad.hasFolder = e.hasFolder;
    // A sound entry ahead of it is not installed either.
    Ship("esc.pq", Build({File("ok.txt", "fine", "ok"), bad}).bytes);
    EXPECT_EQ(-5, Install("esc.pq"));
    EXPECT_EQ(Dest(e.failedRel), failed);
    EXPECT_FALSE(Exists("ok"));
  }
}

TEST_F(BadPackage, FoldersThatStayInsideAreInstalled) {
  FileSpec ignored = File("flagless.txt", "3", "..\\..");
  ignored.hasFolder = false;  // the folder field is not used at all
  Ship("in.pq",
       Build({File("in.txt", "1", "a\\..\\b"), File("dot.txt", "2", ".\\c\\."), ignored}).bytes);
  ASSERT_EQ(0, Install("in.pq"));
  EXPECT_EQ("1", Read("b/in.txt"));
  EXPECT_EQ("2", Read("c/dot.txt"));
  EXPECT_EQ("3", Read("flagless.txt"));
}

TEST_F(BadPackage, PathsTooLongForTheirFieldsAreRefused) {
  const std::string deep(200, 'd');
  Ship("long.pq", Build({File(std::string(200, 'n'), "x", deep)}).bytes);
  const int rc = Install("long.pq");
  EXPECT_TRUE(rc == -5 || rc == -8) << rc;
  EXPECT_FALSE(Exists(deep));
}

}  // namespace
}  // namespace pkgtest
