// Reads a whole file into a newly allocated, zero-terminated buffer.
#pragma once

// The file's bytes followed by a zero byte, or null when the file does not
// exist, cannot be opened without sharing, or cannot be read in full. The
// caller frees the buffer with MemFree. Memory exhaustion raises -2.
char* ReadWholeFile(const char* path);
