// A change to a record store made whole or not at all.
//
// The two files of a store cannot be replaced in one step, and a store edited
// in place through its views is broken for good when the program dies
// half-way. So a change is made on copies of both files beside the store,
// which are closed, flushed and then renamed over the originals. Between the
// two renames the store is a mixed pair; a small commit record written (and
// flushed) before the first rename says that the copies are complete, so the
// next change of the store finishes the renames first.
//
//   StoreChange change;
//   if (change.Begin(path, StoreChange::Start::Copy) != 0) ...;   // nothing changed
//   cMf32* h = cMf32::Open(change.WorkingPath(), MFO_UPDATE, 0, 0);
//   ... h->RecPut(...) ...
//   delete h;                                   // headers written, files closed
//   if (change.Commit() != 0) ...;              // store not (yet) replaced
//
// Leaving the scope without Commit deletes the copies: the store is exactly as
// it was. Files beside a store at base B (the index path without ".DKX"):
//   B.$$.DKX, B.$$.DKD   the working copies (their compaction temporary is B.$$.$$X)
//   B.$$C                the commit record, only during the renames
//   B.$$L                held open without sharing while a change runs, so
//                        that two changes of one store exclude each other
// A read-only open of a store never looks at any of them.
//
// Nothing here raises: every call returns 0 or a code (a system code, or -5
// for a name that does not fit a 260-byte field or a commit record that
// does not match its copies).
#pragma once

#include <memory>
#include <string>

#include "platform/Env.h"

struct StoreChangeNames;

class StoreChange {
 public:
  enum class Start {
    Copy,   // the working files start as copies of the store (when there is one)
    Empty,  // no copies: the working store is created anew (MFO_CREATE)
  };

  StoreChange();
  ~StoreChange();
  StoreChange(const StoreChange&) = delete;
  StoreChange& operator=(const StoreChange&) = delete;

  // Takes the store's lock, finishes an interrupted change of it (as
  // StoreRecover does), checks that both files that exist can be opened for
  // writing, and makes the working files. On failure nothing is left behind.
  int Begin(const char* path, Start start);
  // The store path to open with cMf32 (MFO_UPDATE or MFO_CREATE) between
  // Begin and Commit.
  const char* WorkingPath() const { return working_.c_str(); }
  // Once the working store is closed: flushes its files, writes the commit
  // record and renames both files over the store. A failure before the first
  // rename leaves the store as it was (the copies go when the object does);
  // one after it is retried once, and when that fails too the record stays
  // for the next change of the store to finish.
  int Commit();

 private:
  void Discard();
  void Unlock();

  std::unique_ptr<StoreChangeNames> names_;
  std::string working_;
  std::unique_ptr<plat::File> lock_;
  bool keepCopies_ = false;  // committed, or decided and left to recovery
};

// What every open of a store for update does first: with a valid commit
// record beside the store, renames the copies that are still there over the
// store's files and deletes the record; without one, deletes stray working
// copies (and a record that is not valid). Takes the store's lock for the
// time it works. 0 when the store is whole.
int StoreRecover(const char* path);
