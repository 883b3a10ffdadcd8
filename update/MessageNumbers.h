// Message numbers, as ReportScriptError and ReportError take them: message m
// shows string m + 1 of the updater's string table. This is the one list:
// the update operations report their failures with these through
// ProgressSink::ScriptError, and the application (app/Messages.h) shows every
// one of them.
#pragma once

enum MessageNumber : int {
  MSG_SYNTAX_ERROR = 0,  // "Syntax error, code="
  MSG_NOT_ENOUGH_MEMORY = 1,
  MSG_USER_BREAK = 2,  // "User`s break "
  MSG_ERROR_OPEN_FILE = 3,
  MSG_ERROR_CREATING_FILE = 4,
  MSG_ERROR_READING_FILE = 5,
  MSG_ERROR_WRITING_FILE = 6,
  MSG_UNKNOWN_PARAMETER = 9,      // error P of the directives
  MSG_INCORRECT_PARAMETERS = 10,  // error R
  MSG_EXPECTED_EQUALS = 12,       // error E
  MSG_ERROR_READING_REGISTRY = 24,
  MSG_INCORRECT_VERSION = 25,  // error V
  MSG_ERROR_CREATING_DIR = 28,
  MSG_UNDEFINED_UPDATE_TYPE = 30,   // error U
  MSG_ERROR_STARTING_PROGRAM = 31,  // the game could not be started
};
