// Any input packs and unpacks back to itself with both methods; a capacity
// one byte short of the packed length fails with -51, the exact one gives
// the same bytes; the stream forms, handed the input in pieces, give the
// same packed bytes and unpack them back.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Pack.h"

namespace {

using Fn = int32_t (*)(const uint8_t*, int32_t, uint8_t*, int32_t);

// Runs fn into a fresh heap block of exactly capacity bytes (so that
// AddressSanitizer sees a write past it) and copies what it produced to out.
int32_t Run(Fn fn, const std::vector<uint8_t>& in, std::vector<uint8_t>& out, int32_t capacity) {
  std::unique_ptr<uint8_t[]> buf(new uint8_t[capacity > 0 ? capacity : 1]);
  int32_t n = 0;
  int code = Guard(
      [&] { n = fn(in.empty() ? nullptr : in.data(), int32_t(in.size()), buf.get(), capacity); });
  if (code != 0) return code;
  out.assign(buf.get(), buf.get() + n);
  return n;
}

// Hands bytes to a stream form in pieces whose sizes come from the bytes
// themselves; false when it fails, else out holds what its sink was given.
template <class Make>
bool InPieces(Make make, const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
  out.clear();
  std::unique_ptr<PackStream> stream = make([&](const uint8_t* p, size_t n) {
    out.insert(out.end(), p, p + n);
    return true;
  });
  for (size_t at = 0; at < in.size();) {
    const size_t n = std::min(in.size() - at, size_t{1} + in[at] * 97u);
    if (!stream->Write(in.data() + at, n)) return false;
    at += n;
  }
  return stream->Finish() == int64_t(out.size());
}

void RoundTrip(Fn pack, Fn unpack, const std::vector<uint8_t>& in, int32_t bound) {
  std::vector<uint8_t> packed, again, back;
  int32_t n = Run(pack, in, packed, bound);
  if (n < 0) std::abort();  // the bound is above the worst case
  if (Run(pack, in, again, n) != n || std::memcmp(again.data(), packed.data(), size_t(n)) != 0)
    std::abort();
  if (n > 0 && Run(pack, in, again, n - 1) != ERR_PACK) std::abort();
  int32_t m = Run(unpack, packed, back, int32_t(in.size()));
  if (m != int32_t(in.size()) || (m > 0 && std::memcmp(back.data(), in.data(), size_t(m)) != 0))
    std::abort();
  std::vector<uint8_t> streamed;
  const bool lz = pack == LzPack;
  const int64_t size = int64_t(in.size());
  if (!InPieces(lz ? NewLzPackStream : NewRlePackStream, in, streamed) || streamed != packed)
    std::abort();
  auto unpacker = [&](PackSink sink) {
    return lz ? NewLzUnpackStream(sink, size) : NewRleUnpackStream(sink, size);
  };
  if (!InPieces(unpacker, packed, streamed) || streamed != in) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<uint8_t> in(data, data + size);
  int32_t n = int32_t(size);
  // LZ: one control bit per literal, plus the end token and a final word.
  RoundTrip(LzPack, LzUnpack, in, n + n / 8 + 16);
  // RLE: no more token bytes than input bytes plus one per stretch, one flag
  // byte per eight, and the leading byte.
  RoundTrip(RlePack, RleUnpack, in, 3 * n + 16);
  return 0;
}
