// Whole files in and out of updkit, through the Env like every other file
// the programs touch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/Env.h"

// Reads the file at path whole into *bytes. False when it cannot be opened
// or read.
bool ReadWholeFile(const char* path, std::vector<uint8_t>* bytes,
                   plat::Env& env = *plat::Env::Default());

// Creates or replaces the file at path with n bytes. They are written beside
// it, flushed and renamed over it, so that no reader ever sees half of them.
// False on any failure; a file that was there then stays as it was.
bool WriteWholeFile(const char* path, const void* bytes, size_t n,
                    plat::Env& env = *plat::Env::Default());
