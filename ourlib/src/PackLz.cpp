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
// before the data bytes of the token that used it.
//
// The packed streams are read by the game, and the packer must give the same
// bytes as the game's own: greedy parsing, one search per token, over a ring
// of 8192 bytes whose first 7939 are zeros at the start. The game's search
// walks a hash chain of every earlier position that shares the first byte
// and four bits of the second, compares the 252 bytes after the first, keeps
// a candidate only when it is strictly longer than the best so far and stops
// at 253. So the match it takes is the longest one within the 7939 positions
// before the current one, and of several equally long the newest, compared
// over all 253 bytes even where the input ends earlier (the ring then still
// holds older bytes or zeros there, and the length is cut to the input after
// the search). The search here finds exactly that match, faster:
//
//  - Chains on the exact first two bytes, then on the first four and eight
//    bytes (hashed), the longer ones taken as soon as the best match is that
//    long: every candidate that could still be longer shares those bytes.
//  - Within a run of one byte value only one position can be the newest
//    longest match (the one whose run ends where the current position's run
//    ends, or the oldest one in the window), so the walk looks at that one and
//    jumps past the run.
//  - Bytes are compared eight at a time.
//
// Positions are counted on from stream to stream (the tables are never
// cleared between streams): a position of an earlier stream is always more
// than the window away from any position of the current one.
#include <cstring>
#include <memory>
#include <new>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Pack.h"
#include "ourlib/src/PackArgs.h"

namespace {

constexpr int kRingSize = 8192;       // the game's ring; distances reach 1..8192
constexpr int kLookahead = 253;       // longest match
constexpr uint32_t kWindow = 7939;    // farthest a candidate lies back (8192 - 253)
constexpr uint32_t kSlot = 8191;      // position -> slot of the per-position tables
constexpr uint32_t kAhead = 253 + 8;  // bytes read from a position on (wide compares)

// The input is kept in one buffer: the window's bytes before the current
// position, then what has been handed in. It slides when full.
constexpr size_t kKeep = kRingSize + 64;  // kept behind the current position
constexpr size_t kBlock = 64 * 1024;      // taken in at once
constexpr size_t kBufferSize = kKeep + kBlock + kAhead + 8;

constexpr int kHashBits = 15;
constexpr uint32_t kFirstPosition = kRingSize;  // 0 in a table means "none": always too old
constexpr uint32_t kStreamMost = 0x7FFF0000u;   // the longest input of the stream form

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
// The index of the first differing byte of two little-endian words.
inline int FirstDiff(uint64_t x) { return __builtin_ctzll(x) >> 3; }

// How many of the first 253 bytes of a and b are equal, from `from` on.
inline int MatchLength(const uint8_t* a, const uint8_t* b, int from) {
  for (int i = from; i < kLookahead; i += 8) {
    const uint64_t x = Load64(a + i) ^ Load64(b + i);
    if (x != 0) {
      const int n = i + FirstDiff(x);
      return n < kLookahead ? n : kLookahead;
    }
  }
  return kLookahead;
}

// How many bytes from p on equal p[0], up to limit.
inline int RunLength(const uint8_t* p, int limit) {
  const uint64_t fill = 0x0101010101010101ull * p[0];
  for (int i = 0; i < limit; i += 8) {
    const uint64_t x = Load64(p + i) ^ fill;
    if (x != 0) {
      const int n = i + FirstDiff(x);
      return n < limit ? n : limit;
    }
  }
  return limit;
}

inline uint32_t Key2(const uint8_t* p) { return p[0] | (uint32_t{p[1]} << 8); }
inline uint32_t Hash4(const uint8_t* p) { return (Load32(p) * 2654435761u) >> (32 - kHashBits); }
inline uint32_t Hash8(const uint8_t* p) {
  return static_cast<uint32_t>((Load64(p) * 0x9E3779B97F4A7C15ull) >> (64 - kHashBits));
}

}  // namespace

// The packer's working state: the chains and the input buffer. Plain data,
// so that it can live in memory from the allocation helpers.
struct LzEngine {
  // Newest position of each key, and for each position the next older one
  // with the same key (by slot); on two bytes, four and eight.
  uint32_t head2[65536];
  uint32_t head4[1u << kHashBits];
  uint32_t head8[1u << kHashBits];
  uint32_t prev2[kSlot + 1];
  uint32_t prev4[kSlot + 1];
  uint32_t prev8[kSlot + 1];
  uint32_t runStart[kSlot + 1];  // where the run of equal bytes through a position starts
  uint8_t buffer[kBufferSize];

  uint32_t nextStart;    // where the next stream's positions begin
  uint32_t start;        // the current stream's first position
  uint32_t bufferStart;  // the position of buffer[0]
  uint32_t filled;       // positions before this are in the buffer
  uint32_t pos;          // the next token starts here
  bool ended;            // the input is complete

  // Output: a control word and the data bytes that follow it, written
  // together once the word is full.
  uint8_t* out;
  size_t outCapacity;
  size_t outLength;
  const PackSink* sink;  // takes the output when out is full; null: out is all there is
  uint8_t group[2 + 8 * 3 + 8];
  int groupLength;
  uint32_t word;
  int bits;
};

namespace {

const uint8_t* At(const LzEngine& e, uint32_t p) { return e.buffer + (p - e.bufferStart); }

// Starts a stream of at most `most` bytes. Positions start over (and the
// tables are cleared) before they could pass 32 bits.
void Begin(LzEngine& e, uint32_t most, uint8_t* out, size_t capacity, const PackSink* sink) {
  if (e.nextStart == 0 || e.nextStart > UINT32_MAX - most - 2 * kRingSize - kAhead) {
    std::memset(e.head2, 0, sizeof e.head2);
    std::memset(e.head4, 0, sizeof e.head4);
    std::memset(e.head8, 0, sizeof e.head8);
    e.nextStart = kFirstPosition;
  }
  e.start = e.bufferStart = e.filled = e.pos = e.nextStart;
  e.ended = false;
  e.out = out;
  e.outCapacity = capacity;
  e.outLength = 0;
  e.sink = sink;
  e.groupLength = 2;
  e.word = 0;
  e.bits = 0;
}

// Writes the control word and its data bytes. False when they do not fit
// the output (and the sink, if any, would not take what was there).
bool FlushGroup(LzEngine& e) {
  e.group[0] = static_cast<uint8_t>(e.word & 0xFF);
  e.group[1] = static_cast<uint8_t>(e.word >> 8);
  const size_t n = static_cast<size_t>(e.groupLength);
  if (n > e.outCapacity - e.outLength) {
    if (e.sink == nullptr || !(*e.sink)(e.out, e.outLength)) return false;
    e.outLength = 0;
  }
  std::memcpy(e.out + e.outLength, e.group, n);
  e.outLength += n;
  e.groupLength = 2;
  e.word = 0;
  e.bits = 0;
  return true;
}

inline bool PutBit(LzEngine& e, unsigned bit) {
  e.word |= bit << e.bits;
  return ++e.bits < 16 || FlushGroup(e);
}
inline void PutByte(LzEngine& e, unsigned v) { e.group[e.groupLength++] = static_cast<uint8_t>(v); }

inline void Insert(LzEngine& e, uint32_t p) {
  const uint8_t* b = At(e, p);
  const uint32_t slot = p & kSlot;
  const uint32_t k2 = Key2(b), k4 = Hash4(b), k8 = Hash8(b);
  e.prev2[slot] = e.head2[k2];
  e.head2[k2] = p;
  e.prev4[slot] = e.head4[k4];
  e.head4[k4] = p;
  e.prev8[slot] = e.head8[k8];
  e.head8[k8] = p;
  e.runStart[slot] = p > e.start && b[-1] == b[0] ? e.runStart[(p - 1) & kSlot] : p;
}

// True when the candidate's first `level` bytes are the key's (it then lies
// on the key's chain of that level, and so does every position of its run).
inline bool SameLead(const uint8_t* cand, const uint8_t* key, int level) {
  return level == 2 || (level == 4 ? Load32(cand) == Load32(key) : Load64(cand) == Load64(key));
}

struct Match {
  int length;
  uint32_t from;
};

// The game's match for the position q: the longest among the window's
// positions, the newest of equally long ones; length below 2 means none.
Match Search(const LzEngine& e, uint32_t q) {
  const uint8_t* key = At(e, q);
  const uint32_t oldest = q > e.start + kWindow ? q - kWindow : e.start;
  const int run = RunLength(key, kLookahead);
  Match best{1, 0};
  int level = 2;
  const uint32_t* prev = e.prev2;
  uint32_t c = e.head2[Key2(key)];
  while (c >= oldest) {
    const uint8_t* cand = At(e, c);
    uint32_t look = c;  // the position of c's stretch that can win
    uint32_t next;
    if (run >= level && SameLead(cand, key, level)) {
      // c lies in a run of the key's first byte, as do all chain entries up
      // to the run's start s. A position p of it matches min(end - p, run)
      // bytes, unless end - p == run, where the bytes after both runs
      // decide: so only end - run, or the oldest one still in the window
      // when the run is shorter, can be newer and longer than the others.
      const uint32_t s = e.runStart[c & kSlot];
      const int ahead = RunLength(cand, run + 1);
      if (ahead <= run) {
        look = c + static_cast<uint32_t>(ahead) - static_cast<uint32_t>(run);
        if (look < s) look = s;
        if (look < oldest) look = oldest;
      }
      next = s > oldest ? prev[s & kSlot] : 0;
    } else {
      next = prev[c & kSlot];
    }
    const uint8_t* l = At(e, look);
    if (l[best.length] == key[best.length]) {
      const int n = MatchLength(l, key, 0);
      if (n > best.length) {
        best = {n, look};
        if (n == kLookahead) break;
        // Every longer candidate shares the first 4 (8) bytes and so lies
        // on the chain of that level after this one.
        if (n >= 8 && level < 8) {
          level = 8;
          prev = e.prev8;
          next = prev[look & kSlot];
        } else if (n >= 4 && level < 4) {
          level = 4;
          prev = e.prev4;
          next = prev[look & kSlot];
        }
      }
    }
    c = next;
  }
  return best;
}

// Codes the tokens of every position that has its 253 bytes ahead in the
// buffer (all of them once the input is complete). False when the output
// does not fit.
bool Pack(LzEngine& e) {
  const uint32_t end = e.ended ? e.filled - kAhead : e.filled;  // the input's end
  const uint32_t last = e.ended ? end : e.filled - kAhead;      // tokens start before this
  while (e.pos < last) {
    const uint32_t q = e.pos;
    const Match m = Search(e, q);
    Insert(e, q);
    const uint32_t left = end - q;
    int len = m.length < static_cast<int>(left) ? m.length : static_cast<int>(left);
    const unsigned dist = q - m.from;
    bool ok;
    if (len < 2 || (len == 2 && dist >= 256)) {
      ok = PutBit(e, 1);
      PutByte(e, At(e, q)[0]);
      len = 1;
    } else if (len <= 5 && dist < 256) {
      const unsigned n = static_cast<unsigned>(len - 2);
      ok = PutBit(e, 0) && PutBit(e, 0) && PutBit(e, n >> 1) && PutBit(e, n & 1);
      PutByte(e, 256 - dist);
    } else {
      const unsigned v = kRingSize - dist;
      ok = PutBit(e, 0) && PutBit(e, 1);
      PutByte(e, v & 0xFF);
      if (len <= 9) {
        PutByte(e, ((v >> 8) << 3) | static_cast<unsigned>(len - 2));
      } else {
        PutByte(e, (v >> 8) << 3);
        PutByte(e, static_cast<unsigned>(len - 1));
      }
    }
    if (!ok) return false;
    for (uint32_t p = q + 1; p < q + static_cast<uint32_t>(len); ++p) Insert(e, p);
    e.pos = q + static_cast<uint32_t>(len);
  }
  return true;
}

// Takes in up to n bytes; returns how many fit before the buffer must be
// packed and slid.
size_t Take(LzEngine& e, const uint8_t* bytes, size_t n) {
  size_t used = e.filled - e.bufferStart;
  if (used + kAhead + 8 >= kBufferSize) {
    // Slide: keep the window behind the next token and what follows it.
    const uint32_t keepFrom = e.pos - e.start > kKeep ? e.pos - kKeep : e.start;
    std::memmove(e.buffer, At(e, keepFrom), e.filled - keepFrom);
    e.bufferStart = keepFrom;
    used = e.filled - e.bufferStart;
  }
  const size_t room = kBufferSize - kAhead - 8 - used;
  const size_t take = n < room ? n : room;
  std::memcpy(e.buffer + used, bytes, take);
  e.filled += static_cast<uint32_t>(take);
  return take;
}

bool Write(LzEngine& e, const uint8_t* bytes, size_t n) {
  while (n > 0) {
    const size_t took = Take(e, bytes, n);
    bytes += took;
    n -= took;
    if (!Pack(e)) return false;
  }
  return true;
}

// Ends the input: past its end the game's ring still holds the bytes of
// 8192 positions before, or zeros near the start, and the search compares
// them too.
bool Finish(LzEngine& e) {
  const uint32_t end = e.filled;
  uint8_t* tail = e.buffer + (end - e.bufferStart);
  for (uint32_t i = 0; i < kAhead; ++i) {
    const uint32_t p = end + i;
    tail[i] = p - e.start >= static_cast<uint32_t>(kRingSize) ? At(e, p - kRingSize)[0] : 0;
  }
  e.filled = end + kAhead;
  e.ended = true;
  if (!Pack(e)) return false;
  e.nextStart = end + kRingSize + kAhead;  // beyond the reach of this stream's positions
  // End token: a long copy whose third byte is 0.
  if (!PutBit(e, 0) || !PutBit(e, 1)) return false;
  PutByte(e, 0x00);
  PutByte(e, 0xF0);
  PutByte(e, 0x00);
  if (!FlushGroup(e)) return false;
  return e.sink == nullptr || e.outLength == 0 || (*e.sink)(e.out, e.outLength);
}

MemPtr<LzEngine> NewEngine() {
  return MemPtr<LzEngine>(static_cast<LzEngine*>(MemAllocZero(sizeof(LzEngine))));
}

// The engine of the one-call form, kept for the next call: it is large
// enough that making it for every record would cost more than packing.
thread_local MemPtr<LzEngine> t_engine;

}  // namespace

int32_t LzPack(const uint8_t* src, int32_t length, uint8_t* dst, int32_t capacity) {
  if (!PackBuffersValid(src, length, dst, capacity)) return RaiseError(ERR_PACK);
  if (!t_engine) {
    t_engine = NewEngine();
    if (!t_engine) return ERR_NO_MEMORY;  // raised already when a frame is installed
  }
  LzEngine& e = *t_engine;
  Begin(e, static_cast<uint32_t>(length), dst, static_cast<size_t>(capacity), nullptr);
  if (!Write(e, src, static_cast<size_t>(length)) || !Finish(e)) {
    e.nextStart = e.filled + kRingSize + kAhead;
    return RaiseError(ERR_PACK);
  }
  return static_cast<int32_t>(e.outLength);
}

namespace {

class LzPackStream final : public PackStream {
 public:
  explicit LzPackStream(PackSink sink) : sink_(std::move(sink)) {
    counted_ = [this](const uint8_t* bytes, size_t n) {
      written_ += static_cast<int64_t>(n);
      return sink_(bytes, n);
    };
    engine_ = NewEngine();
    out_ = MemAllocOwned(kBlock);
    if (engine_ && out_) Begin(*engine_, kStreamMost, out_.get(), kBlock, &counted_);
  }
  bool ready() const { return engine_ && out_; }

  bool Write(const uint8_t* bytes, size_t n) override {
    if (!ok_) return false;
    if (n > kStreamMost - (engine_->filled - engine_->start)) return ok_ = false;
    return ok_ = ::Write(*engine_, bytes, n);
  }
  int64_t Finish() override {
    const bool ok = ok_ && ::Finish(*engine_);
    ok_ = false;  // nothing more is taken
    return ok ? written_ : int64_t{ERR_PACK};
  }

 private:
  PackSink sink_;
  PackSink counted_;
  int64_t written_ = 0;
  MemPtr<LzEngine> engine_;
  MemPtr<uint8_t> out_;
  bool ok_ = true;
};

}  // namespace

std::unique_ptr<PackStream> NewLzPackStream(PackSink sink) {
  return MakePackStream<LzPackStream>(std::move(sink));
}

// ---- Unpacking ----

namespace {

// A copy of count bytes from dist back, overlapping its own output when
// dist < count. Writes up to 7 bytes past the copy's end.
inline void CopyMatch(uint8_t* to, uint32_t dist, uint32_t count) {
  const uint8_t* from = to - dist;
  if (dist >= 8) {
    for (uint32_t i = 0; i < count; i += 8) std::memcpy(to + i, from + i, 8);
  } else if (dist == 1) {
    std::memset(to, from[0], count);
  } else {
    for (uint32_t i = 0; i < count; ++i) to[i] = from[i];
  }
}

// Reads a stream within srcLength bytes; every shortfall is a damaged stream.
struct LzReader {
  const uint8_t* src;
  int32_t end;
  int32_t in;
  unsigned word;
  int bits;

  bool ReadWord() {
    if (end - in < 2) return false;
    word = static_cast<unsigned>(src[in] | (src[in + 1] << 8));
    in += 2;
    bits = 0;
    return true;
  }
  // Uses the next control bit; the next word is read at once after the 16th.
  bool Bit(unsigned& bit) {
    bit = (word >> bits) & 1u;
    if (++bits == 16) return ReadWord();
    return true;
  }
  bool Byte(unsigned& v) {
    if (in >= end) return false;
    v = src[in++];
    return true;
  }
};

// Result of decoding one token: a copy, the end, or a damaged stream.
enum class Step { kGoOn, kEnd, kDamaged };

// Decodes one token with every read and write checked.
Step CheckedToken(LzReader& r, uint8_t* dst, int32_t capacity, int32_t& out) {
  unsigned bit = 0;
  if (!r.Bit(bit)) return Step::kDamaged;
  if (bit != 0) {
    unsigned v = 0;
    if (!r.Byte(v) || out >= capacity) return Step::kDamaged;
    dst[out++] = static_cast<uint8_t>(v);
    return Step::kGoOn;
  }
  int32_t count = 0;
  int32_t dist = 0;
  if (!r.Bit(bit)) return Step::kDamaged;
  if (bit == 0) {
    unsigned h = 0, l = 0, x = 0;
    if (!r.Bit(h) || !r.Bit(l) || !r.Byte(x)) return Step::kDamaged;
    count = static_cast<int32_t>(2 + 2 * h + l);
    dist = static_cast<int32_t>(256 - x);
  } else {
    unsigned b0 = 0, b1 = 0;
    if (!r.Byte(b0) || !r.Byte(b1)) return Step::kDamaged;
    dist = kRingSize - static_cast<int32_t>((b1 >> 3) * 256 + b0);
    if ((b1 & 7) != 0) {
      count = static_cast<int32_t>((b1 & 7) + 2);
    } else {
      unsigned b2 = 0;
      if (!r.Byte(b2)) return Step::kDamaged;
      if (b2 == 0) return Step::kEnd;   // any bytes after it are ignored
      if (b2 == 1) return Step::kGoOn;  // no copy
      count = static_cast<int32_t>(b2 + 1);
    }
  }
  // A copy may overlap its own output but never reach before the first
  // byte produced nor past the caller's capacity.
  if (dist > out || count > capacity - out) return Step::kDamaged;
  uint8_t* to = dst + out;
  for (int32_t i = 0; i < count; ++i) to[i] = to[i - dist];
  out += count;
  return Step::kGoOn;
}

// While the input has this much left and the output this much room, a
// token is decoded without checks: one step takes at most a control word
// and 16 literal bytes, or a word and three data bytes, and gives at most
// 16 bytes, or a copy of 256 written eight bytes at a time.
constexpr int32_t kFastIn = 2 + 16 + 8;
constexpr int32_t kFastOut = 256 + 16;

inline unsigned Word(const uint8_t* p) { return static_cast<unsigned>(p[0] | (p[1] << 8)); }

// Why decoding stopped: the end token, a damaged stream, or (when the input
// or the room is not the last there will be) at a token boundary for more
// input or more room.
enum class Stop { kEnd, kDamaged, kInput, kRoom };

// Decodes tokens from r into dst[out..capacity). inputFinal: the input ends
// at r.end; roomFinal: the output may not pass capacity.
Stop Decode(LzReader& r, uint8_t* dst, int32_t capacity, int32_t& out, bool inputFinal,
            bool roomFinal) {
  const uint8_t* src = r.src;
  const int32_t srcLength = r.end;
  for (;;) {
    // Within the bounds above only a copy's distance is checked.
    int32_t in = r.in;
    unsigned word = r.word;
    unsigned bits = static_cast<unsigned>(r.bits);
    auto bit = [&]() {
      const unsigned b = (word >> bits) & 1u;
      if (++bits == 16) {
        word = Word(src + in);
        in += 2;
        bits = 0;
      }
      return b;
    };
    Stop stop = Stop::kInput;
    while (in <= srcLength - kFastIn && out <= capacity - kFastOut) {
      const unsigned rest = word >> bits;
      if (rest & 1u) {
        // A run of literal bits, up to the word's end, copied at once. The
        // data byte of a word's last bit comes after the next word.
        const unsigned n = static_cast<unsigned>(__builtin_ctz(~rest));
        std::memcpy(dst + out, src + in, 16);
        bits += n;
        if (bits < 16) {
          in += static_cast<int32_t>(n);
          out += static_cast<int32_t>(n);
        } else {
          in += static_cast<int32_t>(n - 1);
          out += static_cast<int32_t>(n - 1);
          word = Word(src + in);
          in += 2;
          bits = 0;
          dst[out++] = src[in++];
        }
        continue;
      }
      uint32_t count;
      uint32_t dist;
      bool shortCopy;
      if (bits <= 12) {
        // All of a short copy's four bits (0 0 h l) are in this word.
        shortCopy = (rest & 2u) == 0;
        count = 2 + ((rest >> 1) & 2u) + ((rest >> 3) & 1u);
        bits += shortCopy ? 4 : 2;
        if (bits == 16) {
          word = Word(src + in);
          in += 2;
          bits = 0;
        }
      } else {
        bit();  // the 0
        shortCopy = bit() == 0;
        if (shortCopy) {
          const unsigned h = bit();
          count = 2 + 2 * h + bit();
        }
      }
      if (shortCopy) {
        dist = 256 - src[in++];
      } else {
        const unsigned b0 = src[in], b1 = src[in + 1];
        in += 2;
        dist = kRingSize - ((b1 >> 3) * 256 + b0);
        if ((b1 & 7) != 0) {
          count = (b1 & 7) + 2;
        } else {
          const unsigned b2 = src[in++];
          if (b2 == 0) {  // end of stream; any bytes after it are ignored
            stop = Stop::kEnd;
            break;
          }
          if (b2 == 1) continue;  // no copy
          count = b2 + 1;
        }
      }
      if (dist > static_cast<uint32_t>(out)) {
        stop = Stop::kDamaged;
        break;
      }
      CopyMatch(dst + out, dist, count);
      out += static_cast<int32_t>(count);
    }
    r.in = in;
    r.word = word;
    r.bits = static_cast<int>(bits);
    if (stop != Stop::kInput) return stop;
    if (in > srcLength - kFastIn && !inputFinal) return Stop::kInput;
    if (out > capacity - kFastOut && !roomFinal) return Stop::kRoom;
    // Near either end: one token at a time, every step checked.
    const Step s = CheckedToken(r, dst, capacity, out);
    if (s == Step::kEnd) return Stop::kEnd;
    if (s == Step::kDamaged) return Stop::kDamaged;
  }
}

}  // namespace

int32_t LzUnpack(const uint8_t* src, int32_t srcLength, uint8_t* dst, int32_t capacity) {
  if (!PackBuffersValid(src, srcLength, dst, capacity)) return RaiseError(ERR_PACK);
  LzReader r{src, srcLength, 0, 0, 0};
  int32_t out = 0;
  if (!r.ReadWord() || Decode(r, dst, capacity, out, true, true) != Stop::kEnd)
    return RaiseError(ERR_PACK);
  return out;
}

namespace {

// The stream form's state: the input not yet decoded, and the output with
// the window of 8192 bytes that copies reach back into.
struct LzUnpackState {
  static constexpr int32_t kHistory = kRingSize;
  static constexpr int32_t kPiece = 64 * 1024;
  uint8_t input[kPiece + kFastIn];
  int32_t inLength = 0;
  uint8_t window[kHistory + kPiece];
  int32_t out = 0;      // bytes in the window
  int32_t given = 0;    // of which the sink has had these
  int64_t dropped = 0;  // produced bytes no longer in the window
  LzReader r{input, 0, 0, 0, 0};
  bool started = false;
  bool ended = false;
  bool failed = false;
};

class LzUnpackStream final : public PackStream {
 public:
  LzUnpackStream(PackSink sink, int64_t most) : sink_(std::move(sink)), most_(most) {}
  bool ready() const { return true; }
  bool Write(const uint8_t* bytes, size_t n) override;
  int64_t Finish() override;

 private:
  bool Run(bool final);
  PackSink sink_;
  int64_t most_;
  LzUnpackState state_;
};

bool LzUnpackStream::Run(bool final) {
  LzUnpackState& s = state_;
  s.r.end = s.inLength;
  if (!s.started) {
    if (s.inLength < 2 && !final) return true;
    if (!s.r.ReadWord()) return false;
    s.started = true;
  }
  for (;;) {
    // The room ends with the window, or where the output would pass most.
    const int64_t allowed = most_ - s.dropped;
    const bool limited = allowed <= static_cast<int64_t>(sizeof s.window);
    const int32_t capacity = limited ? static_cast<int32_t>(allowed) : sizeof s.window;
    const Stop stop = Decode(s.r, s.window, capacity, s.out, final, limited);
    if (stop == Stop::kDamaged) return false;
    if (stop == Stop::kInput) return true;
    if (!sink_(s.window + s.given, static_cast<size_t>(s.out - s.given))) return false;
    s.given = s.out;
    if (stop == Stop::kEnd) return s.ended = true;
    // Room: keep the last 8192 bytes for the copies to come.
    const int32_t keep = LzUnpackState::kHistory;
    std::memmove(s.window, s.window + s.out - keep, keep);
    s.dropped += s.out - keep;
    s.out = s.given = keep;
  }
}

bool LzUnpackStream::Write(const uint8_t* bytes, size_t n) {
  LzUnpackState& s = state_;
  if (s.failed) return false;
  while (n > 0 && !s.ended) {
    // What is left of the input moves to the front, the new bytes after it.
    std::memmove(s.input, s.input + s.r.in, static_cast<size_t>(s.inLength - s.r.in));
    s.inLength -= s.r.in;
    s.r.in = 0;
    const size_t room = sizeof s.input - static_cast<size_t>(s.inLength);
    const size_t take = n < room ? n : room;
    std::memcpy(s.input + s.inLength, bytes, take);
    s.inLength += static_cast<int32_t>(take);
    bytes += take;
    n -= take;
    if (!Run(false)) return !(s.failed = true);
  }
  return true;
}

int64_t LzUnpackStream::Finish() {
  LzUnpackState& s = state_;
  if (s.failed) return ERR_PACK;
  if (!s.ended && (!Run(true) || !s.ended)) {
    s.failed = true;
    return ERR_PACK;
  }
  s.failed = true;  // nothing more is taken
  return s.dropped + s.out;
}

}  // namespace

std::unique_ptr<PackStream> NewLzUnpackStream(PackSink sink, int64_t most) {
  return MakePackStream<LzUnpackStream>(std::move(sink), most);
}
