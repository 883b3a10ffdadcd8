// `updkit lz` and `updkit rle`: pack and unpack raw streams of the two pack
// methods (LZ: from the first control word to the end token; RLE: from the
// leading 0x01), the bytes that a record or package chunk holds.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Pack.h"
#include "tools/updkit/Command.h"
#include "tools/updkit/Progress.h"
#include "update/FileReplacement.h"

namespace {

constexpr int64_t kDefaultUnpackLimit = int64_t{1} << 30;  // 1 GiB
constexpr uint32_t kBlock = 64 * 1024;                     // read at once
// Inputs from this size on show a progress line, moved by the bytes read.
constexpr uint64_t kProgressFrom = uint64_t{1} << 20;

struct Method {
  const char* name;
  std::unique_ptr<PackStream> (*pack)(PackSink sink);
  std::unique_ptr<PackStream> (*unpack)(PackSink sink, int64_t most);
};

const Method kLz = {"lz", NewLzPackStream, NewLzUnpackStream};
const Method kRle = {"rle", NewRlePackStream, NewRleUnpackStream};

// What a run of IN through a stream into OUT came to.
struct Transfer {
  const char* failure = nullptr;  // "cannot read", ...: what went wrong
  const char* path = "";          // and with which file
  uint64_t read = 0;              // bytes of IN
  int64_t result = 0;             // what the stream's Finish gave
  bool tooLong = false;           // OUT would have passed its capacity
};

// Runs IN through the stream that make(sink) makes into OUT, 64 KiB at a
// time: neither is ever whole in memory. OUT is written beside and renamed
// over the old one only when the stream finished well and commit(result)
// agrees; at most capacity bytes go to OUT. A large IN shows a progress
// line called label.
template <class Make, class Commit>
Transfer Run(const std::string& label, const char* inPath, const char* outPath, int64_t capacity,
             Make make, Commit commit) {
  Transfer t;
  plat::Env& env = *plat::Env::Default();
  std::unique_ptr<plat::File> in;
  uint64_t size = 0;
  if (env.Open(inPath, plat::Access::Read, plat::Share::Read, plat::Disposition::OpenExisting,
               plat::ATTR_NORMAL, &in) != 0 ||
      in->Size(&size) != 0) {
    t.failure = "cannot read";
    t.path = inPath;
    return t;
  }
  FileReplacement out(env);
  if (!out.Begin(outPath, plat::ATTR_NORMAL)) {
    t.failure = "cannot write";
    t.path = outPath;
    return t;
  }
  int64_t written = 0;
  bool writeFailed = false;
  std::unique_ptr<PackStream> stream;
  const int code = Guard([&] {
    stream = make([&](const uint8_t* bytes, size_t n) {
      uint32_t put = 0;
      if (static_cast<int64_t>(n) > capacity - written) return !(t.tooLong = true);
      if (out.file().Write(bytes, static_cast<uint32_t>(n), &put) != 0 || put != n)
        return !(writeFailed = true);
      written += static_cast<int64_t>(n);
      return true;
    });
  });
  if (code != 0 || !stream) {
    t.failure = "not enough memory";
    return t;
  }
  std::optional<Progress> progress;
  if (size >= kProgressFrom) progress.emplace(label, Progress::kBytes, size);
  std::vector<uint8_t> block(kBlock);
  for (bool ok = true; ok;) {
    uint32_t got = 0;
    if (in->Read(block.data(), kBlock, &got) != 0) {
      t.failure = "cannot read";
      t.path = inPath;
      return t;
    }
    if (got == 0) break;
    t.read += got;
    if (t.read > INT32_MAX) {
      t.failure = "larger than 2 GiB:";
      t.path = inPath;
      return t;
    }
    ok = stream->Write(block.data(), got);
    if (progress) progress->Add(got);
  }
  t.result = stream->Finish();
  if (writeFailed || (t.result >= 0 && commit(t.result) && out.Commit() != 0)) {
    t.failure = "cannot write";
    t.path = outPath;
  }
  if (progress && t.failure == nullptr && t.result >= 0) progress->Done();  // before the summary
  return t;
}

int Pack(const Method& m, const char* inPath, const char* outPath, int64_t capacity) {
  if (capacity < 0) {
    // Default: as long as IN, as a record store allows.
    std::unique_ptr<plat::File> in;
    uint64_t size = 0;
    if (plat::Env::Default()->Open(inPath, plat::Access::Read, plat::Share::Read,
                                   plat::Disposition::OpenExisting, plat::ATTR_NORMAL, &in) != 0 ||
        in->Size(&size) != 0) {
      return UpdkitFail("cannot read '%s'", inPath);
    }
    capacity = static_cast<int64_t>(size);
  }
  const Transfer t = Run(m.name + std::string(" pack"), inPath, outPath, capacity, m.pack,
                         [](int64_t) { return true; });
  if (t.tooLong) {
    return UpdkitFail(
        "%s pack: the packed stream of '%s' would exceed %lld bytes (code %d); "
        "--capacity N allows more",
        m.name, inPath, static_cast<long long>(capacity), ERR_PACK);
  }
  if (t.failure != nullptr) return UpdkitFail("%s pack: %s '%s'", m.name, t.failure, t.path);
  if (t.result < 0) return UpdkitFail("%s pack: '%s' is too long for one stream", m.name, inPath);
  UpdkitPrint(stdout, "%s: %llu bytes packed to %lld\n", inPath,
              static_cast<unsigned long long>(t.read), static_cast<long long>(t.result));
  return 0;
}

int Unpack(const Method& m, const char* inPath, const char* outPath, int64_t size) {
  const int64_t most = size >= 0 ? size : kDefaultUnpackLimit;
  const Transfer t = Run(
      m.name + std::string(" unpack"), inPath, outPath, most,
      [&](PackSink sink) { return m.unpack(std::move(sink), most); },
      [&](int64_t n) { return size < 0 || n == size; });
  if (t.failure != nullptr) return UpdkitFail("%s unpack: %s '%s'", m.name, t.failure, t.path);
  if (t.result < 0) {
    return UpdkitFail(
        "%s unpack: '%s' is a damaged %s stream or unpacks to more than %lld bytes (code %d)",
        m.name, inPath, m.name, static_cast<long long>(most), ERR_PACK);
  }
  if (size >= 0 && t.result != size) {
    return UpdkitFail("%s unpack: '%s' unpacks to %lld bytes, expected %lld (code %d)", m.name,
                      inPath, static_cast<long long>(t.result), static_cast<long long>(size),
                      ERR_PACK);
  }
  UpdkitPrint(stdout, "%s: %llu bytes unpacked to %lld\n", inPath,
              static_cast<unsigned long long>(t.read), static_cast<long long>(t.result));
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
