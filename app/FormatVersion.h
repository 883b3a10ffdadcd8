// The version text: " %d.%03d.%03d " (a blank before and after) in one
// static 16-byte buffer that each call overwrites.
#pragma once

const char* FormatVersion(int version, int build, int patch);
