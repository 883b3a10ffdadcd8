// The two pack methods of record bytes and package chunks. They work on
// memory buffers only and know nothing of stores or files.
//
// Packers return the packed length and raise ERR_PACK (RaiseError) when the
// output would exceed capacity. Unpackers return the number of bytes
// produced; they never read past srcLength bytes of input nor write past
// capacity bytes of output, and raise ERR_PACK for a damaged stream (one that
// ends early, refers before the start of its output, or would overflow).
#pragma once

#include <cstdint>

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
