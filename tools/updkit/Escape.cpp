#include "tools/updkit/Escape.h"

#include <cstdio>

std::string EscapeBytes(const char* text) {
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    switch (*p) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (*p < 0x20 || *p >= 0x7F) {
          char hex[5];
          std::snprintf(hex, sizeof hex, "\\x%02x", *p);
          out += hex;
        } else {
          out += static_cast<char>(*p);
        }
    }
  }
  return out;
}
