#include "bench/Corpus.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace corpus {

namespace {

namespace fs = std::filesystem;

constexpr size_t kSmallMiB = 1;

// A uniform pick below n from the raw generator (the standard
// distributions differ between libraries; the raw sequence does not).
uint32_t Below(std::mt19937& g, uint32_t n) { return static_cast<uint32_t>(g() % n); }

// Prose: sentences of words drawn by Zipf's law from a vocabulary of made-up
// words, with commas, numbers, capitals and lines wrapped at 72 columns.
Bytes Text(size_t n) {
  std::mt19937 g(11);
  static const char* kOnsets[] = {"b",  "c",  "d",  "f",  "g",  "h",  "k",  "l",  "m",
                                  "n",  "p",  "r",  "s",  "t",  "v",  "w",  "st", "tr",
                                  "ch", "sh", "th", "gr", "pl", "br", "qu", "",   ""};
  static const char* kVowels[] = {"a", "e", "i", "o", "u", "ea", "ou", "ai", "y"};
  static const char* kCodas[] = {"", "", "", "n", "r", "s", "t", "l", "nd", "ng", "ck", "st"};
  std::vector<std::string> words;
  for (int w = 0; w < 4000; ++w) {
    std::string word;
    const int syllables = 1 + static_cast<int>(Below(g, 3)) + (Below(g, 4) == 0 ? 1 : 0);
    for (int s = 0; s < syllables; ++s) {
      word += kOnsets[Below(g, std::size(kOnsets))];
      word += kVowels[Below(g, std::size(kVowels))];
      word += kCodas[Below(g, std::size(kCodas))];
    }
    words.push_back(word);
  }
  std::vector<double> cumulative;
  double sum = 0;
  for (size_t r = 0; r < words.size(); ++r) cumulative.push_back(sum += 1.0 / double(r + 1));
  auto zipf = [&]() -> const std::string& {
    const double u = double(g()) / 4294967296.0 * sum;
    return words[size_t(std::lower_bound(cumulative.begin(), cumulative.end(), u) -
                        cumulative.begin())];
  };

  Bytes out;
  size_t column = 0;
  auto put = [&](const std::string& piece) {
    if (column + piece.size() > 72) {
      out.push_back('\r');
      out.push_back('\n');
      column = 0;
    } else if (column > 0) {
      out.push_back(' ');
      ++column;
    }
    out.insert(out.end(), piece.begin(), piece.end());
    column += piece.size();
  };
  while (out.size() < n) {
    const int sentences = 2 + static_cast<int>(Below(g, 6));
    for (int s = 0; s < sentences; ++s) {
      const int length = 4 + static_cast<int>(Below(g, 18));
      for (int w = 0; w < length; ++w) {
        std::string word = Below(g, 25) == 0 ? std::to_string(Below(g, 5000)) : zipf();
        if (w == 0) word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
        if (w + 1 == length) {
          word += Below(g, 8) == 0 ? "?" : ".";
        } else if (Below(g, 9) == 0) {
          word += ",";
        }
        put(word);
      }
    }
    out.insert(out.end(), {'\r', '\n', '\r', '\n'});
    column = 0;
  }
  out.resize(n);
  return out;
}

// Shared libraries of the machine, whole, in a fixed order; the list
// repeats when they are fewer bytes than wanted. Without any, the running
// program stands in.
std::string g_librarySources;

Bytes Libraries(size_t n) {
  static const char* kNames[] = {"libc.so.6",       "libstdc++.so.6", "libm.so.6",
                                 "libsqlite3.so.0", "libcrypto.so.3", "libssl.so.3",
                                 "libz.so.1",       "liblzma.so.5",   "libgcc_s.so.1"};
  static const char* kFolders[] = {"/usr/lib/x86_64-linux-gnu",
                                   "/usr/lib/aarch64-linux-gnu",
                                   "/usr/lib64",
                                   "/usr/lib",
                                   "/lib/x86_64-linux-gnu",
                                   "/lib64",
                                   "/lib"};
  std::vector<fs::path> found;
  for (const char* name : kNames) {
    for (const char* folder : kFolders) {
      std::error_code ec;
      const fs::path p = fs::path(folder) / name;
      if (fs::is_regular_file(p, ec)) {
        found.push_back(p);
        break;
      }
    }
  }
  if (found.empty()) found.push_back("/proc/self/exe");
  g_librarySources.clear();
  Bytes out;
  for (size_t i = 0; out.size() < n; ++i) {
    const fs::path& p = found[i % found.size()];
    std::ifstream f(p, std::ios::binary);
    Bytes file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (file.empty() && i >= found.size()) break;  // nothing readable at all
    if (i < found.size()) g_librarySources += (i ? " " : "") + p.filename().string();
    out.insert(out.end(), file.begin(), file.end());
  }
  if (out.size() < n) {  // nothing could be read: bytes like machine code
    std::mt19937 g(13);
    while (out.size() < n) {
      out.push_back(static_cast<uint8_t>(Below(g, 4) == 0 ? g() : 0x48 + Below(g, 16)));
    }
    g_librarySources = "(generated)";
  }
  out.resize(n);
  return out;
}

// 8-bit palette pictures, rows padded to four bytes as a DIB keeps them.
struct Picture {
  int width, height;
  Bytes pixels;
  Picture(int w, int h) : width(w), height(h), pixels(size_t((w + 3) & ~3) * h, 0) {}
  uint8_t& at(int x, int y) { return pixels[size_t(y) * size_t((width + 3) & ~3) + size_t(x)]; }
};

// Value noise in 0..1: a lattice of hashed values, smoothly interpolated,
// over three octaves.
double Noise(double x, double y, uint32_t seed) {
  auto lattice = [seed](int ix, int iy) {
    uint32_t h = uint32_t(ix) * 374761393u + uint32_t(iy) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return double((h ^ (h >> 16)) & 0xFFFF) / 65535.0;
  };
  auto smooth = [](double t) { return t * t * (3 - 2 * t); };
  double total = 0, weight = 0, scale = 1;
  for (int octave = 0; octave < 3; ++octave) {
    const double fx = x * scale, fy = y * scale;
    const int ix = int(std::floor(fx)), iy = int(std::floor(fy));
    const double tx = smooth(fx - ix), ty = smooth(fy - iy);
    const double top = lattice(ix, iy) + (lattice(ix + 1, iy) - lattice(ix, iy)) * tx;
    const double bottom =
        lattice(ix, iy + 1) + (lattice(ix + 1, iy + 1) - lattice(ix, iy + 1)) * tx;
    const double w = 1.0 / scale;
    total += (top + (bottom - top) * ty) * w;
    weight += w;
    scale *= 2;
  }
  return total / weight;
}

// A shade between first and first + shades - 1, dithered by a 4x4 Bayer
// matrix between the two nearest shades.
uint8_t Dithered(double level, int x, int y, int first, int shades) {
  static const int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  const double v = std::clamp(level, 0.0, 0.999) * (shades - 1);
  int s = int(v);
  if ((v - s) * 16 > kBayer[y & 3][x & 3] + 0.5) ++s;
  return static_cast<uint8_t>(first + std::min(s, shades - 1));
}

// Ground tiles: noise over a ramp of shades, dithered, with a few stones.
Picture Terrain(std::mt19937& g) {
  Picture p(256, 256);
  const uint32_t seed = g();
  const int first = 32 + 16 * int(Below(g, 4));
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      p.at(x, y) = Dithered(Noise(x / 24.0, y / 24.0, seed), x, y, first, 12);
    }
  }
  for (int stone = 0; stone < 40; ++stone) {
    const int cx = int(Below(g, 256)), cy = int(Below(g, 256)), r = 1 + int(Below(g, 3));
    for (int y = cy - r; y <= cy + r; ++y) {
      for (int x = cx - r; x <= cx + r; ++x) {
        if (x >= 0 && y >= 0 && x < 256 && y < 256) p.at(x, y) = uint8_t(first + 14);
      }
    }
  }
  return p;
}

// A sheet of unit sprites on the transparent colour 0: shaded bodies with
// an outline, a head and a banner colour per unit.
Picture Sprites(std::mt19937& g) {
  Picture p(512, 256);
  for (int cell = 0; cell < 32; ++cell) {
    const int ox = (cell % 8) * 64, oy = (cell / 8) * 64;
    const double rx = 10 + Below(g, 16), ry = 14 + Below(g, 14);
    const int ramp = 96 + 16 * int(Below(g, 6));
    const uint8_t banner = uint8_t(200 + Below(g, 40));
    for (int y = 0; y < 64; ++y) {
      for (int x = 0; x < 64; ++x) {
        const double dx = (x - 32) / rx, dy = (y - 36) / ry;
        const double d = dx * dx + dy * dy;
        uint8_t c = 0;
        if (d <= 1.0) {
          const double light = std::clamp(0.55 - 0.45 * dx - 0.35 * dy, 0.0, 1.0);
          c = d > 0.85 ? uint8_t(ramp) : Dithered(light, x, y, ramp + 1, 10);
          if (y > 30 && y < 34 && x > 24 && x < 40) c = banner;
        }
        const double hx = (x - 32) / 7.0, hy = (y - 14) / 7.0;
        if (hx * hx + hy * hy <= 1.0) c = hx * hx + hy * hy > 0.7 ? 1 : uint8_t(180 + (y & 3));
        p.at(ox + x, oy + y) = c;
      }
    }
  }
  return p;
}

// An interface panel: a banded gradient, framed buttons with bevels and
// lines of text in a small pixel font.
Picture Panel(std::mt19937& g) {
  Picture p(640, 480);
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) p.at(x, y) = uint8_t(64 + y / 30);
  }
  std::vector<uint32_t> glyphs(96);  // 5x6 bits each
  for (uint32_t& glyph : glyphs) glyph = g() & 0x3FFFFFFF;
  for (int button = 0; button < 12; ++button) {
    const int bx = 20 + int(Below(g, 480)), by = 20 + int(Below(g, 400));
    const int bw = 80 + int(Below(g, 60)), bh = 24 + int(Below(g, 20));
    for (int y = by; y < std::min(by + bh, p.height); ++y) {
      for (int x = bx; x < std::min(bx + bw, p.width); ++x) {
        const bool top = y == by || x == bx, bottom = y == by + bh - 1 || x == bx + bw - 1;
        p.at(x, y) = top ? 15 : bottom ? 8 : 7;
      }
    }
    for (int ch = 0; ch < (bw - 8) / 6; ++ch) {
      const uint32_t glyph = glyphs[Below(g, 96)];
      for (int gy = 0; gy < 6; ++gy) {
        for (int gx = 0; gx < 5; ++gx) {
          const int x = bx + 4 + ch * 6 + gx, y = by + (bh - 6) / 2 + gy;
          if (x < p.width && y < p.height && ((glyph >> (gy * 5 + gx)) & 1)) p.at(x, y) = 0;
        }
      }
    }
  }
  return p;
}

Bytes Bitmaps(size_t n) {
  std::mt19937 g(17);
  Bytes out;
  for (int i = 0; out.size() < n; ++i) {
    const Picture p = i % 3 == 0 ? Terrain(g) : i % 3 == 1 ? Sprites(g) : Panel(g);
    out.insert(out.end(), p.pixels.begin(), p.pixels.end());
  }
  out.resize(n);
  return out;
}

}  // namespace

size_t TotalSize() {
  const char* mib = std::getenv("UPD_BENCH_MIB");
  const long v = mib != nullptr ? std::strtol(mib, nullptr, 10) : 0;
  return size_t(v > 0 ? v : long{kSmallMiB}) << 20;
}

std::vector<Part> Make(size_t total) {
  const size_t third = total / 3;
  return {
      {"text", Text(third)}, {"libs", Libraries(third)}, {"bitmaps", Bitmaps(total - 2 * third)}};
}

const std::string& LibrarySources() { return g_librarySources; }

}  // namespace corpus
