// InstallFiles' work once it has the source path, for callers that name the
// package directly and choose what stands for the system folder (updkit pkg
// extract).
#pragma once

#include <cstddef>

#include "update/Operations.h"
#include "update/Progress.h"

// Installs the file at sourcePath into destFolder: a "PQ" package is unpacked
// entry by entry, any other file is copied as it is to destFolder followed by
// plainName. Entries whose folder is
// "*WINSYSTEM" go to systemFolder (empty: the file name alone). Each
// installed file is announced with ui.FileUpdated and every block written
// with ui.BytesUpdated. 0 on success, INSTALL_CANCELLED when ui was
// cancelled between two blocks, else an InstallCode -1..-8 with the path
// that failed in failedPath (a field of failedCapacity bytes).
int InstallFileAt(ProgressSink& ui, const char* sourcePath, const char* plainName,
                  const char* destFolder, const char* systemFolder, char* failedPath,
                  size_t failedCapacity);

// What an InstallCode means, in a few words ("cannot open", ...).
const char* InstallCodeText(int code);
