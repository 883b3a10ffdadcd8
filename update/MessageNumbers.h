// Message numbers of the failures the update operations report through
// ProgressSink::ScriptError: message m shows string m + 1 of the updater's
// string table. The application's own list (app/Messages.h) carries the same
// numbers; update/ keeps these here because it does not reach into app/.
#pragma once

namespace update_messages {

enum : int {
  MSG_NO_MEMORY = 1,
  MSG_USER_BREAK = 2,
  MSG_OPEN = 3,
  MSG_READ = 5,
  MSG_WRITE = 6,
  MSG_CREATE_FOLDER = 28,
};

}  // namespace update_messages
