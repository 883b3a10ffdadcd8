// The work behind one `file` directive, and the operations it dispatches to.
#pragma once

#include <cstddef>

#include "ourlib/src/ErrorCodes.h"

#include "update/Progress.h"

// Builds the paths, logs and shows them, then copies (operation 0), copies
// store records (1) or installs (any other number). 0 on success; -1 after
// the failure has been shown to the user and logged.
int UpdateFile(ProgressSink& ui, const char* sourceName, const char* updaterFolder,
               const char* destPath, int operation);

// Operation 1: copies every record of the shipped store `source` into the
// game's store `destination`. 0 on success; -1 after the failure was shown.
int CopyStoreRecords(ProgressSink& ui, const char* source, const char* destination);

// Other operations: installs the shipped file sourceName from updaterFolder
// into destPath, unpacking it when it is an update package. 0 on success;
// INSTALL_CANCELLED when it found the cancel flag set between two blocks (the
// file it was writing keeps its old bytes, and UpdateFile reports the
// break); or an InstallCode -1..-8 with the path that failed left in
// failedPath (a field of failedCapacity bytes). Each file is replaced as a
// whole.
int InstallFiles(ProgressSink& ui, const char* updaterFolder, const char* destPath,
                 const char* sourceName, char* failedPath, size_t failedCapacity);
