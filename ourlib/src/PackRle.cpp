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

// A table for one call, all zeros; the thread's is cleared again when the
// call ends, also when a raise passes.
//
// A stream form keeps a table of its own for its life (two streams may be
// open at once).
class TableLease {
 public:
  // The thread's table, for one call on a stream of the given length.
  explicit TableLease(int32_t streamLength) : table_(t_table.get()) {
    if (!table_) {
      t_table.reset(static_cast<PredictorTable*>(MemAllocZero(sizeof(PredictorTable))));
      table_ = t_table.get();
    }
    if (table_) table_->whole = streamLength > kMarkedUpTo;
  }
  // A table of its own.
  TableLease() : own_(static_cast<PredictorTable*>(MemAllocZero(sizeof(PredictorTable)))) {
    table_ = own_.get();
    if (table_) table_->whole = true;
  }
  ~TableLease() {
    PredictorTable* t = table_;
    if (t == nullptr || own_) return;
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
  PredictorTable* get() const { return table_; }

 private:
  MemPtr<PredictorTable> own_;
  PredictorTable* table_ = nullptr;
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

namespace {

// The RLE packer of the stream form: its own predictor table, the coded
// bytes on their way to the sink, and the input that waits for what follows
// it.
class RlePackStream final : public PackStream {
 public:
  explicit RlePackStream(PackSink sink)
      : sink_(std::move(sink)),
        counted_([this](const uint8_t* bytes, size_t n) {
          written_ += static_cast<int64_t>(n);
          return sink_(bytes, n);
        }),
        writer_(lease_.get(), out_, kPiece, &counted_) {
    out_[0] = 0x01;
  }
  bool ready() const { return lease_.get() != nullptr; }

  bool Write(const uint8_t* bytes, size_t n) override {
    if (!ok_) return false;
    while (n > 0) {
      const size_t room = sizeof pending_ - static_cast<size_t>(length_);
      const size_t take = n < room ? n : room;
      std::memcpy(pending_ + length_, bytes, take);
      length_ += static_cast<int32_t>(take);
      bytes += take;
      n -= take;
      // Coded when full or twice as long as what was left waiting the last
      // time, so that each byte is looked at a few times only.
      if (length_ < static_cast<int32_t>(sizeof pending_) && length_ < 2 * left_ + 16) break;
      const int32_t done = PutTokens(writer_, pending_, length_, false);
      if (done < 0) return ok_ = false;
      std::memmove(pending_, pending_ + done, static_cast<size_t>(length_ - done));
      length_ -= done;
      left_ = length_;
    }
    return true;
  }
  int64_t Finish() override {
    const bool ok = ok_ && PutTokens(writer_, pending_, length_, true) >= 0 && writer_.Put(0x00) &&
                    writer_.Finish() && writer_.Drain();
    ok_ = false;  // nothing more is taken
    return ok ? written_ : int64_t{ERR_PACK};
  }

 private:
  static constexpr int32_t kPiece = 64 * 1024;
  PackSink sink_;
  PackSink counted_;
  int64_t written_ = 0;
  TableLease lease_;
  uint8_t out_[kPiece];
  PredictorWriter writer_;
  uint8_t pending_[2 * 0x4000 + kPiece];  // at most 0x3FFF + 3 bytes wait
  int32_t length_ = 0;
  int32_t left_ = 0;  // what waited after the last coding
  bool ok_ = true;
};

}  // namespace

std::unique_ptr<PackStream> NewRlePackStream(PackSink sink) {
  return MakePackStream<RlePackStream>(std::move(sink));
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

  // For input that comes in pieces: the input now ends at end; its first
  // n bytes (all taken) were dropped from the front.
  void Extend(int32_t end) { end_ = end; }
  void Drop(int32_t n) {
    in_ -= n;
    end_ -= n;
  }
  int32_t taken() const { return in_; }
  int32_t left() const { return end_ - in_; }

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
  int32_t available() const { return length_ - pos_; }

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
  uint8_t pending_[kPending + 32] = {};  // decoded, not yet taken; read 32 at a time
  int32_t pos_ = 0;
  int32_t length_ = 0;
};

}  // namespace

namespace {

enum class Token { kGoOn, kEnd, kDamaged };

// Decodes tokens into dst[out..capacity) while go() says so before each:
// kGoOn when it said no.
template <class Go>
Token DecodeTokens(PredictorReader& in, uint8_t* dst, int32_t capacity, int32_t& out, Go go) {
  while (go()) {
    // Most tokens are decoded whole already: a run at once.
    if (const uint8_t* p = in.Peek(3)) {
      const int32_t n = (p[0] & 0x40) != 0 ? (p[0] & 0x3F) << 8 | p[1] : p[0] & 0x3F;
      if (p[0] != 0 && (p[0] & 0x80) == 0 && n <= capacity - out) {
        const uint8_t b = p[(p[0] & 0x40) != 0 ? 2 : 1];
        if (n <= 16 && capacity - out >= 16) {
          const uint64_t fill = 0x0101010101010101ull * b;  // short runs: two stores
          std::memcpy(dst + out, &fill, 8);
          std::memcpy(dst + out + 8, &fill, 8);
        } else {
          std::memset(dst + out, b, static_cast<size_t>(n));
        }
        in.Skip((p[0] & 0x40) != 0 ? 3 : 2);
        out += n;
        continue;
      }
      // A short stretch of literals decoded already: copied at once.
      if ((p[0] & 0xC0) == 0x80 && n < in.available() && n <= capacity - out) {
        if (capacity - out >= 32) {
          std::memcpy(dst + out, p + 1, 32);  // pending_ holds 32 bytes and more
        } else {
          std::memcpy(dst + out, p + 1, static_cast<size_t>(n));
        }
        in.Skip(1 + n);
        out += n;
        continue;
      }
    }
    uint8_t t = 0;
    if (!in.Get(t)) return Token::kDamaged;
    if (t == 0x00) return Token::kEnd;
    int32_t n = t & 0x3F;
    if ((t & 0x40) != 0) {
      uint8_t low = 0;
      if (!in.Get(low)) return Token::kDamaged;
      n = (n << 8) | low;
    }
    // The packer never writes a count of 0; such a token is read as empty.
    if (n > capacity - out) return Token::kDamaged;
    if ((t & 0x80) == 0) {
      uint8_t b = 0;
      if (!in.Get(b)) return Token::kDamaged;
      if (n > 0) std::memset(dst + out, b, static_cast<size_t>(n));
    } else if (!in.GetBytes(dst + out, n)) {
      return Token::kDamaged;
    }
    out += n;
  }
  return Token::kGoOn;
}

}  // namespace

int32_t RleUnpack(const uint8_t* src, int32_t srcLength, uint8_t* dst, int32_t capacity) {
  // Every stream holds at least its leading byte.
  if (!PackBuffersValid(src, srcLength, dst, capacity) || srcLength < 1)
    return RaiseError(ERR_PACK);
  TableLease table(srcLength);
  if (!table.get()) return ERR_NO_MEMORY;
  PredictorReader in(table.get(), src, srcLength);
  int32_t out = 0;
  if (DecodeTokens(in, dst, capacity, out, [] { return true; }) != Token::kEnd)
    return RaiseError(ERR_PACK);
  return out;
}

namespace {

// The RLE unpacker of the stream form: the input not yet decoded (while
// more may come, a token is decoded only when all it could take is there)
// and the output on its way to the sink.
class RleUnpackStream final : public PackStream {
 public:
  RleUnpackStream(PackSink sink, int64_t most) : sink_(std::move(sink)), most_(most) {}
  bool ready() const { return lease_.get() != nullptr; }

  bool Write(const uint8_t* bytes, size_t n) override {
    if (failed_) return false;
    while (n > 0 && !ended_) {
      const int32_t taken = reader_.taken() < inLength_ ? reader_.taken() : inLength_;
      std::memmove(input_, input_ + taken, static_cast<size_t>(inLength_ - taken));
      inLength_ -= taken;
      reader_.Drop(taken);
      const size_t room = sizeof input_ - static_cast<size_t>(inLength_);
      const size_t take = n < room ? n : room;
      std::memcpy(input_ + inLength_, bytes, take);
      inLength_ += static_cast<int32_t>(take);
      reader_.Extend(inLength_);
      bytes += take;
      n -= take;
      if (!Run(false)) return !(failed_ = true);
    }
    return true;
  }
  int64_t Finish() override {
    if (failed_) return ERR_PACK;
    failed_ = true;  // nothing more is taken
    if (!ended_ && (!Run(true) || !ended_)) return ERR_PACK;
    return given_;
  }

 private:
  static constexpr int32_t kPiece = 64 * 1024;
  // The most input one token takes: 0x4001 token bytes with their flag
  // bytes, and the groups decoded ahead.
  static constexpr int32_t kTokenMost = 0x4001 + 0x4001 / 8 + 64;

  bool Run(bool final) {
    for (;;) {
      // A token gives at most 0x3FFF bytes: there is room for one past kPiece.
      if (outLength_ > kPiece && !Give()) return false;
      const int64_t allowed = most_ - given_;
      const int32_t capacity = allowed < static_cast<int64_t>(sizeof out_)
                                   ? static_cast<int32_t>(allowed)
                                   : static_cast<int32_t>(sizeof out_);
      bool waiting = false;
      const Token t = DecodeTokens(reader_, out_, capacity, outLength_, [&] {
        waiting = !final && reader_.left() < kTokenMost;
        return !waiting && outLength_ <= kPiece;
      });
      if (t == Token::kDamaged) return false;
      if (t == Token::kEnd) return (ended_ = true) && Give();
      if (waiting) return true;
    }
  }
  bool Give() {
    if (outLength_ > 0 && !sink_(out_, static_cast<size_t>(outLength_))) return false;
    given_ += outLength_;
    outLength_ = 0;
    return true;
  }

  PackSink sink_;
  int64_t most_;
  TableLease lease_;
  uint8_t input_[kPiece + kTokenMost];
  int32_t inLength_ = 0;
  PredictorReader reader_{lease_.get(), input_, 0};
  uint8_t out_[kPiece + 0x4000];
  int32_t outLength_ = 0;
  int64_t given_ = 0;  // bytes the sink has had
  bool ended_ = false;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<PackStream> NewRleUnpackStream(PackSink sink, int64_t most) {
  return MakePackStream<RleUnpackStream>(std::move(sink), most);
}
