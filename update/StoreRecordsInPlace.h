// Operation 1 made straight in the game's store files, without the copies,
// flushes and renames that make CopyStoreRecords whole or nothing: a store
// left half-written by a failure or a crash stays so. Only the benchmark and
// the tests use it, as the yardstick for what replacing the store whole costs
// and produces; the updater never does.
#pragma once

#include "update/Progress.h"

int CopyStoreRecordsInPlace(ProgressSink& ui, const char* source, const char* destination);
