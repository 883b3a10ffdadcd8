// Every error code of the programs, in one table grouped by domain.
//
// A code is a plain negative number; 0 is success. The numbers are shared by
// all domains without ranges of their own, and some mean different things in
// different domains (each such number is marked "same number" below), so a
// code is always read together with the operation that gave it.
//
// How codes cross the layer edges:
// - platform/ returns the operating system's own codes, which are positive;
//   it never raises and never makes up a negative code.
// - The record-store library (ourlib/src: cMf32, the engine, the mapped
//   files, the pack methods, the allocation helpers) raises its codes to the
//   innermost error frame (ErrFrame.h); a positive system code from the
//   platform travels on inside a raise as it is. The script sources raise the
//   same way when a script file cannot be opened, read or closed.
// - update/ and app/ return negative codes (or their 0/-1 results) and let
//   no raise out of them.
// - Only the guard functions turn one into the other: Guard and the engine's
//   RunRaising, the guarded record-store forms (update/StoreGuarded.h) and
//   the frames of the entry point and the run loop.
#pragma once

// Shared by every domain, and the script language and start-up.
enum : int {
  ERR_FAILED_SHOWN = -1,        // the run failed and the user was told (the entry point)
  ERR_NO_MEMORY = -2,           // memory exhausted (the allocation helpers, the engine); also
                                // no free block large enough in a data heap
  ERR_NO_DIGITS = -4,           // a number prefix without digits; same number: ERR_NOT_FOUND,
                                // ERR_REC_MISSING, INSTALL_NO_MEMORY
  ERR_MACRO_INCOMPLETE = -6,    // a `macro` statement without its name or value
  ERR_CLOSE_FAILED = -9,        // closing a script file failed
  ERR_OPEN_FAILED = -10,        // a script or included file, or (StoreCompact) an index,
                                // could not be opened
  ERR_READ_FAILED = -12,        // reading a script file failed
  ERR_PAST_END = -14,           // a token asked for after the end of input; same number: a
                                // read past a mapped file's end or a short read (below)
  ERR_NO_SCRIPT = -52,          // no script path was given; same number: ERR_REC_ARGUMENT
  ERR_NUMBER_OVERFLOW = -60,    // a number does not fit in 32 bits
  ERR_UNCLOSED_STRING = -210,   // a string or character constant not closed on its line
  ERR_INCLUDE_TOO_DEEP = -211,  // more than kMaxSourceDepth sources open
  ERR_LINE_TOO_LONG = -212,     // macro substitution grew a line past kMaxLineLength
  ERR_UTF16_SCRIPT = -213,      // the script or an included file is UTF-16 text
};

// The record-store engine: mapped files, B-tree index, data heap. Besides
// these it raises ERR_NO_MEMORY, ERR_PAST_END (a read past the mapped size,
// or a short unmapped read) and positive system codes; a system code from
// reserving node space while a tree is made or bulk-loaded is raised with its
// upper 16 bits set, so that it is negative.
enum : int {
  ERR_NOT_FOUND = -4,        // key absent, or iteration at its end (returned, never
                             // raised); same number: ERR_NO_DIGITS
  ERR_NOT_STORE = -5,        // not a store file, or a damaged one; same number:
                             // INSTALL_BAD_FOLDER
  ERR_UNMAPPED_WRITE = -48,  // a write, growth or word access on an unmapped file
  ERR_VERSION = -53,         // the index file's major version is not 1
  ERR_DUPLICATE = -61,       // an existing key inserted into a tree without duplicates
  ERR_NO_VIEW = -81,         // a read or write while no view is mapped
  ERR_SYSTEM = -253,         // a system call failed without giving a code
};

// The pack methods.
enum : int {
  ERR_PACK = -51,  // output past its capacity, or a damaged stream; same
                   // number: ERR_REC_LENGTH
};

// The record-store interface (cMf32).
enum : int {
  ERR_REC_MISSING = -4,    // no record under the key; same number: ERR_NOT_FOUND
  ERR_REC_LENGTH = -51,    // unpacking gave another length than the key holds; same
                           // number: ERR_PACK
  ERR_REC_ARGUMENT = -52,  // null data, zero length, a null, empty or overlong name;
                           // same number: ERR_NO_SCRIPT
};

// Update packages and their installation (InstallFiles, the package reader,
// `updkit pkg`): returned, never raised. The updater shows code c (-1..-8)
// as string 961 - c; -3 and -7 are never given.
enum InstallCode : int {
  INSTALL_OPEN_FAILED = -1,  // same number: ERR_FAILED_SHOWN, ERR_PACKAGE_WRITE
  INSTALL_READ_FAILED = -2,  // a file could not be read, or a package is damaged; same
                             // number: ERR_NO_MEMORY
  INSTALL_NO_MEMORY = -4,    // same number: ERR_NO_DIGITS, ERR_NOT_FOUND, ERR_REC_MISSING
  INSTALL_BAD_FOLDER = -5,   // a folder that cannot be made or leaves the destination;
                             // same number: ERR_NOT_STORE
  INSTALL_WRITE_FAILED = -6,
  INSTALL_CREATE_FAILED = -8,  // a file that cannot be created or replaced
  INSTALL_CANCELLED = -100,    // the cancel flag was found set between two blocks
};

// Writing a package (pkg::Writer), besides positive system codes.
enum : int {
  ERR_PACKAGE_WRITE = -1,  // a short write, or a package past 4 GiB; same number:
                           // ERR_FAILED_SHOWN, INSTALL_OPEN_FAILED
};
