// The update directives: a machine fed one script token at a time. It
// recognises the ten directive keywords, collects their arguments, checks
// the installed version, starts the `file` operations and, at the end of the
// script, computes the new version word, type word and server name.
#pragma once

#include <cstdint>

#include "ourlib/src/PathText.h"
#include "settings/GameSettings.h"

// One token as the token reader published it.
struct DirectiveToken {
  int code;
  const char* text;    // source text, quoted by error messages
  uint32_t number;     // a number token's value
  const char* string;  // a string token's decoded content
};

// What the machine needs from the run: the three ways it reports, and the
// `file` operation.
class DirectiveHost {
 public:
  virtual ~DirectiveHost() = default;
  // ReportScriptError: message number, number (0: none), extra text.
  virtual void ScriptError(int message, int number, const char* extra) = 0;
  // ReportError: message number and appended text.
  virtual void Error(int message, const char* text) = 0;
  // UpdateFile with the updater folder: 0 on success, -1 after its own message.
  virtual int RunFile(const char* sourceName, const char* destPath, int operation) = 0;
};

enum class DirectiveResult {
  Continue,  // go on with the next token
  Failed,    // the run fails; any message has been shown
};

class DirectiveMachine {
 public:
  // Takes the installed values from settings, which also supplies the folder
  // paths of the folder keywords and must outlive the machine.
  DirectiveMachine(const cGameSettings& settings, DirectiveHost& host);

  DirectiveResult Feed(const DirectiveToken& token);

  // Applies the collected setversion, setbuild, setvertype and setserver
  // values to the version word, type word and Server field.
  void WriteBack(cGameSettings& settings) const;

 private:
  enum class Expect { None, Equals, Number, String, Comma, Plus };

  DirectiveResult Start(int keyword);
  DirectiveResult Argument(const DirectiveToken& token);
  DirectiveResult Number(int32_t value);
  DirectiveResult String(const DirectiveToken& token);
  DirectiveResult AppendFolder(const DirectiveToken& token);
  DirectiveResult End();
  DirectiveResult FailUnknownParameter(const DirectiveToken& token);
  DirectiveResult FailIncorrectParameters(const char* what);
  DirectiveResult FailUndefinedUpdateType();
  DirectiveResult FailIncorrectVersion();
  bool BuildInRange() const;
  // Whether setbuild may name build: update type 1 never goes back to an
  // older build; type 2 needs the installed build it names (if any) and
  // never goes back to an older patch.
  bool NewBuildAllowed(int32_t build) const;
  // Where setversion, setvertype and insttypes keep their number: for the
  // write-back, and the installation types for the files after them.
  int32_t* KeptNumber(int directive);
  bool UpdateTypeGiven() const { return updateType_ >= 0 && updateType_ <= 2; }

  const cGameSettings& settings_;
  DirectiveHost& host_;

  // Installed values, fixed for the run.
  int32_t installedVersion_;
  int32_t installedBuild_;
  int32_t installedPatch_;
  uint32_t installedTypeBits_;

  int32_t updateType_ = -1;
  int32_t requiredBuild_ = -1;
  int32_t buildLow_ = 0;
  int32_t buildHigh_ = 255;
  int32_t requiredVersion_ = -1;
  int32_t newVersion_ = -1;
  int32_t newBuild_ = -1;
  int32_t newVersionType_ = -1;
  int32_t instTypesMask_ = 0xFF;
  bool serverGiven_ = false;
  char server_[kPathField] = "";
  char destPath_[kPathField] = "";
  char sourceName_[kPathField] = "";
  bool versionChecked_ = false;

  int pending_ = -1;  // token code of the pending directive; -1 for none
  Expect expect_ = Expect::None;
  int argument_ = 0;
};
