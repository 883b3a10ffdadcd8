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

// A pack method's packer or unpacker for input handed over in pieces, in
// bounded memory: the sink is given exactly the bytes the one-call form
// gives for the whole input, as they come.
class PackStream {
 public:
  virtual ~PackStream() = default;
  // False when the input cannot go on: the sink refused, an unpacker found
  // the stream damaged or giving more than its `most` bytes, a packer's
  // input grew too long, or after Finish. An unpacker ignores what follows
  // the end token.
  virtual bool Write(const uint8_t* bytes, size_t n) = 0;
  // Codes the rest. The number of bytes the sink was given, or ERR_PACK
  // when Write failed, the sink refused, or a packed stream ended before its
  // end token.
  virtual int64_t Finish() = 0;
};

// Each raises ERR_NO_MEMORY when its working state cannot be had (and
// returns null without a frame). The LZ packer takes up to 2 GiB less
// 64 KiB; an unpacker gives at most `most` bytes.
std::unique_ptr<PackStream> NewLzPackStream(PackSink sink);
std::unique_ptr<PackStream> NewRlePackStream(PackSink sink);
std::unique_ptr<PackStream> NewLzUnpackStream(PackSink sink, int64_t most);
std::unique_ptr<PackStream> NewRleUnpackStream(PackSink sink, int64_t most);
