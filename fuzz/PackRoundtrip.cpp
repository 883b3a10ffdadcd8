// Any input packs and unpacks back to itself with both methods; a capacity
// one byte short of the packed length fails with -51, the exact one gives
// the same bytes.
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
