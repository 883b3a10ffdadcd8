// Error frames: failures travel as negative codes to the innermost frame.
//
// A guarding function installs a frame for its guarded section; RaiseError
// throws RaisedError when at least one frame is installed and otherwise
// returns the code to its caller, which must then return a failure of its own.
// Frames form a stack (the chain); a frame removes itself on every path out
// of the guarded section, so the chain is always left as it was found.
//
//   int code = Guard([&] { ... may raise ... });   // 0, or the raised code
//
// RAII frees what a guarded section holds when a raise passes through it.
// The codes themselves, and which layer raises and which returns them, are
// in ErrorCodes.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "ourlib/src/ErrorCodes.h"

// The exception that carries a raised code to the innermost frame.
struct RaisedError {
  int code;
};

class ErrFrame;
namespace errframe {
// The innermost installed frame, or null when none is; only ErrFrame moves it.
inline ErrFrame* head = nullptr;
}  // namespace errframe

// One installed frame. Construction pushes it on the chain, destruction pops it.
class ErrFrame {
 public:
  ErrFrame() : prev_(errframe::head) { errframe::head = this; }
  ~ErrFrame() { errframe::head = prev_; }
  ErrFrame* Previous() const { return prev_; }

 private:
  ErrFrame(const ErrFrame&) = delete;  // a frame belongs to the stack it was pushed from
  ErrFrame& operator=(const ErrFrame&) = delete;
  ErrFrame* prev_;
};

// The innermost installed frame, or null when none is.
inline ErrFrame* ErrFrameHead() { return errframe::head; }

// Runs f under a new frame. Returns 0 when f completes, or the code raised
// inside it; in both cases the frame is gone from the chain on return.
template <class F>
int Guard(F&& f) {
  try {
    ErrFrame frame;
    std::forward<F>(f)();
  } catch (const RaisedError& e) {
    return e.code;
  }
  return 0;
}

// Resumes at the innermost frame with code; with no frame installed, returns it.
int RaiseError(int code);

// Records file, line and code as the first error when force is nonzero or no
// first error is recorded yet, then behaves as RaiseError.
int RaiseErrorAt(int code, int force, const char* file, int line);

// The first-error record, read and cleared by the debug reporter.
struct FirstError {
  const char* file;  // null until an error is recorded
  int line;
  int code;
};
FirstError& FirstErrorRecord();

// Allocation helpers. A request for 0 bytes counts as 1. When memory is
// exhausted they raise -2 and return null only when no frame is installed.
void* MemAlloc(size_t n);
void* MemAllocZero(size_t n);
void* MemRealloc(void* p, size_t n);
char* MemStrDup(const char* s);  // null gives null
void MemFree(void* p);

template <class T>
void MemFreeNull(T*& p) {
  MemFree(p);
  p = nullptr;
}

// The owner of memory from the allocation helpers: it is given back with
// MemFree when the owner goes, also when a raise passes through its scope.
struct MemPtrDeleter {
  void operator()(void* p) const { MemFree(p); }
};
template <class T>
using MemPtr = std::unique_ptr<T, MemPtrDeleter>;

// MemAlloc(n) as a T owned by a MemPtr; null only without a frame.
template <class T = uint8_t>
MemPtr<T> MemAllocOwned(size_t n) {
  return MemPtr<T>(static_cast<T*>(MemAlloc(n)));
}
