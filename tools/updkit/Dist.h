// The actions of `updkit dist`, each in a file of its own; the command's
// table in DistCommand.cpp names them.
#pragma once

class Args;

// dist make OLD NEW OUT: an update distribution from two game folders.
int DistMake(const Args& args);
// dist check DIST: the distribution's script and files, checked.
int DistCheck(const Args& args);
// dist plan DIST: what the update would do to an installation, rehearsed.
int DistPlan(const Args& args);
