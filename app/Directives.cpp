#include "app/Directives.h"

#include <cstring>

#include "app/FormatVersion.h"
#include "app/Messages.h"
#include "script/TokenCodes.h"

DirectiveMachine::DirectiveMachine(const cGameSettings& settings, DirectiveHost& host)
    : settings_(settings),
      host_(host),
      installedVersion_(static_cast<int32_t>(settings.Version >> 24)),
      installedBuild_(static_cast<int32_t>((settings.Version >> 16) & 0xFF)),
      installedPatch_(static_cast<int32_t>(settings.Version & 0xFFFF)),
      installedTypeBits_(settings.Type & 0xFF) {}

DirectiveResult DirectiveMachine::FailUnknownParameter(const DirectiveToken& token) {
  host_.ScriptError(MSG_UNKNOWN_PARAMETER, 0, token.text);
  return DirectiveResult::Failed;
}

DirectiveResult DirectiveMachine::FailIncorrectParameters(const char* what) {
  host_.ScriptError(MSG_INCORRECT_PARAMETERS, 0, what);
  return DirectiveResult::Failed;
}

DirectiveResult DirectiveMachine::FailUndefinedUpdateType() {
  host_.ScriptError(MSG_UNDEFINED_UPDATE_TYPE, 0, "");
  return DirectiveResult::Failed;
}

DirectiveResult DirectiveMachine::FailIncorrectVersion() {
  host_.Error(MSG_INCORRECT_VERSION,
              FormatVersion(installedVersion_, installedBuild_, installedPatch_));
  return DirectiveResult::Failed;
}

DirectiveResult DirectiveMachine::End() {
  pending_ = -1;
  expect_ = Expect::None;
  argument_ = 0;
  return DirectiveResult::Continue;
}

// The test of `build` and of the version check, with the current range.
int32_t* DirectiveMachine::KeptNumber(int directive) {
  switch (directive) {
    case TOK_SETVERSION:
      return &newVersion_;
    case TOK_SETVERTYPE:
      return &newVersionType_;
    default:
      return &instTypesMask_;
  }
}

bool DirectiveMachine::NewBuildAllowed(int32_t build) const {
  if (updateType_ == 1) return build >= installedBuild_;
  if (updateType_ == 2) {
    return (requiredBuild_ < 0 || requiredBuild_ == installedBuild_) && build >= installedPatch_;
  }
  return true;
}

bool DirectiveMachine::BuildInRange() const {
  switch (updateType_) {
    case 1:
      return installedBuild_ >= buildLow_ && installedBuild_ <= buildHigh_;
    case 2:
      return (requiredBuild_ < 0 || requiredBuild_ == installedBuild_) &&
             installedPatch_ >= buildLow_ && installedPatch_ <= buildHigh_;
    default:
      return true;
  }
}

DirectiveResult DirectiveMachine::Feed(const DirectiveToken& token) {
  if (pending_ < 0) return Start(token.code);
  if (pending_ == TOK_DSTPATH && token.code == TOK_SEMICOLON) return End();
  if (token.code == TOK_ASSIGN) {
    if (expect_ != Expect::Equals) {
      host_.ScriptError(MSG_EXPECTED_EQUALS, 0, "");
      return DirectiveResult::Failed;
    }
    const bool text = pending_ == TOK_SETSERVER || pending_ == TOK_DSTPATH || pending_ == TOK_FILE;
    expect_ = text ? Expect::String : Expect::Number;
    return DirectiveResult::Continue;
  }
  return Argument(token);
}

DirectiveResult DirectiveMachine::Start(int keyword) {
  switch (keyword) {
    case TOK_UPDATETYPE:
      if (versionChecked_) return DirectiveResult::Continue;
      break;
    case TOK_VERSION:
    case TOK_BUILD:
    case TOK_SETVERSION:
    case TOK_SETBUILD:
    case TOK_SETVERTYPE:
    case TOK_SETSERVER:
      if (versionChecked_) return DirectiveResult::Continue;
      if (!UpdateTypeGiven()) return FailUndefinedUpdateType();
      break;
    case TOK_INSTTYPES:
    case TOK_DSTPATH:
      if (!UpdateTypeGiven()) return FailUndefinedUpdateType();
      break;
    case TOK_FILE:
      if (!versionChecked_) {
        if (!UpdateTypeGiven()) return FailUndefinedUpdateType();
        if (!BuildInRange()) return FailIncorrectVersion();
        versionChecked_ = true;
      }
      break;
    default:
      return DirectiveResult::Continue;  // every other token is skipped
  }
  pending_ = keyword;
  expect_ = Expect::Equals;
  argument_ = 0;
  return DirectiveResult::Continue;
}

DirectiveResult DirectiveMachine::Argument(const DirectiveToken& token) {
  switch (expect_) {
    case Expect::Number:
      if (token.code != TOK_NUMBER) return FailUnknownParameter(token);
      // Numbers are 32-bit words compared as signed values: 0xFFFFFFFF is -1.
      return Number(static_cast<int32_t>(token.number));
    case Expect::String:
      if (token.code == TOK_STRING) return String(token);
      if (pending_ == TOK_DSTPATH) return AppendFolder(token);
      return FailUnknownParameter(token);
    case Expect::Comma:
      if (token.code != TOK_COMMA) return FailUnknownParameter(token);
      expect_ = Expect::Number;
      return DirectiveResult::Continue;
    case Expect::Plus:
      if (token.code != TOK_PLUS) return FailUnknownParameter(token);
      expect_ = Expect::String;
      return DirectiveResult::Continue;
    default:
      return FailUnknownParameter(token);  // a number, string or line end where "=" belongs
  }
}

DirectiveResult DirectiveMachine::Number(int32_t value) {
  const int argument = argument_++;
  switch (pending_) {
    case TOK_UPDATETYPE:
      if (argument == 0) {
        updateType_ = value;
        if (value < 0 || value > 2) return FailIncorrectParameters("<updatetype>");
        if (value != 2) return End();
        expect_ = Expect::Comma;
        return DirectiveResult::Continue;
      }
      requiredBuild_ = value;
      if (value >= 0 && value != installedBuild_) return FailIncorrectVersion();
      return End();
    case TOK_VERSION:
      requiredVersion_ = value;
      if (value >= 0 && value != installedVersion_) return FailIncorrectVersion();
      return End();
    case TOK_BUILD:
      if (argument == 0) {
        buildLow_ = value;
        expect_ = Expect::Comma;
        return DirectiveResult::Continue;
      }
      buildHigh_ = value;
      if (buildHigh_ < buildLow_) return FailIncorrectParameters("<build>");
      if (!BuildInRange()) return FailIncorrectVersion();
      return End();
    case TOK_SETBUILD:
      newBuild_ = value;
      if (value >= 0 && !NewBuildAllowed(value)) return FailIncorrectVersion();
      return End();
    case TOK_SETVERSION:
    case TOK_SETVERTYPE:
    case TOK_INSTTYPES:
      *KeptNumber(pending_) = value;
      return End();
    case TOK_FILE: {
      const int operation = value;
      End();
      if ((static_cast<uint32_t>(instTypesMask_) & installedTypeBits_) == 0) {
        return DirectiveResult::Continue;
      }
      return host_.RunFile(sourceName_, destPath_, operation) == 0 ? DirectiveResult::Continue
                                                                   : DirectiveResult::Failed;
    }
    default:
      return End();
  }
}

// Texts that do not fit their 260-byte fields are refused with error P.
DirectiveResult DirectiveMachine::String(const DirectiveToken& token) {
  const char* value = token.string != nullptr ? token.string : "";
  switch (pending_) {
    case TOK_SETSERVER:
      if (!CopyBounded(server_, sizeof server_, value)) return FailUnknownParameter(token);
      serverGiven_ = true;
      return End();
    case TOK_DSTPATH:
      if (argument_++ == 0) destPath_[0] = '\0';
      if (!AppendBounded(destPath_, sizeof destPath_, value)) return FailUnknownParameter(token);
      expect_ = Expect::Plus;
      return DirectiveResult::Continue;
    case TOK_FILE:
      if (!CopyBounded(sourceName_, sizeof sourceName_, value)) return FailUnknownParameter(token);
      expect_ = Expect::Comma;
      return DirectiveResult::Continue;
    default:
      return FailUnknownParameter(token);
  }
}

DirectiveResult DirectiveMachine::AppendFolder(const DirectiveToken& token) {
  char* path = destPath_;
  const size_t size = sizeof destPath_;
  if (argument_++ == 0) path[0] = '\0';
  bool fits = true;
  auto below = [&](const char* root, const char* sub) {
    fits = fits && AppendBounded(path, size, root) && EnsureTrailingSeparator(path, size) &&
           AppendBounded(path, size, sub);
  };
  switch (token.code) {
    case TOK_MAIN:
      fits = AppendBounded(path, size, settings_.MainPath);
      break;
    case TOK_DATA:
      fits = AppendBounded(path, size, settings_.DataPath);
      break;
    case TOK_SOUND:
      fits = AppendBounded(path, size, settings_.SoundPath);
      break;
    case TOK_VIDEO:
      fits = AppendBounded(path, size, settings_.VideoPath);
      break;
    case TOK_MUSIC:
      fits = AppendBounded(path, size, settings_.MusicPath);
      break;
    case TOK_CUSTOM:
      below(settings_.MainPath, "CUSTOM\\");
      break;
    case TOK_MISSIONS:
      below(settings_.MainPath, "MISSIONS\\");
      break;
    case TOK_SAVE:
      below(settings_.MainPath, "SAVEGAME\\");
      break;
    case TOK_SYSTEM:
      below(settings_.MainPath, "SYSTEM\\");
      break;
    case TOK_EDITOR:
      below(settings_.MainPath, "EDITOR\\");
      break;
    case TOK_AIEXAMPLES:
      below(settings_.MainPath, "EDITOR\\");
      fits = fits && EnsureTrailingSeparator(path, size) && AppendBounded(path, size, "Battles\\");
      break;
    default:
      return FailUnknownParameter(token);
  }
  if (!fits) return FailUnknownParameter(token);
  expect_ = Expect::Plus;
  return DirectiveResult::Continue;
}

void DirectiveMachine::WriteBack(cGameSettings& settings) const {
  if (newVersion_ >= 0) {
    settings.Version =
        (settings.Version & 0x00FFFFFFu) | ((static_cast<uint32_t>(newVersion_) & 0xFFu) << 24);
  }
  if (newBuild_ >= 0) {
    const uint32_t build = static_cast<uint32_t>(newBuild_);
    if (updateType_ == 1) {
      settings.Version = (settings.Version & 0xFF000000u) | ((build & 0xFFu) << 16);
    } else if (updateType_ == 2) {
      settings.Version = (settings.Version & 0xFFFF0000u) | (build & 0xFFFFu);
    }
  }
  if (newVersionType_ >= 0) {
    settings.Type =
        (settings.Type & 0xFFFFu) | ((static_cast<uint32_t>(newVersionType_) & 0xFFFFu) << 16);
  }
  if (serverGiven_) {
    std::memset(settings.Server, 0, sizeof settings.Server);
    CopyBounded(settings.Server, sizeof settings.Server,
                server_);  // at most 63 bytes, whole characters
  }
}
