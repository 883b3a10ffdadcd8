// Arbitrary bytes to both unpackers with an arbitrary expected size: each
// either produces at most that many bytes or reports -51, and neither reads
// nor writes outside its buffers (the input and output are heap blocks of
// exactly their size, watched by AddressSanitizer). The stream forms, handed
// the bytes in pieces, give the same bytes or the same failure.
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

void Check(int32_t (*unpack)(const uint8_t*, int32_t, uint8_t*, int32_t), const uint8_t* src,
           size_t n, int32_t capacity) {
  std::unique_ptr<uint8_t[]> in(new uint8_t[n > 0 ? n : 1]);
  if (n > 0) std::memcpy(in.get(), src, n);
  std::unique_ptr<uint8_t[]> out(new uint8_t[capacity > 0 ? capacity : 1]);
  int32_t produced = 0;
  int code = Guard([&] { produced = unpack(in.get(), int32_t(n), out.get(), capacity); });
  if (code != 0 && code != ERR_PACK) std::abort();
  if (code == 0 && (produced < 0 || produced > capacity)) std::abort();
  // Without a frame the same stream gives the same outcome as a result.
  int32_t again = unpack(in.get(), int32_t(n), out.get(), capacity);
  if (again != (code != 0 ? code : produced)) std::abort();

  std::vector<uint8_t> streamed;
  bool ok = true;
  auto sink = [&](const uint8_t* p, size_t k) {
    streamed.insert(streamed.end(), p, p + k);
    return true;
  };
  std::unique_ptr<PackStream> stream =
      unpack == LzUnpack ? NewLzUnpackStream(sink, capacity) : NewRleUnpackStream(sink, capacity);
  for (size_t at = 0; ok && at < n;) {
    const size_t k = std::min(n - at, size_t{1} + src[at] * 31u);
    ok = stream->Write(src + at, k);
    at += k;
  }
  const int64_t result = stream->Finish();
  const bool failed = !ok || result < 0;
  if (failed != (code != 0)) std::abort();
  if (!failed &&
      (result != produced || streamed.size() != size_t(produced) ||
       (produced > 0 && std::memcmp(streamed.data(), out.get(), streamed.size()) != 0))) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  // The first three bytes give the expected size (up to 256 KiB: larger
  // buffers only slow the runs down); the rest is the stream.
  int32_t capacity = int32_t((data[0] | data[1] << 8 | data[2] << 16) & 0x3FFFF);
  Check(LzUnpack, data + 3, size - 3, capacity);
  Check(RleUnpack, data + 3, size - 3, capacity);
  return 0;
}
