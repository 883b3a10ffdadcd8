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
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Pack.h"
#include "ourlib/src/PackArgs.h"

namespace {

constexpr int32_t kMaxCount = 0x3FFF;
constexpr size_t kTableSize = 65536;
constexpr unsigned kLineShift = 6;  // the table is cleaned by lines of 64 bytes

// The predictor table, kept zeroed between calls for the next one: a
// record of a few hundred bytes touches a few lines of it, and clearing
// those costs less than making 64 KiB of zeros for every record. For short
// streams every write marks its line; after a long one the whole table is
// cleared.
constexpr int32_t kMarkedUpTo = 16 * 1024;  // stream length

struct PredictorTable {
  uint8_t guess[kTableSize];
  uint8_t dirty[kTableSize >> kLineShift];
  bool whole;  // clear it all, the lines are not marked

  void Set(unsigned index, uint8_t b) {
    guess[index] = b;
    if (!whole) dirty[index >> kLineShift] = 1;
  }
};

thread_local MemPtr<PredictorTable> t_table;

// The thread's table for one call, all zeros; cleared again when the call
// ends, also when a raise passes.
class TableLease {
 public:
  explicit TableLease(int32_t streamLength) {
    if (!t_table) t_table.reset(static_cast<PredictorTable*>(MemAllocZero(sizeof(PredictorTable))));
    if (t_table) t_table->whole = streamLength > kMarkedUpTo;
  }
  ~TableLease() {
    PredictorTable* t = t_table.get();
    if (t == nullptr) return;
    if (t->whole) {
      std::memset(t->guess, 0, sizeof t->guess);
      return;
    }
    for (size_t line = 0; line < sizeof t->dirty; ++line) {
      if (t->dirty[line] != 0)
        std::memset(t->guess + (line << kLineShift), 0, size_t{1} << kLineShift);
    }
    std::memset(t->dirty, 0, sizeof t->dirty);
  }
  TableLease(const TableLease&) = delete;
  TableLease& operator=(const TableLease&) = delete;
  PredictorTable* get() const { return t_table.get(); }
};

// Codes token bytes into dst; dst[0] holds the leading 0x01. With a sink,
// dst is handed to it whenever it is full.
class PredictorWriter {
 public:
  PredictorWriter(PredictorTable* table, uint8_t* dst, int32_t capacity,
                  const PackSink* sink = nullptr)
      : table_(table), dst_(dst), capacity_(capacity), sink_(sink) {}

  bool Put(uint8_t b) {
    unsigned index = context_;
    if (table_->guess[index] == b) {
      flags_ = static_cast<uint8_t>(flags_ | (1u << count_));
    } else {
      table_->Set(index, b);
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
  // Hands what dst holds to the sink.
  bool Drain() {
    if (out_ > 0 && !(*sink_)(dst_, static_cast<size_t>(out_))) return false;
    out_ = 0;
    return true;
  }

 private:
  bool WriteGroup() {
    int32_t need = 1 + nlit_;
    if (need > capacity_ - out_ && (sink_ == nullptr || !Drain())) return false;
    dst_[out_] = flags_;
    std::memcpy(dst_ + out_ + 1, literals_, static_cast<size_t>(nlit_));
    out_ += need;
    flags_ = 0;
    nlit_ = 0;
    count_ = 0;
    return true;
  }

  PredictorTable* table_;
  uint8_t* dst_;
  int32_t capacity_;
  const PackSink* sink_;
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

namespace {

// Codes the tokens of src[0..length). With final set that is the whole rest
// of the input; else only what later bytes cannot change is coded: a
// literal stretch once a run follows it, and of a stretch or run that may go
// on, the chunks of 0x3FFF it surely has in front (a run keeps three bytes
// back, so that it is still seen as one). Returns how many bytes were
// coded, or -1 when the writer failed.
int32_t PutTokens(PredictorWriter& w, const uint8_t* src, int32_t length, bool final) {
  int32_t pos = 0;
  while (pos < length) {
    // The literal stretch ends where three equal bytes follow one another.
    int32_t run = pos;
    while (run + 2 < length && !(src[run] == src[run + 1] && src[run] == src[run + 2])) ++run;
    if (run + 2 >= length) {
      if (final) return PutLiterals(w, src + pos, length - pos) ? length : -1;
      for (; length - 2 - pos > kMaxCount; pos += kMaxCount) {
        if (!w.Put(0xFF) || !w.Put(0xFF) || !w.PutBytes(src + pos, kMaxCount)) return -1;
      }
      return pos;
    }
    if (run > pos && !PutLiterals(w, src + pos, run - pos)) return -1;
    pos = run;
    int32_t end = pos + 3;
    while (end < length && src[end] == src[pos]) ++end;
    if (end == length && !final) {
      for (; end - pos > kMaxCount + 2; pos += kMaxCount) {
        if (!w.Put(0x7F) || !w.Put(0xFF) || !w.Put(src[pos])) return -1;
      }
      return pos;
    }
    if (!PutRun(w, src[pos], end - pos)) return -1;
    pos = end;
  }
  return pos;
}

}  // namespace

int32_t RlePack(const uint8_t* src, int32_t length, uint8_t* dst, int32_t capacity) {
  if (!PackBuffersValid(src, length, dst, capacity)) return RaiseError(ERR_PACK);
  // Every stream holds at least the leading byte and one group.
  if (capacity < 1) return RaiseError(ERR_PACK);
  TableLease table(length);
  if (!table.get()) return ERR_NO_MEMORY;  // raised already when a frame is installed
  dst[0] = 0x01;
  PredictorWriter w(table.get(), dst, capacity);
  if (PutTokens(w, src, length, true) < 0 || !w.Put(0x00) || !w.Finish())
    return RaiseError(ERR_PACK);
  return w.written();
}

// The stream form's state: the predictor table (the thread's for the
// stream's life), the coded bytes on their way to the sink, and the input
// that waits for what follows it.
struct RleStreamState {
  static constexpr int32_t kPiece = 64 * 1024;
  TableLease lease{INT32_MAX};
  uint8_t out[kPiece];
  PredictorWriter writer;
  uint8_t pending[2 * 0x4000 + kPiece];  // at most 0x3FFF + 3 bytes wait
  int32_t length = 0;
  int32_t left = 0;  // what waited after the last coding

  explicit RleStreamState(const PackSink* sink) : writer(lease.get(), out, kPiece, sink) {
    out[0] = 0x01;
  }
};

void RleStreamStateDeleter::operator()(RleStreamState* s) const { delete s; }

RlePackStream::RlePackStream(PackSink sink) : sink_(std::move(sink)) {
  state_.reset(new (std::nothrow) RleStreamState(&sink_));
  if (!state_ || !state_->lease.get()) {
    state_.reset();
    RaiseError(ERR_NO_MEMORY);
  }
}

RlePackStream::~RlePackStream() = default;

bool RlePackStream::Write(const uint8_t* bytes, size_t n) {
  if (!state_ || !ok_) return false;
  RleStreamState& s = *state_;
  while (n > 0) {
    const size_t room = sizeof s.pending - static_cast<size_t>(s.length);
    const size_t take = n < room ? n : room;
    std::memcpy(s.pending + s.length, bytes, take);
    s.length += static_cast<int32_t>(take);
    bytes += take;
    n -= take;
    // Coded when full or twice as long as what was left waiting the last
    // time, so that each byte is looked at a few times only.
    if (s.length < static_cast<int32_t>(sizeof s.pending) && s.length < 2 * s.left + 16) break;
    const int32_t done = PutTokens(s.writer, s.pending, s.length, false);
    if (done < 0) return ok_ = false;
    std::memmove(s.pending, s.pending + done, static_cast<size_t>(s.length - done));
    s.length -= done;
    s.left = s.length;
  }
  return true;
}

bool RlePackStream::Finish() {
  if (!state_ || !ok_) return false;
  ok_ = false;  // nothing more is taken
  RleStreamState& s = *state_;
  return PutTokens(s.writer, s.pending, s.length, true) >= 0 && s.writer.Put(0x00) &&
         s.writer.Finish() && s.writer.Drain();
}

namespace {

// One group of eight token bytes whose flag byte is F, each step written out
// for its flag bit (a table of these replaces a hard-to-guess branch per
// byte by one jump per group). No bound is checked and no line marked: the
// caller has the eight literals and clears the whole table afterwards.
template <unsigned F, size_t... K>
void GroupOf(uint8_t* guess, const uint8_t*& src, uint8_t* to, unsigned& context,
             std::index_sequence<K...>) {
  unsigned c = context;
  const uint8_t* p = src;
  (
      [&] {
        uint8_t b;
        if constexpr (((F >> K) & 1u) != 0) {
          b = guess[c];
        } else {
          b = *p++;
          guess[c] = b;
        }
        to[K] = b;
        c = ((c << 8) | b) & 0xFFFFu;
      }(),
      ...);
  src = p;
  context = c;
}
using GroupFn = void (*)(uint8_t*, const uint8_t*&, uint8_t*, unsigned&);
template <unsigned F>
void Group(uint8_t* guess, const uint8_t*& src, uint8_t* to, unsigned& context) {
  GroupOf<F>(guess, src, to, context, std::make_index_sequence<8>());
}
template <unsigned... F>
constexpr std::array<GroupFn, 256> MakeGroups(std::integer_sequence<unsigned, F...>) {
  return {Group<F>...};
}
constexpr std::array<GroupFn, 256> kGroups =
    MakeGroups(std::make_integer_sequence<unsigned, 256>());

// Decodes predictor-coded token bytes from src[1..srcLength), a group of
// eight at a time while the input surely holds the group, else byte by
// byte with every read checked. A group's flag byte is read only when one of
// its bytes is wanted, so a stream whose end token closes a group needs no
// further flag byte.
class PredictorReader {
 public:
  PredictorReader(PredictorTable* table, const uint8_t* src, int32_t srcLength)
      : table_(table), src_(src), end_(srcLength) {}

  bool Get(uint8_t& b) {
    if (pos_ == length_ && !Refill()) return false;
    b = pending_[pos_++];
    return true;
  }

  // The next n (up to 3) token bytes when they are decoded already, else
  // null; Skip(n) takes them.
  const uint8_t* Peek(int32_t n) {
    if (pos_ == length_) Refill();
    return length_ - pos_ >= n ? pending_ + pos_ : nullptr;
  }
  void Skip(int32_t n) { pos_ += n; }

  // n token bytes into to: whole groups go there straight.
  bool GetBytes(uint8_t* to, int32_t n) {
    for (;;) {
      const int32_t have = length_ - pos_;
      const int32_t take = n < have ? n : have;
      std::memcpy(to, pending_ + pos_, static_cast<size_t>(take));
      pos_ += take;
      to += take;
      n -= take;
      while (n >= 8 && count_ == 8 && end_ - in_ >= 9) {
        WholeGroup(to);
        to += 8;
        n -= 8;
      }
      if (n == 0) return true;
      if (!Refill()) return false;
    }
  }

 private:
  // Decodes the next groups (or what the input holds of the next one) into
  // pending_.
  bool Refill() {
    pos_ = length_ = 0;
    if (count_ == 8 && end_ - in_ >= 9) {
      do {
        WholeGroup(pending_ + length_);
        length_ += 8;
      } while (length_ < kPending && end_ - in_ >= 9);
      return true;
    }
    if (count_ == 8) {
      if (in_ >= end_) return false;
      flags_ = src_[in_++];
      count_ = 0;
    }
    while (count_ < 8) {
      uint8_t b;
      if ((flags_ >> count_) & 1u) {
        b = table_->guess[context_];
      } else {
        if (in_ >= end_) break;
        b = src_[in_++];
        table_->Set(context_, b);
      }
      ++count_;
      pending_[length_++] = b;
      context_ = ((context_ << 8) | b) & 0xFFFFu;
    }
    return length_ > 0;
  }

  // A flag byte and its group, the input holding all of it.
  void WholeGroup(uint8_t* to) {
    const unsigned flags = src_[in_++];
    if (table_->whole) {
      const uint8_t* p = src_ + in_;
      kGroups[flags](table_->guess, p, to, context_);
      in_ = static_cast<int32_t>(p - src_);
      return;
    }
    unsigned c = context_;
    for (unsigned k = 0; k < 8; ++k) {
      uint8_t b;
      if ((flags >> k) & 1u) {
        b = table_->guess[c];
      } else {
        b = src_[in_++];
        table_->Set(c, b);
      }
      to[k] = b;
      c = ((c << 8) | b) & 0xFFFFu;
    }
    context_ = c;
  }

  PredictorTable* table_;
  const uint8_t* src_;
  int32_t end_;
  int32_t in_ = 1;        // the leading 0x01 is skipped
  unsigned context_ = 0;  // byte before last << 8 | last byte
  unsigned flags_ = 0;
  unsigned count_ = 8;  // bytes taken of the current group (8: its next flag byte is due)
  static constexpr int32_t kPending = 32;
  uint8_t pending_[kPending];  // decoded, not yet taken
  int32_t pos_ = 0;
  int32_t length_ = 0;
};

}  // namespace

int32_t RleUnpack(const uint8_t* src, int32_t srcLength, uint8_t* dst, int32_t capacity) {
  // Every stream holds at least its leading byte.
  if (!PackBuffersValid(src, srcLength, dst, capacity) || srcLength < 1)
    return RaiseError(ERR_PACK);
  TableLease table(srcLength);
  if (!table.get()) return ERR_NO_MEMORY;
  PredictorReader in(table.get(), src, srcLength);

  int32_t out = 0;
  for (;;) {
    // Most tokens are decoded whole already: a run at once.
    if (const uint8_t* p = in.Peek(3)) {
      const int32_t n = (p[0] & 0x40) != 0 ? (p[0] & 0x3F) << 8 | p[1] : p[0] & 0x3F;
      if (p[0] != 0 && (p[0] & 0x80) == 0 && n <= capacity - out) {
        std::memset(dst + out, p[(p[0] & 0x40) != 0 ? 2 : 1], static_cast<size_t>(n));
        in.Skip((p[0] & 0x40) != 0 ? 3 : 2);
        out += n;
        continue;
      }
    }
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
    } else if (!in.GetBytes(dst + out, n)) {
      return RaiseError(ERR_PACK);
    }
    out += n;
  }
}
