// The two pack methods of record bytes and package chunks. They work on
// memory buffers only and know nothing of stores or files.
//
// Packers return the packed length and raise ERR_PACK (RaiseError) when the
// output would exceed capacity. Unpackers return the number of bytes
// produced; they never read past srcLength bytes of input nor write past
// capacity bytes of output, and raise ERR_PACK for a damaged stream (one that
// ends early, refers before the start of its output, or would overflow).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/ErrorCodes.h"

enum : uint8_t {
  PACK_NONE = 0,  // stored as given
  PACK_LZ = 1,    // LZ copy/literal stream
  PACK_RLE = 2,   // run-length tokens through a byte predictor
};

int32_t LzPack(const uint8_t* src, int32_t length, uint8_t* dst, int32_t capacity);
int32_t LzUnpack(const uint8_t* src, int32_t srcLength, uint8_t* dst, int32_t capacity);
int32_t RlePack(const uint8_t* src, int32_t length, uint8_t* dst, int32_t capacity);
int32_t RleUnpack(const uint8_t* src, int32_t srcLength, uint8_t* dst, int32_t capacity);

// Where a stream form hands its output, piece by piece in order; false stops
// the stream.
using PackSink = std::function<bool(const uint8_t* bytes, size_t n)>;

struct LzEngine;

// LzPack of an input handed over in pieces, in bounded memory: the sink is
// given exactly the bytes LzPack gives for the whole input. The input may
// be up to 2 GiB less 64 KiB long.
class LzPackStream {
 public:
  // Raises ERR_NO_MEMORY when the working state cannot be had (without a
  // frame, every call then returns false).
  explicit LzPackStream(PackSink sink);
  ~LzPackStream();
  LzPackStream(const LzPackStream&) = delete;
  LzPackStream& operator=(const LzPackStream&) = delete;

  // False when the sink refused, the input grew too long, or after Finish.
  bool Write(const uint8_t* bytes, size_t n);
  // Packs the rest and writes the end token. False when the sink refused.
  bool Finish();

 private:
  PackSink sink_;
  MemPtr<LzEngine> engine_;
  MemPtr<uint8_t> out_;
  bool ok_ = true;
};

struct RleStreamState;
struct RleStreamStateDeleter {
  void operator()(RleStreamState* s) const;
};

// RlePack of an input handed over in pieces, in bounded memory: the sink is
// given exactly the bytes RlePack gives for the whole input.
class RlePackStream {
 public:
  // Raises ERR_NO_MEMORY when the working state cannot be had (without a
  // frame, every call then returns false).
  explicit RlePackStream(PackSink sink);
  ~RlePackStream();
  RlePackStream(const RlePackStream&) = delete;
  RlePackStream& operator=(const RlePackStream&) = delete;

  // False when the sink refused, or after Finish.
  bool Write(const uint8_t* bytes, size_t n);
  // Codes the rest and the end token. False when the sink refused.
  bool Finish();

 private:
  PackSink sink_;
  std::unique_ptr<RleStreamState, RleStreamStateDeleter> state_;
  bool ok_ = true;
};

struct LzUnpackState;
struct LzUnpackStateDeleter {
  void operator()(LzUnpackState* s) const;
};

// LzUnpack of a stream handed over in pieces, in bounded memory: the sink is
// given the bytes LzUnpack gives for the whole stream, as they come.
class LzUnpackStream {
 public:
  // Raises ERR_NO_MEMORY when the working state cannot be had (without a
  // frame, every call then fails). The stream may give at most `most` bytes.
  LzUnpackStream(PackSink sink, int64_t most);
  ~LzUnpackStream();
  LzUnpackStream(const LzUnpackStream&) = delete;
  LzUnpackStream& operator=(const LzUnpackStream&) = delete;

  // False when the stream is damaged, gives more than `most` bytes, or the
  // sink refused. Bytes after the end token are ignored.
  bool Write(const uint8_t* bytes, size_t n);
  // The number of bytes produced, or ERR_PACK as Write fails or when the
  // stream ended before its end token.
  int64_t Finish();

 private:
  bool Run(bool final);
  PackSink sink_;
  int64_t most_;
  std::unique_ptr<LzUnpackState, LzUnpackStateDeleter> state_;
};

struct RleUnpackState;
struct RleUnpackStateDeleter {
  void operator()(RleUnpackState* s) const;
};

// RleUnpack of a stream handed over in pieces, in bounded memory; as
// LzUnpackStream.
class RleUnpackStream {
 public:
  RleUnpackStream(PackSink sink, int64_t most);
  ~RleUnpackStream();
  RleUnpackStream(const RleUnpackStream&) = delete;
  RleUnpackStream& operator=(const RleUnpackStream&) = delete;

  bool Write(const uint8_t* bytes, size_t n);
  int64_t Finish();

 private:
  bool Run(bool final);
  PackSink sink_;
  int64_t most_;
  std::unique_ptr<RleUnpackState, RleUnpackStateDeleter> state_;
};
