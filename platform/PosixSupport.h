// Pieces of the POSIX backend, shared by the *_posix.cpp files of this
// folder only. The core writes paths the Windows way (backslashes, any
// letter case); here they become paths the system knows.
#pragma once

#include <string>

#include "platform/Env.h"

namespace plat {
namespace posix {

// path with every backslash turned into a slash.
std::string ToSlashes(const char* path);

// path with slashes, where every component that does not exist as written
// is replaced by the entry of its parent folder that matches it without
// regard to ASCII case (the smallest by byte order when several do). A
// component with no match stays as written, and so do all after it: a file
// or folder about to be created keeps the name the caller gave.
std::string Resolve(const char* path);

// True for "\\server\share" and "//server/share" (either separator).
bool IsNetworkPath(const char* path);

// Drive type of the filesystem that holds path: local filesystems are
// Fixed (Removable on a device that says so), network ones (and network paths) Remote, optical ones
// CdRom, any other Unknown; a path that does not exist gives NoRootDir.
DriveType DriveTypeOf(const char* path);

// Starts the program of commandLine (SplitCommandLine's rules) without a
// shell and without waiting; returns 0 or errno.
int Spawn(const char* commandLine);

}  // namespace posix
}  // namespace plat
