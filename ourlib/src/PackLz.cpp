// PACK_LZ: a stream of 16-bit control words (bits used from bit 0 upward)
// interleaved with the data bytes of the tokens they describe.
//
//   1                 literal, one data byte
//   0 0 h l           short copy of 2 + 2h + l bytes, data byte X: 256 - X back
//   0 1               long copy, data bytes B0 B1 [B2]: 8192 - ((B1 >> 3) * 256 + B0)
//                     back; count (B1 & 7) + 2, or when B1 & 7 is 0, B2 + 1
//                     (B2 = 0 ends the stream, B2 = 1 copies nothing)
//
// The next control word is read as soon as the 16th bit of a word is used,
// before the data bytes of the token that used it. The packed streams are
// read by the game, so the packer below reproduces its greedy algorithm step
// by step: the same input always gives the same bytes.
#include <cstring>
#include <memory>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Pack.h"
#include "ourlib/src/PackArgs.h"

namespace {

constexpr int kRingSize = 8192;          // window; positions are taken mod kRingSize
constexpr int kLookahead = 253;          // longest match
constexpr int kMirror = kLookahead - 1;  // ring[0..251] repeated after its end
constexpr int kRingMask = kRingSize - 1;
constexpr int kHashSize = 4096;
constexpr int16_t kNil = -1;

// The packer's working state. Chains are doubly linked so that a position
// can be cut from its chain without walking it.
struct LzState {
  uint8_t ring[kRingSize + kMirror];
  int16_t head[kHashSize];   // newest position of each key, or kNil
  int16_t older[kRingSize];  // next older position with the same key
  int16_t newer[kRingSize];  // next newer position, kNil at the head
  uint16_t key[kRingSize];   // the key a position was inserted under
  uint8_t linked[kRingSize];
};

// Buffers one control word with the data bytes that follow it in the stream
// and writes them together once the word is complete or at the end.
class LzWriter {
 public:
  LzWriter(uint8_t* dst, int32_t capacity) : dst_(dst), capacity_(capacity) {}

  bool PutBit(unsigned bit) {
    if (bit != 0) word_ = static_cast<uint16_t>(word_ | (1u << bits_));
    if (++bits_ == 16) return Flush();
    return true;
  }
  // A token's data bytes always follow its bits, so at most 8 long copies
  // (3 bytes each) land in one buffer: 2 + 24 bytes.
  void PutByte(unsigned v) { buf_[len_++] = static_cast<uint8_t>(v); }

  // Writes the word and its bytes; false when they would pass capacity.
  bool Flush() {
    buf_[0] = static_cast<uint8_t>(word_ & 0xFF);
    buf_[1] = static_cast<uint8_t>(word_ >> 8);
    if (len_ > capacity_ - out_) return false;
    std::memcpy(dst_ + out_, buf_, static_cast<size_t>(len_));
    out_ += len_;
    len_ = 2;
    word_ = 0;
    bits_ = 0;
    return true;
  }
  int32_t written() const { return out_; }

 private:
  uint8_t* dst_;
  int32_t capacity_;
  int32_t out_ = 0;
  uint8_t buf_[64];
  int len_ = 2;
  uint16_t word_ = 0;
  int bits_ = 0;
};

class LzPacker {
 public:
  explicit LzPacker(LzState& s) : s_(s) { std::memset(s_.head, 0xFF, sizeof s_.head); }

  // Key of position p: its byte and the low four bits of the next one (the
  // mirror makes p = 8191 read ring[0]).
  unsigned KeyAt(int p) const { return s_.ring[p] | ((s_.ring[p + 1] & 0x0Fu) << 8); }

  void Insert(int p) {
    unsigned k = KeyAt(p);
    int16_t first = s_.head[k];
    s_.older[p] = first;
    s_.newer[p] = kNil;
    if (first != kNil) s_.newer[first] = static_cast<int16_t>(p);
    s_.head[k] = static_cast<int16_t>(p);
    s_.key[p] = static_cast<uint16_t>(k);
    s_.linked[p] = 1;
  }

  // Cuts the chain at p. The slot being cut is always the oldest position
  // still linked (it was inserted 7939 steps ago), so it is the tail of its
  // chain and cutting there is the same as unlinking it.
  void Cut(int p) {
    if (s_.linked[p] == 0) return;
    int16_t n = s_.newer[p];
    int16_t o = s_.older[p];
    if (n == kNil) {
      s_.head[s_.key[p]] = o;
    } else {
      s_.older[n] = o;
    }
    if (o != kNil) s_.newer[o] = n;
    s_.linked[p] = 0;
  }

  // Finds the longest earlier match for r, newest candidate first, and then
  // inserts r. The whole 252 bytes after the first are compared even when the
  // lookahead is shorter; the caller clips the length afterwards. (Clipping
  // inside the comparison would let a newer candidate win a tie that the
  // full comparison breaks in favour of an older one, giving other bytes.)
  void Search(int r) {
    matchLen_ = 0;
    matchDist_ = 0;
    const uint8_t* key = &s_.ring[r];
    for (int16_t p = s_.head[KeyAt(r)]; p != kNil; p = s_.older[p]) {
      const uint8_t* cand = &s_.ring[p];
      // Only a strictly longer match counts, so a candidate that differs at
      // the best length so far cannot win; skipping it changes nothing.
      if (matchLen_ > 0 && cand[matchLen_] != key[matchLen_]) continue;
      int i = 1;
      while (i < kLookahead && cand[i] == key[i]) ++i;
      if (i > matchLen_) {
        matchLen_ = i;
        matchDist_ = (r - p) & kRingMask;
        if (i == kLookahead) break;
      }
    }
    Insert(r);
  }

  int matchLen_ = 0;
  int matchDist_ = 0;

 private:
  LzState& s_;
};

}  // namespace

int32_t LzPack(const uint8_t* src, int32_t length, uint8_t* dst, int32_t capacity) {
  if (!PackBuffersValid(src, length, dst, capacity)) return RaiseError(ERR_PACK);
  MemPtr<LzState> state(static_cast<LzState*>(MemAllocZero(sizeof(LzState))));
  if (!state) return ERR_NO_MEMORY;  // raised already when a frame is installed
  LzState& s = *state;
  LzPacker packer(s);
  LzWriter out(dst, capacity);

  // The first bytes fill the lookahead at the end of the zeroed ring.
  int r = kRingSize - kLookahead;
  int32_t lookahead = length < kLookahead ? length : kLookahead;
  if (lookahead > 0) std::memcpy(&s.ring[r], src, static_cast<size_t>(lookahead));
  int32_t in = lookahead;
  if (lookahead > 0) packer.Search(r);

  while (lookahead > 0) {
    int len = packer.matchLen_ < lookahead ? packer.matchLen_ : lookahead;
    int dist = packer.matchDist_;
    bool ok = true;
    if (len < 2 || (len == 2 && dist >= 256)) {
      ok = out.PutBit(1);
      out.PutByte(s.ring[r]);
      len = 1;
    } else if (len <= 5 && dist < 256) {
      unsigned n = static_cast<unsigned>(len - 2);
      ok = out.PutBit(0) && out.PutBit(0) && out.PutBit(n >> 1) && out.PutBit(n & 1);
      out.PutByte(static_cast<unsigned>(256 - dist));
    } else {
      unsigned v = static_cast<unsigned>(kRingSize - dist);
      ok = out.PutBit(0) && out.PutBit(1);
      out.PutByte(v & 0xFF);
      if (len <= 9) {
        out.PutByte(((v >> 8) << 3) | static_cast<unsigned>(len - 2));
      } else {
        out.PutByte((v >> 8) << 3);
        out.PutByte(static_cast<unsigned>(len - 1));
      }
    }
    if (!ok) return RaiseError(ERR_PACK);

    // Consume len positions: the oldest slot leaves its chain and takes the
    // next input byte (or the lookahead shrinks at the end of the input).
    for (int i = 0; i < len; ++i) {
      int slot = (r + kLookahead) & kRingMask;
      packer.Cut(slot);
      if (in < length) {
        s.ring[slot] = src[in++];
        if (slot < kMirror) s.ring[slot + kRingSize] = s.ring[slot];
      } else {
        --lookahead;
      }
      r = (r + 1) & kRingMask;
      if (i + 1 < len) packer.Insert(r);
    }
    // With the lookahead empty the search would only link r, which no later
    // token can see, so it is skipped.
    if (lookahead > 0) packer.Search(r);
  }

  // End token: a long copy whose third byte is 0.
  bool ok = out.PutBit(0) && out.PutBit(1);
  out.PutByte(0x00);
  out.PutByte(0xF0);
  out.PutByte(0x00);
  if (!ok || !out.Flush()) return RaiseError(ERR_PACK);
  return out.written();
}

namespace {

// Reads a stream within srcLength bytes; every shortfall is a damaged stream.
class LzReader {
 public:
  LzReader(const uint8_t* src, int32_t srcLength) : src_(src), end_(srcLength) {}

  bool Start() { return ReadWord(); }
  // Uses the next control bit; the next word is read at once after the 16th.
  bool Bit(unsigned& bit) {
    bit = (word_ >> bits_) & 1u;
    if (++bits_ == 16) return ReadWord();
    return true;
  }
  bool Byte(unsigned& v) {
    if (in_ >= end_) return false;
    v = src_[in_++];
    return true;
  }

 private:
  bool ReadWord() {
    if (end_ - in_ < 2) return false;
    word_ = static_cast<unsigned>(src_[in_] | (src_[in_ + 1] << 8));
    in_ += 2;
    bits_ = 0;
    return true;
  }
  const uint8_t* src_;
  int32_t end_;
  int32_t in_ = 0;
  unsigned word_ = 0;
  int bits_ = 0;
};

}  // namespace

int32_t LzUnpack(const uint8_t* src, int32_t srcLength, uint8_t* dst, int32_t capacity) {
  if (!PackBuffersValid(src, srcLength, dst, capacity)) return RaiseError(ERR_PACK);
  LzReader in(src, srcLength);
  if (!in.Start()) return RaiseError(ERR_PACK);
  int32_t out = 0;
  for (;;) {
    unsigned bit = 0;
    if (!in.Bit(bit)) return RaiseError(ERR_PACK);
    if (bit != 0) {
      unsigned v = 0;
      if (!in.Byte(v) || out >= capacity) return RaiseError(ERR_PACK);
      dst[out++] = static_cast<uint8_t>(v);
      continue;
    }
    int32_t count = 0;
    int32_t dist = 0;
    if (!in.Bit(bit)) return RaiseError(ERR_PACK);
    if (bit == 0) {
      unsigned h = 0, l = 0, x = 0;
      if (!in.Bit(h) || !in.Bit(l) || !in.Byte(x)) return RaiseError(ERR_PACK);
      count = static_cast<int32_t>(2 + 2 * h + l);
      dist = static_cast<int32_t>(256 - x);
    } else {
      unsigned b0 = 0, b1 = 0;
      if (!in.Byte(b0) || !in.Byte(b1)) return RaiseError(ERR_PACK);
      dist = kRingSize - static_cast<int32_t>((b1 >> 3) * 256 + b0);
      if ((b1 & 7) != 0) {
        count = static_cast<int32_t>((b1 & 7) + 2);
      } else {
        unsigned b2 = 0;
        if (!in.Byte(b2)) return RaiseError(ERR_PACK);
        if (b2 == 0) return out;  // end of stream; any bytes after it are ignored
        if (b2 == 1) continue;    // no copy
        count = static_cast<int32_t>(b2 + 1);
      }
    }
    // A copy may overlap its own output but never reach before the first
    // byte produced nor past the caller's capacity.
    if (dist > out || count > capacity - out) return RaiseError(ERR_PACK);
    const uint8_t* from = dst + (out - dist);
    uint8_t* to = dst + out;
    for (int32_t i = 0; i < count; ++i) to[i] = from[i];
    out += count;
  }
}
