// PACK_RLE: the byte 0x01, then a run-length token stream coded through a
// byte predictor.
//
// Tokens (lengths up to 0x3FFF):
//   0x00                    end
//   0x01..0x3F n, b         n copies of b
//   0x40..0x7F, L, b        ((first & 0x3F) << 8 | L) copies of b
//   0x81..0xBF, n bytes     (first - 0x80) literal bytes
//   0xC0..0xFF, L, bytes    ((first & 0x3F) << 8 | L) literal bytes
//
// Predictor: a 64 KiB table indexed by the two previous token bytes guesses
// the next one. Bytes go in groups of eight: a flag byte (bit k set: the k-th
// byte equals the guess) followed by the bytes that were not guessed, each of
// which also replaces the guess in the table.
#include <cstring>
#include <memory>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Pack.h"
#include "ourlib/src/PackArgs.h"

namespace {

constexpr int32_t kMaxCount = 0x3FFF;
constexpr size_t kTableSize = 65536;

MemPtr<uint8_t> NewTable() {
  return MemPtr<uint8_t>(static_cast<uint8_t*>(MemAllocZero(kTableSize)));
}

// Codes token bytes into dst; dst[0] holds the leading 0x01.
class PredictorWriter {
 public:
  PredictorWriter(uint8_t* table, uint8_t* dst, int32_t capacity)
      : table_(table), dst_(dst), capacity_(capacity) {}

  bool Put(uint8_t b) {
    unsigned index = context_;
    if (table_[index] == b) {
      flags_ = static_cast<uint8_t>(flags_ | (1u << count_));
    } else {
      table_[index] = b;
      literals_[nlit_++] = b;
    }
    context_ = static_cast<uint16_t>((context_ << 8) | b);
    if (++count_ == 8) return WriteGroup();
    return true;
  }
  bool PutBytes(const uint8_t* p, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
      if (!Put(p[i])) return false;
    }
    return true;
  }
  // Writes a partly filled group (missing bytes have flag bits 0).
  bool Finish() { return count_ == 0 || WriteGroup(); }
  int32_t written() const { return out_; }

 private:
  bool WriteGroup() {
    int32_t need = 1 + nlit_;
    if (need > capacity_ - out_) return false;
    dst_[out_] = flags_;
    std::memcpy(dst_ + out_ + 1, literals_, static_cast<size_t>(nlit_));
    out_ += need;
    flags_ = 0;
    nlit_ = 0;
    count_ = 0;
    return true;
  }

  uint8_t* table_;
  uint8_t* dst_;
  int32_t capacity_;
  int32_t out_ = 1;       // after the leading 0x01
  uint16_t context_ = 0;  // byte before last << 8 | last byte
  uint8_t flags_ = 0;
  uint8_t literals_[8];
  int nlit_ = 0;
  int count_ = 0;
};

// A count of up to 0x3FFF in one or two token bytes: short form base + n
// for n up to 63, else (long base + high six bits), low byte.
bool PutCount(PredictorWriter& w, uint8_t shortBase, uint8_t longBase, int32_t n) {
  if (n > 63) {
    return w.Put(static_cast<uint8_t>(longBase + (n >> 8))) &&
           w.Put(static_cast<uint8_t>(n & 0xFF));
  }
  return w.Put(static_cast<uint8_t>(shortBase + n));
}

bool PutLiterals(PredictorWriter& w, const uint8_t* p, int32_t n) {
  while (n > kMaxCount) {
    if (!w.Put(0xFF) || !w.Put(0xFF) || !w.PutBytes(p, kMaxCount)) return false;
    p += kMaxCount;
    n -= kMaxCount;
  }
  return PutCount(w, 0x80, 0xC0, n) && w.PutBytes(p, n);
}

bool PutRun(PredictorWriter& w, uint8_t b, int32_t n) {
  while (n > kMaxCount) {
    if (!w.Put(0x7F) || !w.Put(0xFF) || !w.Put(b)) return false;
    n -= kMaxCount;
  }
  return PutCount(w, 0x00, 0x40, n) && w.Put(b);
}

}  // namespace

int32_t RlePack(const uint8_t* src, int32_t length, uint8_t* dst, int32_t capacity) {
  if (!PackBuffersValid(src, length, dst, capacity)) return RaiseError(ERR_PACK);
  // Every stream holds at least the leading byte and one group.
  if (capacity < 1) return RaiseError(ERR_PACK);
  MemPtr<uint8_t> table = NewTable();
  if (!table) return ERR_NO_MEMORY;  // raised already when a frame is installed
  dst[0] = 0x01;
  PredictorWriter w(table.get(), dst, capacity);

  int32_t pos = 0;
  while (pos < length) {
    // The literal stretch ends where three equal bytes follow one another.
    int32_t run = pos;
    while (run + 2 < length && !(src[run] == src[run + 1] && src[run] == src[run + 2])) ++run;
    if (run + 2 >= length) run = length;  // fewer than three bytes left: all literal
    if (run > pos && !PutLiterals(w, src + pos, run - pos)) return RaiseError(ERR_PACK);
    pos = run;
    if (pos == length) break;
    int32_t end = pos + 3;
    while (end < length && src[end] == src[pos]) ++end;
    if (!PutRun(w, src[pos], end - pos)) return RaiseError(ERR_PACK);
    pos = end;
  }
  if (!w.Put(0x00) || !w.Finish()) return RaiseError(ERR_PACK);
  return w.written();
}

namespace {

// Decodes predictor-coded token bytes from src[1..srcLength).
class PredictorReader {
 public:
  PredictorReader(uint8_t* table, const uint8_t* src, int32_t srcLength)
      : table_(table), src_(src), end_(srcLength) {}

  // The next group's flag byte is read only when a ninth byte is wanted, so a
  // stream whose end token closes a group needs no further flag byte.
  bool Get(uint8_t& b) {
    if (count_ == 8) {
      if (in_ >= end_) return false;
      flags_ = src_[in_++];
      count_ = 0;
    }
    unsigned index = context_;
    if ((flags_ >> count_) & 1u) {
      b = table_[index];
    } else {
      if (in_ >= end_) return false;
      b = src_[in_++];
      table_[index] = b;
    }
    ++count_;
    context_ = static_cast<uint16_t>((context_ << 8) | b);
    return true;
  }

 private:
  uint8_t* table_;
  const uint8_t* src_;
  int32_t end_;
  int32_t in_ = 1;  // the leading 0x01 is skipped
  uint16_t context_ = 0;
  uint8_t flags_ = 0;
  int count_ = 8;
};

}  // namespace

int32_t RleUnpack(const uint8_t* src, int32_t srcLength, uint8_t* dst, int32_t capacity) {
  // Every stream holds at least its leading byte.
  if (!PackBuffersValid(src, srcLength, dst, capacity) || srcLength < 1)
    return RaiseError(ERR_PACK);
  MemPtr<uint8_t> table = NewTable();
  if (!table) return ERR_NO_MEMORY;
  PredictorReader in(table.get(), src, srcLength);

  int32_t out = 0;
  for (;;) {
    uint8_t t = 0;
    if (!in.Get(t)) return RaiseError(ERR_PACK);
    if (t == 0x00) return out;
    int32_t n = t & 0x3F;
    if ((t & 0x40) != 0) {
      uint8_t low = 0;
      if (!in.Get(low)) return RaiseError(ERR_PACK);
      n = (n << 8) | low;
    }
    // The packer never writes a count of 0; such a token is read as empty.
    if (n > capacity - out) return RaiseError(ERR_PACK);
    if ((t & 0x80) == 0) {
      uint8_t b = 0;
      if (!in.Get(b)) return RaiseError(ERR_PACK);
      if (n > 0) std::memset(dst + out, b, static_cast<size_t>(n));
      out += n;
    } else {
      for (int32_t i = 0; i < n; ++i) {
        if (!in.Get(dst[out + i])) return RaiseError(ERR_PACK);
      }
      out += n;
    }
  }
}
