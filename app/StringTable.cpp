// The updater's string table in the program's code, for the builds whose UI
// backend has no resources to read it from (POSIX). Windows takes the same
// list from the program's resources and never links this file in.
#include "app/Messages.h"
#include "platform/Ui.h"

namespace {

const plat::ResString kStrings[] = {
#define UPD_STRING(name, id, text) {id, text},
#include "app/resources/strings.inc"
#undef UPD_STRING
};

}  // namespace

void InstallStringTable() { plat::SetStringTable(kStrings, sizeof kStrings / sizeof kStrings[0]); }
