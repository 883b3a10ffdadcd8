// Folder paths of the file replacement: creating the folders along a path and
// completing a folder text with a backslash.
#pragma once

#include <cstddef>

#include "ourlib/src/PathText.h"

// Creates every missing folder along path up to its last backslash. Roots of
// at most three bytes ("C:\") are never created. On failure path is left cut
// short at the backslash after the folder that could not be created, so that
// a message names that folder, and false is returned.
bool CreateFolderPath(char* path);

// An empty text becomes a single backslash; otherwise a backslash is appended
// unless the last character already is one. False (text unchanged) when it
// would not fit the field of `capacity` bytes.
bool AddBackslash(char* text, size_t capacity = kPathField);
