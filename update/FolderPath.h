// Folder paths of the file replacement: creating the folders along a path
// (the path texts themselves, AddBackslash among them, are PathText.h's).
#pragma once

#include <cstddef>

#include "ourlib/src/PathText.h"

// Creates every missing folder along path up to its last backslash. Roots of
// at most three bytes ("C:\") are never created. On failure path is left cut
// short at the backslash after the folder that could not be created, so that
// a message names that folder, and false is returned.
bool CreateFolderPath(char* path);
