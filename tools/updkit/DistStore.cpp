#include "tools/updkit/DistStore.h"

#include <cstring>

#include "ourlib/src/ByteCodec.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Mf32int.h"
#include "ourlib/src/Pack.h"
#include "ourlib/src/SectionNames.h"
#include "ourlib/src/StoreEngine.h"
#include "tools/updkit/Escape.h"
#include "update/DibSize.h"
#include "update/StoreGuarded.h"

namespace dist {

namespace {

constexpr int kSurfaceOffsets = 2;  // a font table's offsets follow its 16-bit count

// A keyed record of an open, mapped store: its key as stored (the header
// filled in by the lookup) and its stored bytes inside the data file's view.
struct Stored {
  uint8_t key[kRecKeyBuffer] = {};
  const uint8_t* bytes = nullptr;

  int32_t stored() const { return RecKeyStoredLength(key); }
  int32_t unpacked() const { return RecKeyUnpackedLength(key); }
  uint8_t pack() const { return RecKeyPack(key); }
};

// What went wrong inside a guarded walk: said once, then raised out of it
// (the walks run under a frame, so the raise never returns).
struct Failure {
  std::string text;
  void Raise(const std::string& what) {
    text = what;
    RaiseError(ERR_NOT_STORE);
  }
};

std::string RecordText(uint8_t section, const std::string& name) {
  return "record " + RecordName(section, name);
}

// Looks the record up by section and name: false when the store has none.
// A key whose block does not hold its stored bytes is a damaged store.
bool Lookup(cMf32* h, uint8_t section, const std::string& name, Stored* out, Failure& failure,
            const std::string& path) {
  RecKeyMake(out->key, section, name.data(), name.size());
  const int32_t offset = StoreGetRecord(h->Engine(), out->key, nullptr, 0);
  if (offset == ERR_NOT_FOUND) return false;
  if (offset < 0 || out->stored() < 0 ||
      h->RecCheck(offset, static_cast<uint32_t>(out->stored())) != 0) {
    failure.Raise(path + ": " + RecordText(section, name) + " is damaged");
  }
  out->bytes = h->RecPtr(offset);
  return true;
}

// A record's unpacked bytes, read through cMf32 so that they are checked
// the way the updater reads them.
std::vector<uint8_t> Unpacked(cMf32* h, uint8_t section, const std::string& name, const Stored& s) {
  void* record = h->RecGet(section, name.c_str(), nullptr, 1);
  const int32_t length = s.pack() == PACK_LZ || s.pack() == PACK_RLE ? s.unpacked() : s.stored();
  std::vector<uint8_t> bytes(static_cast<const uint8_t*>(record),
                             static_cast<const uint8_t*>(record) + length);
  h->RecMemFree(&record);
  return bytes;
}

// A font: its table (unpacked) and each surface it points to, as long as the
// surface's header says. A table whose count is 0 or negative has none.
struct Font {
  std::vector<uint8_t> table;
  std::vector<std::pair<int32_t, int32_t>> surfaces;  // record offset, length

  int Count() const { return table.size() >= kSurfaceOffsets ? GetI16(table.data()) : 0; }
};

Font ReadFont(cMf32* h, const std::string& name, const Stored& s, Failure& failure,
              const std::string& path) {
  Font f;
  f.table = Unpacked(h, SECTION_FONT, name, s);
  const int count = f.Count();
  if (count <= 0) return f;
  if (kSurfaceOffsets + 4 * static_cast<size_t>(count) > f.table.size()) {
    failure.Raise(path + ": " + RecordText(SECTION_FONT, name) +
                  " has fewer offsets than surfaces");
  }
  for (int i = 0; i < count; ++i) {
    const int32_t offset = GetI32(f.table.data() + kSurfaceOffsets + 4 * i);
    const uint8_t* surface = h->RecPtr(offset);
    int64_t size =
        surface != nullptr && h->RecCheck(offset, kDibHeaderSize) == 0 ? DibSize(surface) : -1;
    if (size < kDibHeaderSize || h->RecCheck(offset, static_cast<uint32_t>(size)) != 0) {
      failure.Raise(path + ": " + RecordText(SECTION_FONT, name) + ", surface " +
                    std::to_string(i) + " is damaged");
    }
    f.surfaces.emplace_back(offset, static_cast<int32_t>(size));
  }
  return f;
}

bool SameFont(cMf32* a, const Font& fa, cMf32* b, const Font& fb) {
  if (fa.Count() <= 0 || fb.Count() <= 0) return fa.table == fb.table;
  if (fa.Count() != fb.Count() || fa.surfaces.size() != fb.surfaces.size()) return false;
  const size_t tail = kSurfaceOffsets + 4 * fa.surfaces.size();
  if (!std::equal(fa.table.begin() + tail, fa.table.end(), fb.table.begin() + tail,
                  fb.table.end())) {
    return false;
  }
  for (size_t i = 0; i < fa.surfaces.size(); ++i) {
    const auto& [oa, la] = fa.surfaces[i];
    const auto& [ob, lb] = fb.surfaces[i];
    if (la != lb || std::memcmp(a->RecPtr(oa), b->RecPtr(ob), static_cast<size_t>(la)) != 0)
      return false;
  }
  return true;
}

std::string OpenFail(const std::string& path, int code) {
  return path + ": cannot open the store (code " + std::to_string(code) + ")";
}

std::string Failed(const Failure& failure, const std::string& path, int code) {
  if (!failure.text.empty()) return failure.text;
  return path + ": reading the store failed (code " + std::to_string(code) + ")";
}

}  // namespace

std::string RecordName(uint8_t section, const std::string& name) {
  std::string shown = SectionName(section);
  while (!shown.empty() && shown.back() == ' ') shown.pop_back();
  return shown + " " + EscapeBytes(name.c_str());
}

std::string CompareStores(const std::string& oldPath, const std::string& newPath, StoreDiff* diff) {
  *diff = StoreDiff();
  StoreHandle olds, news;
  if (int code = olds.Open(oldPath.c_str(), MFO_READ)) return OpenFail(oldPath, code);
  if (int code = news.Open(newPath.c_str(), MFO_READ)) return OpenFail(newPath, code);
  Failure failure;
  int code = Guard([&] {
    uint8_t key[kRecKeyBuffer];
    news->ToBeg(nullptr, nullptr);
    while (news->RecKeyGetNext(key) != nullptr) {
      // progress: one step per record of NEW
      RecordRef ref{RecKeySection(key), std::string(RecKeyName(key), RecKeyNameLength(key))};
      Stored n, o;
      Lookup(news.get(), ref.section, ref.name, &n, failure, newPath);
      ref.added = !Lookup(olds.get(), ref.section, ref.name, &o, failure, oldPath);
      bool same = !ref.added && n.pack() == o.pack() && n.unpacked() == o.unpacked() &&
                  std::memcmp(RecKeyInfo(n.key), RecKeyInfo(o.key), kRecKeyInfo) == 0;
      const bool copyable = ref.section != SECTION_ALL && ref.name.find('\0') == std::string::npos;
      if (same && ref.section == SECTION_FONT && copyable) {
        same = SameFont(news.get(), ReadFont(news.get(), ref.name, n, failure, newPath), olds.get(),
                        ReadFont(olds.get(), ref.name, o, failure, oldPath));
      } else if (same && (n.stored() != o.stored() ||
                          std::memcmp(n.bytes, o.bytes, static_cast<size_t>(n.stored())) != 0)) {
        // Stored bytes that differ may still unpack to the same.
        same = copyable && Unpacked(news.get(), ref.section, ref.name, n) ==
                               Unpacked(olds.get(), ref.section, ref.name, o);
      }
      if (same) continue;
      if (!copyable) {
        diff->unshippable.push_back(ref);
        continue;
      }
      if (ref.section == SECTION_FONT) {
        ReadFont(news.get(), ref.name, n, failure, newPath);
      } else {
        Unpacked(news.get(), ref.section, ref.name, n);  // it reads whole, as the updater will
      }
      diff->shipped.push_back(ref);
    }
    olds->ToBeg(nullptr, nullptr);
    while (olds->RecKeyGetNext(key) != nullptr) {
      RecordRef ref{RecKeySection(key), std::string(RecKeyName(key), RecKeyNameLength(key))};
      Stored n;
      if (!Lookup(news.get(), ref.section, ref.name, &n, failure, newPath))
        diff->gone.push_back(ref);
    }
  });
  if (code != 0) return Failed(failure, newPath, code);
  olds.Close();
  news.Close();
  return "";
}

std::string WriteShippedStore(const std::string& newPath, const StoreDiff& diff,
                              const std::string& outPath) {
  StoreHandle news, out;
  if (int code = news.Open(newPath.c_str(), MFO_READ)) return OpenFail(newPath, code);
  if (int code = out.Open(outPath.c_str(), MFO_CREATE)) return OpenFail(outPath, code);
  Failure failure;
  int code = Guard([&] {
    for (const RecordRef& ref : diff.shipped) {
      // progress: one step per record shipped
      Stored n;
      if (!Lookup(news.get(), ref.section, ref.name, &n, failure, newPath))
        failure.Raise(newPath + ": " + RecordText(ref.section, ref.name) + " went away");
      if (ref.section != SECTION_FONT) {
        // The stored bytes as they are: packed or not, exactly NEW's.
        uint8_t key[kRecKeyBuffer];
        RecKeyMake(key, ref.section, ref.name.data(), ref.name.size());
        RecKeySetRecord(key, n.stored(), n.pack(), n.unpacked(), RecKeyInfo(n.key));
        StorePutRecord(out->Engine(), key, n.bytes, static_cast<uint32_t>(n.stored()));
        continue;
      }
      // A font's table points at its surfaces by their offsets in this store.
      Font f = ReadFont(news.get(), ref.name, n, failure, newPath);
      for (size_t i = 0; i < f.surfaces.size(); ++i) {
        const auto& [offset, length] = f.surfaces[i];
        PutI32(f.table.data() + kSurfaceOffsets + 4 * i,
               out->RecPutNoname(news->RecPtr(offset), length));
      }
      out->RecPut(SECTION_FONT, ref.name.c_str(), f.table.data(),
                  static_cast<int32_t>(f.table.size()), RecKeyInfo(n.key), n.pack(), nullptr);
    }
  });
  if (code != 0) return Failed(failure, newPath, code);
  news.Close();
  if (int closed = out.Close()) {
    return outPath + ": writing the store failed (code " + std::to_string(closed) + ")";
  }
  return "";
}

}  // namespace dist
