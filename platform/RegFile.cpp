#include "platform/RegFile.h"

#include <cstdio>
#include <cstring>

namespace plat {
namespace regfile {

namespace {

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// Splits text into logical lines: a line ending in '\' inside a hex list
// continues on the next one (whose leading blanks are dropped).
bool SplitLines(const std::string& text, std::vector<std::pair<int, std::string>>* lines,
                int* errorLine) {
  std::string pending;
  int pendingLine = 0;
  int number = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kMaxLine) {
      *errorLine = number;
      return false;
    }
    if (!pending.empty()) {
      size_t first = line.find_first_not_of(" \t");
      line = first == std::string::npos ? std::string() : line.substr(first);
    } else {
      pendingLine = number;
    }
    pending += line;
    if (pending.size() > kMaxLine * 16) {
      *errorLine = number;
      return false;
    }
    if (!pending.empty() && pending.back() == '\\' && pending.find("=hex") != std::string::npos) {
      pending.pop_back();
      continue;
    }
    lines->emplace_back(pendingLine, pending);
    pending.clear();
  }
  if (!pending.empty()) lines->emplace_back(pendingLine, pending);
  return true;
}

// Reads a quoted text at text[*pos] (the opening quote) with \\ and \" escapes.
bool ReadQuoted(const std::string& text, size_t* pos, std::string* out) {
  if (*pos >= text.size() || text[*pos] != '"') return false;
  size_t i = *pos + 1;
  out->clear();
  while (i < text.size()) {
    char c = text[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= text.size()) return false;
      char e = text[i + 1];
      if (e != '\\' && e != '"') return false;
      out->push_back(e);
      i += 2;
      continue;
    }
    out->push_back(c);
    ++i;
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* out) {
  out->clear();
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i == text.size()) return true;
  for (;;) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i + 2 > text.size()) return false;
    int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<uint8_t>(hi * 16 + lo));
    i += 2;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i == text.size()) return true;
    if (text[i] != ',') return false;
    ++i;
  }
}

bool ParseData(const std::string& text, RegValue* value) {
  if (!text.empty() && text[0] == '"') {
    size_t pos = 0;
    std::string s;
    if (!ReadQuoted(text, &pos, &s) || text.find_first_not_of(" \t", pos) != std::string::npos)
      return false;
    value->type = kRegSz;
    value->data.assign(s.begin(), s.end());
    value->data.push_back(0);
    return true;
  }
  if (text.compare(0, 6, "dword:") == 0) {
    std::string digits = text.substr(6);
    while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t')) digits.pop_back();
    if (digits.empty() || digits.size() > 8) return false;
    uint32_t v = 0;
    for (char c : digits) {
      int d = HexDigit(c);
      if (d < 0) return false;
      v = v * 16 + static_cast<uint32_t>(d);
    }
    value->type = kRegDword;
    value->data = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                   static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    return true;
  }
  if (text.compare(0, 4, "hex:") == 0) {
    value->type = kRegBinary;
    return ParseHexBytes(text.substr(4), &value->data);
  }
  if (text.compare(0, 4, "hex(") == 0) {
    size_t close = text.find("):", 4);
    if (close == std::string::npos || close == 4 || close > 12) return false;
    uint32_t type = 0;
    for (size_t i = 4; i < close; ++i) {
      int d = HexDigit(text[i]);
      if (d < 0) return false;
      type = type * 16 + static_cast<uint32_t>(d);
    }
    value->type = type;
    return ParseHexBytes(text.substr(close + 2), &value->data);
  }
  return false;  // an unknown value type
}

void AppendQuoted(std::string* out, const std::string& s) {
  out->push_back('"');
  for (char c : s) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  }
  out->push_back('"');
}

// True when the "..." form gives back exactly these bytes.
bool PlainText(const RegValue& v) {
  if (v.type != kRegSz || v.data.empty() || v.data.back() != 0) return false;
  for (size_t i = 0; i + 1 < v.data.size(); ++i) {
    uint8_t c = v.data[i];
    if (c == 0 || c == '\n' || c == '\r') return false;
  }
  return true;
}

void AppendData(std::string* out, const RegValue& v) {
  char buf[32];
  if (PlainText(v)) {
    AppendQuoted(out, std::string(v.data.begin(), v.data.end() - 1));
    return;
  }
  if (v.type == kRegDword && v.data.size() == 4) {
    uint32_t x =
        v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (static_cast<uint32_t>(v.data[3]) << 24);
    std::snprintf(buf, sizeof buf, "dword:%08x", x);
    *out += buf;
    return;
  }
  if (v.type == kRegBinary) {
    *out += "hex:";
  } else {
    std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
    *out += buf;
  }
  for (size_t i = 0; i < v.data.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", v.data[i]);
    *out += buf;
    if (i + 1 < v.data.size()) {
      out->push_back(',');
      if (i % 25 == 24) *out += "\\\n  ";
    }
  }
}

}  // namespace

int Parse(const std::string& input, Document* doc, int* errorLine) {
  int dummy = 0;
  if (errorLine == nullptr) errorLine = &dummy;
  doc->keys.clear();
  std::string text = input;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  std::vector<std::pair<int, std::string>> lines;
  if (!SplitLines(text, &lines, errorLine)) return kRegErrBadFormat;
  bool headerSeen = false;
  Key* current = nullptr;
  for (const auto& [number, line] : lines) {
    *errorLine = number;
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == ';') continue;
    if (!headerSeen) {
      if (line != "REGEDIT4" && line != "Windows Registry Editor Version 5.00")
        return kRegErrBadFormat;
      headerSeen = true;
      continue;
    }
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      if (close == std::string::npos ||
          line.find_first_not_of(" \t", close + 1) != std::string::npos)
        return kRegErrBadFormat;
      std::string full = line.substr(1, close - 1);
      std::string root = kRoot;
      std::string path;
      if (SameName(full, root)) {
        path.clear();
      } else if (full.size() > root.size() && SameName(full.substr(0, root.size()), root) &&
                 full[root.size()] == '\\') {
        path = full.substr(root.size() + 1);
      } else {
        return kRegErrBadFormat;  // another root, or a key to delete ("[-...]")
      }
      current = FindKey(doc, path);
      if (current == nullptr) current = AddKey(doc, path);
      continue;
    }
    if (current == nullptr) return kRegErrBadFormat;
    RegValue value;
    size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else if (!ReadQuoted(line, &pos, &value.name)) {
      return kRegErrBadFormat;
    }
    if (pos >= line.size() || line[pos] != '=') return kRegErrBadFormat;
    if (!ParseData(line.substr(pos + 1), &value)) return kRegErrBadFormat;
    SetValue(current, value);
  }
  // A file of blanks and comments alone is an empty registry.
  *errorLine = 0;
  return 0;
}

std::string Serialize(const Document& doc) {
  std::string out = "REGEDIT4\n";
  for (const Key& key : doc.keys) {
    out += "\n[";
    out += kRoot;
    if (!key.path.empty()) {
      out += "\\";
      out += key.path;
    }
    out += "]\n";
    for (const RegValue& v : key.values) {
      if (v.name.empty()) {
        out += "@";
      } else {
        AppendQuoted(&out, v.name);
      }
      out += "=";
      AppendData(&out, v);
      out += "\n";
    }
  }
  return out;
}

Key* FindKey(Document* doc, const std::string& path) {
  for (Key& k : doc->keys) {
    if (SameName(k.path, path)) return &k;
  }
  return nullptr;
}

bool IsSameOrBelow(const std::string& path, const std::string& base) {
  if (base.empty()) return true;
  if (SameName(path, base)) return true;
  return path.size() > base.size() && path[base.size()] == '\\' &&
         SameName(path.substr(0, base.size()), base);
}

bool KeyExists(const Document& doc, const std::string& path) {
  if (path.empty()) return true;  // HKEY_LOCAL_MACHINE itself
  for (const Key& k : doc.keys) {
    if (IsSameOrBelow(k.path, path)) return true;
  }
  return false;
}

Key* AddKey(Document* doc, const std::string& path) {
  doc->keys.push_back(Key{path, {}});
  return &doc->keys.back();
}

RegValue* FindValue(Key* key, const std::string& name) {
  for (RegValue& v : key->values) {
    if (SameName(v.name, name)) return &v;
  }
  return nullptr;
}

void SetValue(Key* key, const RegValue& value) {
  RegValue* old = FindValue(key, value.name);
  if (old != nullptr) {
    old->type = value.type;
    old->data = value.data;
  } else {
    key->values.push_back(value);
  }
}

}  // namespace regfile
}  // namespace plat
