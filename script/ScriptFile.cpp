// The updater's script source: a file read in text mode through plat::Env.
#include <cstring>
#include <memory>
#include <new>

#include "ourlib/src/ErrFrame.h"
#include "platform/Env.h"
#include "script/Source.h"

namespace {

constexpr unsigned char kEndOfInput = 0x1A;
constexpr int kEnd = -1;
constexpr int kFailed = -2;  // a read failed and no frame took the raise

struct ScriptFile {
  std::unique_ptr<plat::File> file;
  unsigned char buffer[4096];
  uint32_t next = 0;
  uint32_t filled = 0;
  bool ended = false;  // end of file or a 0x1A byte reached
  bool firstLineRead = false;
  bool refused = false;  // UTF-16 text: no line of it is handed out
};

// The next byte, kEnd at the end of the input, kFailed after a read failure
// (which raises -12).
int NextByte(ScriptFile* f) {
  if (f->ended) return kEnd;
  if (f->next == f->filled) {
    uint32_t got = 0;
    if (f->file->Read(f->buffer, sizeof f->buffer, &got) != 0) {
      f->ended = true;
      RaiseError(ERR_READ_FAILED);
      return kFailed;
    }
    f->next = 0;
    f->filled = got;
    if (got == 0) {
      f->ended = true;
      return kEnd;
    }
  }
  unsigned char c = f->buffer[f->next++];
  if (c == kEndOfInput) {
    f->ended = true;
    return kEnd;
  }
  return c;
}

void* Open(const char* path) {
  std::unique_ptr<ScriptFile> f(new (std::nothrow) ScriptFile);
  if (!f) return nullptr;
  if (plat::Env::Default()->Open(path, plat::Access::Read, plat::Share::Read,
                                 plat::Disposition::OpenExisting, 0, &f->file) != 0 ||
      !f->file)
    return nullptr;
  return f.release();
}

int Close(void* handle) {
  delete static_cast<ScriptFile*>(handle);
  return 0;
}

bool IsUtf16Mark(const unsigned char* lead, int count) {
  return count >= 2 &&
         ((lead[0] == 0xFF && lead[1] == 0xFE) || (lead[0] == 0xFE && lead[1] == 0xFF));
}

// A line ends at LF or CR LF (neither is kept). At most size - 1 characters
// are kept; the rest of a longer line is discarded. A NUL byte reads as a
// blank, so that it cannot cut the line short; in the first line it marks
// UTF-16 text, which would otherwise read as one stray token per letter.
int ReadLine(void* handle, char* buffer, int size) {
  ScriptFile* f = static_cast<ScriptFile*>(handle);
  if (f->refused) return ERR_UTF16_SCRIPT;
  const bool first = !f->firstLineRead;
  f->firstLineRead = true;
  unsigned char lead[2] = {0, 0};
  int leadCount = 0;
  bool nul = false;
  int kept = 0;
  bool any = false;
  bool pendingCr = false;
  auto keep = [&](char c) {
    if (kept < size - 1) buffer[kept++] = c;
  };
  for (;;) {
    int c = NextByte(f);
    if (c == kFailed) return ERR_READ_FAILED;
    if (c == kEnd) {
      if (pendingCr) keep('\r');
      break;
    }
    any = true;
    if (leadCount < 2) lead[leadCount++] = static_cast<unsigned char>(c);
    if (c == 0) nul = true;
    if (c == '\n') break;
    if (pendingCr) keep('\r');
    pendingCr = c == '\r';
    if (pendingCr) continue;
    keep(c == 0 ? ' ' : static_cast<char>(c));
  }
  buffer[kept] = '\0';
  if (first && (nul || IsUtf16Mark(lead, leadCount))) {
    f->refused = true;
    buffer[0] = '\0';
    return ERR_UTF16_SCRIPT;
  }
  return any ? kept : -1;
}

int NoMoreInput(void*) { return 0; }

}  // namespace

const SourceInterface& UpdaterSourceInterface() {
  static const SourceInterface source = {Open, Close, ReadLine, NoMoreInput, nullptr, nullptr};
  return source;
}
