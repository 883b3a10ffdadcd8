// `updkit lz` and `updkit rle`: pack and unpack raw streams of the two pack
// methods (LZ: from the first control word to the end token; RLE: from the
// leading 0x01), the bytes that a record or package chunk holds.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Pack.h"
#include "tools/updkit/Command.h"
#include "tools/updkit/WholeFile.h"

namespace {

constexpr int64_t kDefaultUnpackLimit = int64_t{1} << 30;  // 1 GiB

using PackFn = int32_t (*)(const uint8_t*, int32_t, uint8_t*, int32_t);

struct Method {
  const char* name;
  PackFn pack;
  PackFn unpack;
};

const Method kLz = {"lz", LzPack, LzUnpack};
const Method kRle = {"rle", RlePack, RleUnpack};

void Help(const Method& m, FILE* out) {
  std::fprintf(out,
               "usage: updkit %s pack IN OUT [--capacity N]\n"
               "       updkit %s unpack IN OUT [--size N]\n"
               "\n"
               "pack     packs the bytes of IN into OUT as a raw %s stream. The packed\n"
               "         stream may hold at most N bytes (default: the length of IN, as\n"
               "         a record store allows); a larger one fails.\n"
               "unpack   unpacks the raw stream IN into OUT. With --size N the stream\n"
               "         must unpack to exactly N bytes; without it, to at most 1 GiB.\n",
               m.name, m.name, m.name);
}

bool ParseCount(const char* text, int64_t limit, int64_t& value) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < 0 || v > limit) return false;
  value = v;
  return true;
}

// Runs a pack function under an error frame: the result, or the code raised.
int32_t Call(PackFn fn, const uint8_t* src, size_t n, uint8_t* dst, int64_t capacity) {
  int32_t result = 0;
  int code = Guard([&] {
    result = fn(src, static_cast<int32_t>(n), dst, static_cast<int32_t>(capacity));
  });
  return code != 0 ? code : result;
}

int Pack(const Method& m, const char* inPath, const char* outPath, int64_t capacity) {
  std::vector<uint8_t> in;
  if (!ReadWholeFile(inPath, &in)) return UpdkitFail("cannot read '%s'", inPath);
  if (in.size() > INT32_MAX) return UpdkitFail("'%s' is larger than 2 GiB", inPath);
  if (capacity < 0) capacity = static_cast<int64_t>(in.size());
  std::unique_ptr<uint8_t[]> out(new uint8_t[static_cast<size_t>(capacity) + 1]);
  int32_t n = Call(m.pack, in.data(), in.size(), out.get(), capacity);
  if (n == ERR_PACK) {
    return UpdkitFail("%s pack: the packed stream of '%s' would exceed %lld bytes (code %d); "
                      "--capacity N allows more",
                      m.name, inPath, static_cast<long long>(capacity), n);
  }
  if (n < 0) return UpdkitFail("%s pack: failed with code %d", m.name, n);
  if (!WriteWholeFile(outPath, out.get(), static_cast<size_t>(n))) return UpdkitFail("cannot write '%s'", outPath);
  std::printf("%s: %zu bytes packed to %d\n", inPath, in.size(), n);
  return 0;
}

int Unpack(const Method& m, const char* inPath, const char* outPath, int64_t size) {
  std::vector<uint8_t> in;
  if (!ReadWholeFile(inPath, &in)) return UpdkitFail("cannot read '%s'", inPath);
  if (in.size() > INT32_MAX) return UpdkitFail("'%s' is larger than 2 GiB", inPath);
  // Without an expected size the buffer grows by doubling up to the limit, so
  // a small stream does not claim a gigabyte.
  int64_t capacity = size >= 0 ? size : std::min<int64_t>(kDefaultUnpackLimit, 65536 + 16 * int64_t(in.size()));
  for (;;) {
    std::unique_ptr<uint8_t[]> out(new uint8_t[static_cast<size_t>(capacity) + 1]);
    int32_t n = Call(m.unpack, in.data(), in.size(), out.get(), capacity);
    if (n == ERR_PACK && size < 0 && capacity < kDefaultUnpackLimit) {
      capacity = std::min<int64_t>(kDefaultUnpackLimit, capacity * 2);
      continue;
    }
    if (n == ERR_PACK) {
      return UpdkitFail("%s unpack: '%s' is a damaged %s stream or unpacks to more than %lld bytes (code %d)",
                        m.name, inPath, m.name, static_cast<long long>(capacity), n);
    }
    if (n < 0) return UpdkitFail("%s unpack: failed with code %d", m.name, n);
    if (size >= 0 && n != size) {
      return UpdkitFail("%s unpack: '%s' unpacks to %d bytes, expected %lld (code %d)", m.name, inPath, n,
                        static_cast<long long>(size), ERR_PACK);
    }
    if (!WriteWholeFile(outPath, out.get(), static_cast<size_t>(n))) return UpdkitFail("cannot write '%s'", outPath);
    std::printf("%s: %zu bytes unpacked to %d\n", inPath, in.size(), n);
    return 0;
  }
}

int Run(const Method& m, int argc, char** argv) {
  std::vector<const char*> words;
  int64_t capacity = -1;
  int64_t size = -1;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      Help(m, stdout);
      return 0;
    }
    if (std::strcmp(a, "--capacity") == 0 || std::strcmp(a, "--size") == 0) {
      bool isCapacity = a[2] == 'c';
      int64_t& target = isCapacity ? capacity : size;
      if (!ParseCount(i + 1 < argc ? argv[i + 1] : nullptr, INT32_MAX, target)) {
        return UpdkitFail("%s: %s needs a number of bytes from 0 to %d", m.name, a, INT32_MAX);
      }
      ++i;
      continue;
    }
    if (a[0] == '-' && a[1] == '-') return UpdkitFail("%s: unknown option '%s' (see --help)", m.name, a);
    words.push_back(a);
  }
  if (words.size() != 3) {
    Help(m, stderr);
    return 2;
  }
  bool pack = std::strcmp(words[0], "pack") == 0;
  if (!pack && std::strcmp(words[0], "unpack") != 0) {
    return UpdkitFail("%s: unknown action '%s' (pack or unpack)", m.name, words[0]);
  }
  if (pack && size >= 0) return UpdkitFail("%s pack: --size belongs to unpack", m.name);
  if (!pack && capacity >= 0) return UpdkitFail("%s unpack: --capacity belongs to pack (use --size)", m.name);
  try {
    return pack ? Pack(m, words[1], words[2], capacity) : Unpack(m, words[1], words[2], size);
  } catch (const std::bad_alloc&) {
    return UpdkitFail("%s %s: not enough memory for the output buffer", m.name, words[0]);
  }
}

int RunLz(int argc, char** argv) { return Run(kLz, argc, argv); }
int RunRle(int argc, char** argv) { return Run(kRle, argc, argv); }

}  // namespace

UPDKIT_COMMAND(lz, "lz", "pack or unpack a raw LZ stream", RunLz);
UPDKIT_COMMAND(rle, "rle", "pack or unpack a raw run-length stream", RunRle);
