#include "platform/RegFile.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <unordered_map>

#include "platform/CodePage.h"

namespace plat {
namespace regfile {

namespace {

constexpr char kRegedit4[] = "REGEDIT4";
constexpr char kRegedit5[] = "Windows Registry Editor Version 5.00";
constexpr char kWine[] = "WINE REGISTRY Version 2";
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegMultiSz = 7;

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

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

bool IsTextType(uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// How a document's text stands for the values' bytes.
struct Style {
  Format format;
  bool utf8;  // the text is UTF-8 (every file but a REGEDIT4 one without a mark)
  explicit Style(const Document& doc)
      : format(doc.format),
        utf8(doc.format != Format::Regedit4 || doc.encoding != Encoding::Plain) {}
  // Unicode registries: texts are characters, text types' hex bytes UTF-16LE.
  bool wide() const { return format != Format::Regedit4; }
  std::string ToAnsi(const std::string& text) const { return utf8 ? Utf8ToAnsi(text) : text; }
  std::string FromAnsi(const std::string& ansi) const { return utf8 ? AnsiToUtf8(ansi) : ansi; }
};

std::string LittleEndian(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

std::u16string FromLittleEndian(const uint8_t* bytes, size_t size) {
  std::u16string out(size / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return out;
}

std::vector<uint8_t> Bytes(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

// ---- Reading -------------------------------------------------------------

struct Line {
  int number;        // of its first physical line
  std::string text;  // a hex list's continuations joined
  std::string raw;   // its physical lines, joined by '\n'
};

// Splits text into logical lines: a line ending in '\' inside a hex list
// continues on the next one (whose leading blanks are dropped).
bool SplitLines(const std::string& text, std::vector<Line>* lines, std::string* lineEnd,
                int* errorLine) {
  Line pending{0, std::string(), std::string()};
  bool open = false;
  int number = 0;
  size_t pos = 0;
  bool endSeen = false;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
      if (!endSeen) *lineEnd = "\r\n";
    }
    if (end < text.size()) endSeen = true;
    if (line.size() > kMaxLine) {
      *errorLine = number;
      return false;
    }
    if (open) {
      pending.raw += '\n';
      pending.raw += line;
      size_t first = line.find_first_not_of(" \t");
      line = first == std::string::npos ? std::string() : line.substr(first);
    } else {
      pending = Line{number, std::string(), line};
    }
    pending.text += line;
    if (pending.text.size() > kMaxLine * 16) {
      *errorLine = number;
      return false;
    }
    open = !pending.text.empty() && pending.text.back() == '\\' &&
           pending.text.find("=hex") != std::string::npos;
    if (open) {
      pending.text.pop_back();
      continue;
    }
    lines->push_back(pending);
  }
  if (open) lines->push_back(pending);
  return true;
}

// A quoted text of regedit's at text[*pos] (the opening quote), with \\ and
// \" escapes; Unicode files may also hold \n and \r (Wine's regedit writes
// them).
bool ReadQuoted(const std::string& text, size_t* pos, bool lineEscapes, std::string* out) {
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
      if (lineEscapes && (e == 'n' || e == 'r')) {
        out->push_back(e == 'n' ? '\n' : '\r');
      } else if (e == '\\' || e == '"') {
        out->push_back(e);
      } else {
        return false;
      }
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

// A text of Wine's up to the unescaped `close` character, with its escapes
// (\a \b \e \f \n \r \t \v, \x and up to four hex digits, \ and up to
// three octal digits, \ and any other character for that character).
bool ReadWineText(const std::string& text, size_t* pos, char close, std::u16string* out) {
  out->clear();
  size_t i = *pos;
  std::string run;  // plain UTF-8 text not yet turned into characters
  const auto flush = [&] {
    *out += Utf8ToWide(run);
    run.clear();
  };
  while (i < text.size()) {
    const char c = text[i];
    if (c == close) {
      flush();
      *pos = i + 1;
      return true;
    }
    if (c != '\\') {
      run.push_back(c);
      ++i;
      continue;
    }
    flush();
    if (++i >= text.size()) return false;
    const char e = text[i++];
    static const char kNamed[] =
        "a\ab\be\x1b"
        "f\fn\nr\rt\tv\v";
    const char* named = e != '\0' ? std::strchr(kNamed, e) : nullptr;
    if (named != nullptr && (named - kNamed) % 2 == 0) {
      out->push_back(static_cast<char16_t>(named[1]));
    } else if (e == 'x' && i < text.size() && HexDigit(text[i]) >= 0) {
      unsigned v = 0;
      for (int n = 0; n < 4 && i < text.size() && HexDigit(text[i]) >= 0; ++n) {
        v = v * 16 + static_cast<unsigned>(HexDigit(text[i++]));
      }
      out->push_back(static_cast<char16_t>(v));
    } else if (e >= '0' && e <= '7') {
      unsigned v = static_cast<unsigned>(e - '0');
      for (int n = 1; n < 3 && i < text.size() && text[i] >= '0' && text[i] <= '7'; ++n) {
        v = v * 8 + static_cast<unsigned>(text[i++] - '0');
      }
      out->push_back(static_cast<char16_t>(v));
    } else {
      run.push_back(e);
    }
  }
  return false;
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

bool OnlyBlanksFrom(const std::string& text, size_t pos) {
  return text.find_first_not_of(" \t", pos) == std::string::npos;
}

// The bytes of a text value: its characters and a terminating zero in the
// code page.
std::vector<uint8_t> WideTextBytes(std::u16string text, bool terminate) {
  if (terminate) text.push_back(u'\0');
  return Bytes(WideToAnsi(text));
}

bool ParseType(const std::string& text, size_t from, size_t close, uint32_t* type) {
  if (close == std::string::npos || close == from || close > from + 8) return false;
  *type = 0;
  for (size_t i = from; i < close; ++i) {
    int d = HexDigit(text[i]);
    if (d < 0) return false;
    *type = *type * 16 + static_cast<uint32_t>(d);
  }
  return true;
}

bool ParseData(const std::string& text, const Style& style, RegValue* value) {
  size_t pos = 0;
  if (style.format == Format::Wine && text.compare(0, 4, "str(") == 0) {
    const size_t close = text.find("):", 4);
    if (!ParseType(text, 4, close, &value->type)) return false;
    pos = close + 2;
    if (pos >= text.size() || text[pos] != '"') return false;
  } else if (!text.empty() && text[0] == '"') {
    value->type = kRegSz;
  }
  if (pos < text.size() && text[pos] == '"') {
    if (style.format == Format::Wine) {
      std::u16string s;
      ++pos;
      if (!ReadWineText(text, &pos, '"', &s) || !OnlyBlanksFrom(text, pos)) return false;
      value->data = WideTextBytes(s, true);
      return true;
    }
    std::string s;
    if (!ReadQuoted(text, &pos, style.wide(), &s) || !OnlyBlanksFrom(text, pos)) return false;
    if (style.wide()) {
      value->data = WideTextBytes(Utf8ToWide(s), true);
    } else {
      value->data = Bytes(style.ToAnsi(s));
      value->data.push_back(0);
    }
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
    const size_t close = text.find("):", 4);
    if (!ParseType(text, 4, close, &value->type)) return false;
    if (!ParseHexBytes(text.substr(close + 2), &value->data)) return false;
    if (style.wide() && IsTextType(value->type)) {
      value->data = WideTextBytes(FromLittleEndian(value->data.data(), value->data.size()), false);
    }
    return true;
  }
  return false;  // an unknown value type
}

// A section's line: its key's path below HKEY_LOCAL_MACHINE.
bool ParseSection(const std::string& line, const Style& style, std::string* path) {
  if (style.format == Format::Wine) {
    // "[Software\\Varnholt] 1700000000": the path relative to the root
    std::u16string wide;
    size_t pos = 1;
    if (!ReadWineText(line, &pos, ']', &wide)) return false;
    *path = WideToAnsi(wide);
    return true;
  }
  const size_t close = line.rfind(']');
  if (close == std::string::npos || !OnlyBlanksFrom(line, close + 1)) return false;
  const std::string full = style.ToAnsi(line.substr(1, close - 1));
  const std::string root = kRoot;
  if (SameName(full, root)) {
    path->clear();
  } else if (full.size() > root.size() && SameName(full.substr(0, root.size()), root) &&
             full[root.size()] == '\\') {
    *path = full.substr(root.size() + 1);
  } else {
    return false;  // another root, or a key to delete ("[-...]")
  }
  return true;
}

// The file's bytes as text: UTF-16 after its mark becomes UTF-8.
bool Decode(const std::string& bytes, Document* doc, std::string* text) {
  if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
    if (bytes.size() % 2 != 0) return false;
    doc->encoding = Encoding::Utf16Le;
    *text = WideToUtf8(
        FromLittleEndian(reinterpret_cast<const uint8_t*>(bytes.data()) + 2, bytes.size() - 2));
  } else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    doc->encoding = Encoding::Utf8Mark;
    *text = bytes.substr(3);
  } else {
    doc->encoding = Encoding::Plain;
    *text = bytes;
  }
  return true;
}

// ---- Writing -------------------------------------------------------------

void AppendQuoted(std::string* out, const std::string& s) {
  out->push_back('"');
  for (char c : s) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  }
  out->push_back('"');
}

// Wine's escapes for text: characters past 127 as \x, controls as \n and
// the like or octal, the closing characters and '\' after a '\'; the
// terminating zero of the text is left out.
std::string WineEscaped(const std::u16string& s, const char* escaped) {
  static const char kControls[] = ".......abtnvfr.............e....";
  std::string out;
  char buf[16];
  for (size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    const bool nextDigit = i + 1 < s.size() && s[i + 1] < 128;
    if (c > 127) {
      const bool hex = nextDigit && HexDigit(static_cast<char>(s[i + 1])) >= 0;
      std::snprintf(buf, sizeof buf, hex ? "\\x%04x" : "\\x%x", static_cast<unsigned>(c));
      out += buf;
    } else if (c < 32) {
      if (c == 0 && i + 1 == s.size()) continue;
      if (kControls[c] != '.') {
        std::snprintf(buf, sizeof buf, "\\%c", kControls[c]);
      } else {
        const bool octal = nextDigit && s[i + 1] >= '0' && s[i + 1] <= '7';
        std::snprintf(buf, sizeof buf, octal ? "\\%03o" : "\\%o", static_cast<unsigned>(c));
      }
      out += buf;
    } else {
      if (c == '\\' || std::strchr(escaped, static_cast<char>(c)) != nullptr) out.push_back('\\');
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

// True when regedit's "..." form gives back exactly these bytes.
bool PlainText(const RegValue& v) {
  if (v.type != kRegSz || v.data.empty() || v.data.back() != 0) return false;
  for (size_t i = 0; i + 1 < v.data.size(); ++i) {
    uint8_t c = v.data[i];
    if (c == 0 || c == '\n' || c == '\r') return false;
  }
  return true;
}

void AppendHex(std::string* out, uint32_t type, const std::string& bytes) {
  char buf[32];
  if (type == kRegBinary) {
    *out += "hex:";
  } else {
    std::snprintf(buf, sizeof buf, "hex(%x):", type);
    *out += buf;
  }
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", static_cast<uint8_t>(bytes[i]));
    *out += buf;
    if (i + 1 < bytes.size()) {
      out->push_back(',');
      if (i % 25 == 24) *out += "\\\n  ";
    }
  }
}

void AppendData(std::string* out, const RegValue& v, const Style& style) {
  const std::string ansi(v.data.begin(), v.data.end());
  if (style.format == Format::Wine && IsTextType(v.type)) {
    const std::u16string wide = AnsiToWide(ansi);
    if (!wide.empty() && wide.back() == u'\0') {
      char buf[32];
      if (v.type != kRegSz) {
        std::snprintf(buf, sizeof buf, "str(%x):", v.type);
        *out += buf;
      }
      *out += "\"" + WineEscaped(wide, "\"") + "\"";
      return;
    }
  } else if (PlainText(v)) {
    AppendQuoted(out, style.FromAnsi(ansi.substr(0, ansi.size() - 1)));
    return;
  }
  if (v.type == kRegDword && v.data.size() == 4) {
    char buf[32];
    uint32_t x =
        v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (static_cast<uint32_t>(v.data[3]) << 24);
    std::snprintf(buf, sizeof buf, "dword:%08x", x);
    *out += buf;
    return;
  }
  AppendHex(out, v.type,
            style.wide() && IsTextType(v.type) ? LittleEndian(AnsiToWide(ansi)) : ansi);
}

std::string ValueText(const RegValue& v, const Style& style) {
  std::string out;
  if (v.name.empty()) {
    out += "@";
  } else if (style.format == Format::Wine) {
    out += "\"" + WineEscaped(AnsiToWide(v.name), "\"") + "\"";
  } else {
    AppendQuoted(&out, style.FromAnsi(v.name));
  }
  out += "=";
  AppendData(&out, v, style);
  return out;
}

bool SameValue(const RegValue& a, const RegValue& b) {
  return a.name == b.name && a.type == b.type && a.data == b.data;
}

// The value's text as read, when it has not changed since.
const std::string* KeptText(const Key& key, size_t i) {
  const RegValue& v = key.values[i];
  if (i < key.kept.size() && SameValue(key.kept[i].value, v)) return &key.kept[i].text;
  for (const KeptValue& k : key.kept) {
    if (SameValue(k.value, v)) return &k.text;
  }
  return nullptr;
}

bool Unchanged(const Key& key) {
  if (key.values.size() != key.kept.size()) return false;
  for (size_t i = 0; i < key.values.size(); ++i) {
    if (KeptText(key, i) == nullptr) return false;
  }
  return true;
}

// A section's lines. Wine's carry the time of the key's last change: now,
// for a key that changed; its other option lines (#class, #link) stay.
std::string SectionText(const Key& key, const Style& style) {
  if (!key.head.empty() && (style.format != Format::Wine || Unchanged(key))) return key.head;
  if (style.format != Format::Wine) {
    return "[" + std::string(kRoot) + (key.path.empty() ? "" : "\\" + style.FromAnsi(key.path)) +
           "]";
  }
  const uint64_t seconds = static_cast<uint64_t>(std::time(nullptr));
  const uint64_t fileTime = (seconds + 11644473600ull) * 10000000ull;
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "] %llu\n#time=%llx", static_cast<unsigned long long>(seconds),
                static_cast<unsigned long long>(fileTime));
  std::string out = "[" + WineEscaped(AnsiToWide(key.path), "[]") + stamp;
  for (size_t start = key.head.find('\n'); start != std::string::npos;) {
    const size_t end = key.head.find('\n', start + 1);
    const std::string line = key.head.substr(start + 1, end - start - 1);
    if (line.compare(0, 6, "#time=") != 0) out += "\n" + line;
    start = end;
  }
  return out;
}

std::string FirstLine(Format format) {
  switch (format) {
    case Format::Regedit5:
      return kRegedit5;
    case Format::Wine:
      return kWine;
    default:
      return kRegedit4;
  }
}

}  // namespace

int Parse(const std::string& bytes, Document* doc, int* errorLine) {
  int dummy = 0;
  if (errorLine == nullptr) errorLine = &dummy;
  *doc = Document{};
  *errorLine = 1;
  std::string text;
  if (!Decode(bytes, doc, &text)) return kRegErrBadFormat;
  std::vector<Line> lines;
  if (!SplitLines(text, &lines, &doc->lineEnd, errorLine)) return kRegErrBadFormat;
  bool headerSeen = false;
  Key* current = nullptr;
  std::unordered_map<std::string, size_t> index;  // the keys' paths in upper case
  bool inHead = false;                            // Wine's option lines follow their section's line
  std::string preamble;
  for (const Line& entry : lines) {
    const std::string& line = entry.text;
    *errorLine = entry.number;
    size_t first = line.find_first_not_of(" \t");
    if (!headerSeen) {
      if (first == std::string::npos || line[first] == ';') continue;
      if (line == kRegedit4) {
        doc->format = Format::Regedit4;
      } else if (line == kRegedit5) {
        doc->format = Format::Regedit5;
      } else if (line == kWine) {
        doc->format = Format::Wine;
      } else {
        return kRegErrBadFormat;
      }
      headerSeen = true;
      preamble = line;
      continue;
    }
    const Style style(*doc);
    if (current == nullptr && doc->format == Format::Wine && (line.empty() || line[0] != '[')) {
      // Wine's lines before the first section: the root and the #arch line.
      if (line.compare(0, 2, ";;") == 0 && line.find("relative to") != std::string::npos &&
          line.find("Machine") == std::string::npos) {
        return kRegErrBadFormat;  // user.reg and the like: another root
      }
      preamble += "\n" + entry.raw;
      continue;
    }
    if (first == std::string::npos || line[first] == ';') {
      inHead = false;
      continue;
    }
    if (line[0] == '[') {
      std::string path;
      if (!ParseSection(line, style, &path)) return kRegErrBadFormat;
      // Found by name in a map: a Wine prefix has thousands of sections.
      auto found = index.emplace(Upper(path), doc->keys.size());
      if (found.second) {
        AddKey(doc, path)->head = entry.raw;
      }
      current = &doc->keys[found.first->second];
      inHead = doc->format == Format::Wine;
      continue;
    }
    if (current == nullptr) return kRegErrBadFormat;
    if (line[0] == '#' && doc->format == Format::Wine) {
      if (inHead && current->kept.empty()) current->head += "\n" + entry.raw;
      continue;
    }
    inHead = false;
    RegValue value;
    size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else if (doc->format == Format::Wine) {
      std::u16string name;
      if (line[0] != '"') return kRegErrBadFormat;
      pos = 1;
      if (!ReadWineText(line, &pos, '"', &name)) return kRegErrBadFormat;
      value.name = WideToAnsi(name);
    } else {
      std::string name;
      if (!ReadQuoted(line, &pos, false, &name)) return kRegErrBadFormat;
      value.name = style.ToAnsi(name);
    }
    if (pos >= line.size() || line[pos] != '=') return kRegErrBadFormat;
    if (!ParseData(line.substr(pos + 1), style, &value)) return kRegErrBadFormat;
    SetValue(current, value);
    current->kept.push_back(KeptValue{value, entry.raw});
  }
  // Wine's preamble ends before the blank line that opens the first section.
  while (!preamble.empty() && preamble.back() == '\n') preamble.pop_back();
  doc->preamble = preamble;
  // A file of blanks and comments alone is an empty registry.
  *errorLine = 0;
  return 0;
}

std::string Serialize(const Document& doc) {
  const Style style(doc);
  std::string out = doc.preamble.empty() ? FirstLine(doc.format) : doc.preamble;
  out += "\n";
  for (const Key& key : doc.keys) {
    out += "\n" + SectionText(key, style) + "\n";
    for (size_t i = 0; i < key.values.size(); ++i) {
      const std::string* kept = KeptText(key, i);
      out += (kept != nullptr ? *kept : ValueText(key.values[i], style)) + "\n";
    }
  }
  if (doc.lineEnd != "\n") {
    std::string crlf;
    for (char c : out) {
      if (c == '\n') crlf += '\r';
      crlf += c;
    }
    out.swap(crlf);
  }
  switch (doc.encoding) {
    case Encoding::Utf8Mark:
      return "\xEF\xBB\xBF" + out;
    case Encoding::Utf16Le:
      return "\xFF\xFE" + LittleEndian(Utf8ToWide(out));
    default:
      return out;
  }
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
  doc->keys.push_back(Key{path, {}, std::string(), {}});
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
