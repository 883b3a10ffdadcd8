// `updkit lz` and `updkit rle`: pack and unpack raw streams of the two pack
// methods (LZ: from the first control word to the end token; RLE: from the
// leading 0x01), the bytes that a record or package chunk holds.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Pack.h"
#include "tools/updkit/Command.h"
#include "update/FileReplacement.h"

namespace {

constexpr int64_t kDefaultUnpackLimit = int64_t{1} << 30;  // 1 GiB
constexpr uint32_t kBlock = 64 * 1024;                     // read at once

using PackFn = int32_t (*)(const uint8_t*, int32_t, uint8_t*, int32_t);

struct Method {
  const char* name;
  PackFn pack;
  PackFn unpack;
};

const Method kLz = {"lz", LzPack, LzUnpack};
const Method kRle = {"rle", RlePack, RleUnpack};

// Packs IN into OUT a piece at a time: neither is ever whole in memory.
int Pack(const Method& m, const char* inPath, const char* outPath, int64_t capacity) {
  plat::Env& env = *plat::Env::Default();
  std::unique_ptr<plat::File> in;
  uint64_t size = 0;
  if (env.Open(inPath, plat::Access::Read, plat::Share::Read, plat::Disposition::OpenExisting,
               plat::ATTR_NORMAL, &in) != 0 ||
      in->Size(&size) != 0) {
    return UpdkitFail("cannot read '%s'", inPath);
  }
  if (size > INT32_MAX) return UpdkitFail("'%s' is larger than 2 GiB", inPath);
  if (capacity < 0) capacity = static_cast<int64_t>(size);
  FileReplacement out(env);
  if (!out.Begin(outPath, plat::ATTR_NORMAL)) return UpdkitFail("cannot write '%s'", outPath);

  int64_t written = 0;
  bool tooLong = false;
  PackSink sink = [&](const uint8_t* bytes, size_t n) {
    uint32_t put = 0;
    if (static_cast<int64_t>(n) > capacity - written) return !(tooLong = true);
    if (out.file().Write(bytes, static_cast<uint32_t>(n), &put) != 0 || put != n) return false;
    written += static_cast<int64_t>(n);
    return true;
  };
  std::unique_ptr<LzPackStream> lz;
  std::unique_ptr<RlePackStream> rle;
  int code = Guard([&] {
    if (m.pack == LzPack) {
      lz.reset(new LzPackStream(sink));
    } else {
      rle.reset(new RlePackStream(sink));
    }
  });
  if (code != 0) return UpdkitFail("%s pack: failed with code %d", m.name, code);
  auto write = [&](const uint8_t* p, size_t n) { return lz ? lz->Write(p, n) : rle->Write(p, n); };

  std::vector<uint8_t> block(kBlock);
  uint64_t read = 0;
  bool ok = true;
  for (;;) {
    uint32_t got = 0;
    if (in->Read(block.data(), kBlock, &got) != 0) return UpdkitFail("cannot read '%s'", inPath);
    if (got == 0) break;
    read += got;
    if (read > INT32_MAX) return UpdkitFail("'%s' is larger than 2 GiB", inPath);
    if (!(ok = write(block.data(), got))) break;
  }
  if (ok) ok = lz ? lz->Finish() : rle->Finish();
  if (tooLong) {
    return UpdkitFail(
        "%s pack: the packed stream of '%s' would exceed %lld bytes (code %d); "
        "--capacity N allows more",
        m.name, inPath, static_cast<long long>(capacity), ERR_PACK);
  }
  if (!ok || out.Commit() != 0) return UpdkitFail("cannot write '%s'", outPath);
  std::printf("%s: %llu bytes packed to %lld\n", inPath, static_cast<unsigned long long>(read),
              static_cast<long long>(written));
  return 0;
}

// Unpacks IN into OUT a piece at a time, as Pack does.
int Unpack(const Method& m, const char* inPath, const char* outPath, int64_t size) {
  plat::Env& env = *plat::Env::Default();
  std::unique_ptr<plat::File> in;
  if (env.Open(inPath, plat::Access::Read, plat::Share::Read, plat::Disposition::OpenExisting,
               plat::ATTR_NORMAL, &in) != 0) {
    return UpdkitFail("cannot read '%s'", inPath);
  }
  FileReplacement out(env);
  if (!out.Begin(outPath, plat::ATTR_NORMAL)) return UpdkitFail("cannot write '%s'", outPath);
  const int64_t most = size >= 0 ? size : kDefaultUnpackLimit;
  bool writeFailed = false;
  PackSink sink = [&](const uint8_t* bytes, size_t n) {
    uint32_t put = 0;
    if (out.file().Write(bytes, static_cast<uint32_t>(n), &put) != 0 || put != n)
      return !(writeFailed = true);
    return true;
  };
  std::unique_ptr<LzUnpackStream> lz;
  std::unique_ptr<RleUnpackStream> rle;
  int code = Guard([&] {
    if (m.unpack == LzUnpack) {
      lz.reset(new LzUnpackStream(sink, most));
    } else {
      rle.reset(new RleUnpackStream(sink, most));
    }
  });
  if (code != 0) return UpdkitFail("%s unpack: failed with code %d", m.name, code);

  std::vector<uint8_t> block(kBlock);
  uint64_t read = 0;
  for (bool ok = true; ok;) {
    uint32_t got = 0;
    if (in->Read(block.data(), kBlock, &got) != 0) return UpdkitFail("cannot read '%s'", inPath);
    if (got == 0) break;
    read += got;
    ok = lz ? lz->Write(block.data(), got) : rle->Write(block.data(), got);
  }
  const int64_t n = lz ? lz->Finish() : rle->Finish();
  if (writeFailed) return UpdkitFail("cannot write '%s'", outPath);
  if (n < 0) {
    return UpdkitFail(
        "%s unpack: '%s' is a damaged %s stream or unpacks to more than %lld bytes (code %d)",
        m.name, inPath, m.name, static_cast<long long>(most), ERR_PACK);
  }
  if (size >= 0 && n != size) {
    return UpdkitFail("%s unpack: '%s' unpacks to %lld bytes, expected %lld (code %d)", m.name,
                      inPath, static_cast<long long>(n), static_cast<long long>(size), ERR_PACK);
  }
  if (out.Commit() != 0) return UpdkitFail("cannot write '%s'", outPath);
  std::printf("%s: %llu bytes unpacked to %lld\n", inPath, static_cast<unsigned long long>(read),
              static_cast<long long>(n));
  return 0;
}

// Runs an action, and says so when its buffers cannot be had.
int Guarded(const Method& m, const char* action, const std::function<int()>& run) {
  try {
    return run();
  } catch (const std::bad_alloc&) {
    return UpdkitFail("%s %s: not enough memory", m.name, action);
  }
}

Command MethodCommand(const Method& m, const char* summary) {
  const std::string name = m.name;
  return Command{
      m.name,
      summary,
      {
          {"pack",
           {"IN", "OUT"},
           {Number("--capacity", "N", 0, INT32_MAX)},
           "Packs the bytes of IN into OUT as a raw " + name +
               " stream. The packed\n"
               "stream may hold at most N bytes (default: the length of IN, as a\n"
               "record store allows); a larger one fails.\n",
           [m](const Args& a) {
             return Guarded(m, "pack", [&] {
               return Pack(m, a.word(0), a.word(1), a.Number("--capacity", -1));
             });
           }},
          {"unpack",
           {"IN", "OUT"},
           {Number("--size", "N", 0, INT32_MAX)},
           "Unpacks the raw " + name +
               " stream IN into OUT. With --size N the stream\n"
               "must unpack to exactly N bytes; without it, to at most 1 GiB.\n",
           [m](const Args& a) {
             return Guarded(m, "unpack", [&] {
               return Unpack(m, a.word(0), a.word(1), a.Number("--size", -1));
             });
           }},
      },
  };
}

const Command kLzCommand = MethodCommand(kLz, "pack or unpack a raw LZ stream");
const Command kRleCommand = MethodCommand(kRle, "pack or unpack a raw run-length stream");

}  // namespace

UPDKIT_COMMAND(lz, kLzCommand);
UPDKIT_COMMAND(rle, kRleCommand);
