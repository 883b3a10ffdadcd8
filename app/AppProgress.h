// The ProgressSink that the update operations get in the real run: the
// progress dialog, the messages of the string table and the update log.
#pragma once

#include "update/Progress.h"

ProgressSink& AppProgress();
