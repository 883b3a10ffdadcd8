// Helpers of the pack tests: calls that report the raised code, a builder of
// LZ streams token by token, an independent predictor decoder that shows an
// RLE stream's tokens, and inputs of many shapes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Pack.h"

namespace packtest {

using Bytes = std::vector<uint8_t>;
using PackFn = int32_t (*)(const uint8_t*, int32_t, uint8_t*, int32_t);

// Outcome of one call: the returned length, or the code raised to the frame
// the call ran under. out holds exactly what the call produced.
struct Result {
  int32_t code = 0;  // 0, or the raised code
  Bytes out;
};

// Runs fn under an error frame into a heap buffer of exactly capacity bytes,
// so a sanitizer sees any write past it; the input is copied to a buffer of
// exactly its length for the same reason.
inline Result Call(PackFn fn, const Bytes& in, int32_t capacity) {
  Bytes src(in);
  std::unique_ptr<uint8_t[]> dst(new uint8_t[capacity > 0 ? capacity : 1]);
  int32_t n = 0;
  Result r;
  r.code = Guard([&] {
    n = fn(src.empty() ? nullptr : src.data(), int32_t(src.size()),
           capacity > 0 ? dst.get() : nullptr, capacity);
  });
  if (r.code == 0) r.out.assign(dst.get(), dst.get() + n);
  return r;
}

// What fn gives for in with capacity bytes of output; a raise fails the test.
inline Bytes Out(PackFn fn, const Bytes& in, int32_t capacity) {
  Result r = Call(fn, in, capacity);
  EXPECT_EQ(r.code, 0);
  return r.out;
}

// What a stream form gives for the bytes handed over in pieces of 1..most
// bytes: the bytes its sink was given, or ERR_PACK, as Call gives for the
// one-call form. make(sink) makes the stream.
template <class Make>
Result InPieces(Make make, const Bytes& in, size_t most, uint32_t seed) {
  std::mt19937 g(seed);
  Result r;
  std::unique_ptr<PackStream> stream = make([&](const uint8_t* p, size_t n) {
    r.out.insert(r.out.end(), p, p + n);
    return true;
  });
  bool ok = true;
  for (size_t at = 0; ok && at < in.size();) {
    const size_t n = std::min(in.size() - at, 1 + g() % most);
    ok = stream->Write(in.data() + at, n);
    at += n;
  }
  const int64_t n = stream->Finish();
  if (!ok || n < 0) return Result{ERR_PACK, {}};
  EXPECT_EQ(size_t(n), r.out.size());
  return r;
}

// The unpackers' stream forms for a stream of at most capacity bytes.
inline Result LzUnpackInPieces(const Bytes& in, int32_t capacity, size_t most, uint32_t seed) {
  return InPieces([&](PackSink s) { return NewLzUnpackStream(s, capacity); }, in, most, seed);
}
inline Result RleUnpackInPieces(const Bytes& in, int32_t capacity, size_t most, uint32_t seed) {
  return InPieces([&](PackSink s) { return NewRleUnpackStream(s, capacity); }, in, most, seed);
}

// Builds an LZ stream the way the format lays it out: a control word is
// placed in the stream as soon as the previous one is full, ahead of the data
// bytes of the token whose bit filled it.
class LzBuilder {
 public:
  LzBuilder() { NewWord(); }
  LzBuilder& Lit(uint8_t b) { return Bit(1).Byte(b); }
  LzBuilder& Short(int count, int dist) {  // count 2..5, dist 1..256
    int n = count - 2;
    return Bit(0).Bit(0).Bit(n >> 1).Bit(n & 1).Byte(uint8_t(256 - dist));
  }
  LzBuilder& Long(int count, int dist) {  // count 3..9 in B1, dist 1..8192
    int v = 8192 - dist;
    return Bit(0).Bit(1).Byte(uint8_t(v & 0xFF)).Byte(uint8_t(((v >> 8) << 3) | (count - 2)));
  }
  LzBuilder& LongB2(int b2, int dist) {  // B2: 0 end, 1 nothing, else count b2 + 1
    int v = 8192 - dist;
    return Bit(0).Bit(1).Byte(uint8_t(v & 0xFF)).Byte(uint8_t((v >> 8) << 3)).Byte(uint8_t(b2));
  }
  LzBuilder& End() { return Bit(0).Bit(1).Byte(0x00).Byte(0xF0).Byte(0x00); }
  const Bytes& bytes() const { return s_; }

 private:
  void NewWord() {
    word_ = s_.size();
    s_.push_back(0);
    s_.push_back(0);
    bits_ = 0;
  }
  LzBuilder& Bit(int b) {
    if (b) s_[word_ + bits_ / 8] = uint8_t(s_[word_ + bits_ / 8] | (1 << (bits_ % 8)));
    if (++bits_ == 16) NewWord();
    return *this;
  }
  LzBuilder& Byte(uint8_t v) {
    s_.push_back(v);
    return *this;
  }
  Bytes s_;
  size_t word_ = 0;
  int bits_ = 0;
};

// The LZ packer step by step as the game's works: a ring of 8192 bytes whose
// first 7939 are zeros, chains on the first byte and four bits of the next,
// cut at the oldest slot, walked newest first to their end with a
// byte-by-byte compare. Slow and plain, to check the product's packer by.
inline Bytes ReferenceLzPack(const Bytes& in) {
  constexpr int kRing = 8192, kLook = 253, kMask = kRing - 1;
  std::vector<uint8_t> ring(kRing + kLook - 1, 0);
  std::vector<int> head(4096, -1), older(kRing, -1), newer(kRing, -1), key(kRing, 0);
  std::vector<bool> linked(kRing, false);
  auto keyAt = [&](int p) { return ring[p] | ((ring[p + 1] & 0x0F) << 8); };
  auto insert = [&](int p) {
    key[p] = keyAt(p);
    older[p] = head[key[p]];
    newer[p] = -1;
    if (older[p] >= 0) newer[older[p]] = p;
    head[key[p]] = p;
    linked[p] = true;
  };
  auto cut = [&](int p) {
    if (!linked[p]) return;
    (newer[p] < 0 ? head[key[p]] : older[newer[p]]) = older[p];
    if (older[p] >= 0) newer[older[p]] = newer[p];
    linked[p] = false;
  };
  int len = 0, dist = 0;
  auto search = [&](int r) {
    len = 0;
    for (int p = head[keyAt(r)]; p >= 0; p = older[p]) {
      int i = 1;
      while (i < kLook && ring[p + i] == ring[r + i]) ++i;
      if (i > len) {
        len = i;
        dist = (r - p) & kMask;
        if (i == kLook) break;
      }
    }
    insert(r);
  };
  LzBuilder out;
  int r = kRing - kLook;
  size_t next = 0;
  int lookahead = 0;
  for (; lookahead < kLook && next < in.size(); ++lookahead) ring[r + lookahead] = in[next++];
  if (lookahead > 0) search(r);
  while (lookahead > 0) {
    int n = len < lookahead ? len : lookahead;
    if (n < 2 || (n == 2 && dist >= 256)) {
      out.Lit(ring[r]);
      n = 1;
    } else if (n <= 5 && dist < 256) {
      out.Short(n, dist);
    } else if (n <= 9) {
      out.Long(n, dist);
    } else {
      out.LongB2(n - 1, dist);
    }
    for (int i = 0; i < n; ++i) {
      const int slot = (r + kLook) & kMask;
      cut(slot);
      if (next < in.size()) {
        ring[slot] = in[next++];
        if (slot < kLook - 1) ring[slot + kRing] = ring[slot];
      } else {
        --lookahead;
      }
      r = (r + 1) & kMask;
      if (i + 1 < n) insert(r);
    }
    if (lookahead > 0) search(r);
  }
  return out.End().bytes();
}

// The token bytes of an RLE stream, undoing the predictor (flag bit set: the
// byte last seen after the same two bytes). Stops after the end token.
inline Bytes RleTokenBytes(const Bytes& packed) {
  std::vector<uint8_t> table(65536, 0);
  Bytes tokens;
  size_t in = 1;
  unsigned ctx = 0;
  int k = 8;
  uint8_t flags = 0;
  auto next = [&](uint8_t& b) {
    if (k == 8) {
      if (in >= packed.size()) return false;
      flags = packed[in++];
      k = 0;
    }
    if (flags & (1 << k)) {
      b = table[ctx];
    } else {
      if (in >= packed.size()) return false;
      b = packed[in++];
      table[ctx] = b;
    }
    ++k;
    ctx = ((ctx << 8) | b) & 0xFFFF;
    tokens.push_back(b);
    return true;
  };
  uint8_t t, low = 0, b;
  while (next(t) && t != 0) {
    if ((t & 0x40) && !next(low)) break;
    size_t n = (t & 0x40) ? (size_t(t & 0x3F) << 8 | low) : size_t(t & 0x3F);
    for (size_t i = 0; i < ((t & 0x80) ? n : 1); ++i) {
      if (!next(b)) return tokens;
    }
  }
  return tokens;
}

inline Bytes Repeat(uint8_t b, size_t n) { return Bytes(n, b); }

inline Bytes Random(size_t n, uint32_t seed) {
  std::mt19937 g(seed);
  Bytes v(n);
  for (auto& b : v) b = uint8_t(g());
  return v;
}

// English-like text: words from a small vocabulary, so it packs.
inline Bytes Text(size_t n, uint32_t seed) {
  static const char* kWords[] = {"the ",  "record ",  "store ", "update ",  "of ",
                                 "game ", "file ",    "and ",   "packs ",   "unit ",
                                 "font ", "surface ", "\r\n",   "version ", "section ",
                                 "key ",  "name ",    "a ",     "is ",      "to "};
  std::mt19937 g(seed);
  Bytes v;
  while (v.size() < n) {
    const char* w = kWords[g() % (sizeof kWords / sizeof kWords[0])];
    for (const char* p = w; *p && v.size() < n; ++p) v.push_back(uint8_t(*p));
  }
  return v;
}

// Bitmap-like: rows of runs of a few palette values, rows often repeated.
inline Bytes Bitmap(size_t n, uint32_t seed) {
  std::mt19937 g(seed);
  Bytes v;
  Bytes row;
  while (v.size() < n) {
    if (row.empty() || g() % 3 != 0) {
      row.clear();
      while (row.size() < 320) {
        Bytes run(1 + g() % 40, uint8_t(g() % 6 == 0 ? g() : 16 + g() % 8));
        row.insert(row.end(), run.begin(), run.end());
      }
      row.resize(320);
    }
    v.insert(v.end(), row.begin(), row.end());
  }
  v.resize(n);
  return v;
}

inline Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace packtest
