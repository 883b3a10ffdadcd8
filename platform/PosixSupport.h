// Pieces of the POSIX backend, shared by the *_posix.cpp files of this
// folder only. The core writes paths the Windows way (backslashes, any
// letter case); here they become paths the system knows.
#pragma once

#include <string>

#include "platform/Env.h"

namespace plat {
namespace posix {

// The path as the system takes it: the core's text (bytes of the ANSI code
// page) in UTF-8, every backslash a slash, a drive ("C:") the folder it
// stands for (DriveFolder), and every component that does not exist as
// written replaced by the entry of its parent folder that matches it
// without regard to letter case (the smallest by byte order when several
// do). A component with no match stays as written, and so do all after it:
// a file or folder about to be created keeps the name the caller gave.
std::string Resolve(const char* path);

// A path of the system (UTF-8) as the core's text; false when a character
// of it is not in the ANSI code page (the core could not name it).
bool CorePath(const std::string& native, std::string* out);

// The Wine prefix whose drives a path's drive letter stands for: the folder
// of the registry file when it holds a "dosdevices" folder (the registry is
// then the prefix's system.reg); empty without one.
std::string WinePrefix();

// The folder (of the system, UTF-8, without a trailing slash; "" for the
// root) that drive letter `letter` stands for: in a Wine prefix the link
// dosdevices/<letter>: (resolved when `resolved`, else the link's own
// path), and without a prefix the root, a drive naming nothing here. False
// when the prefix has no such drive.
bool DriveFolder(char letter, bool resolved, std::string* folder);

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
