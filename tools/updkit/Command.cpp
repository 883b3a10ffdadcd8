#include "tools/updkit/Command.h"

#include <cstdarg>
#include <cstring>

#include "platform/Terminal.h"
#include "tools/updkit/Progress.h"

namespace {

constexpr char kHelpOption[] = "--help";
constexpr size_t kOptionColumn = 18;  // where an option's help starts, after its name

// The formatted text, as vsnprintf makes it.
std::string Formatted(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, again);
  va_end(again);
  if (n <= 0) return std::string();
  std::string text(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(&text[0], text.size(), format, args);
  text.pop_back();
  return text;
}

void Write(FILE* out, const std::string& text) { std::fputs(plat::ConsoleText(text).c_str(), out); }

bool IsOption(const char* word) { return word[0] == '-' && word[1] == '-' && word[2] != '\0'; }
bool IsEndOfOptions(const char* word) { return std::strcmp(word, "--") == 0; }

const Option* Find(const std::vector<Option>& options, const char* name) {
  for (const Option& o : options) {
    if (std::strcmp(o.name, name) == 0) return &o;
  }
  return nullptr;
}

// The option's own or, before the action is known, any action's: only to
// know whether a word before the action is an option's value.
const Option* FindAnywhere(const Command& command, const char* name) {
  if (const Option* o = Find(command.options, name)) return o;
  for (const Action& a : command.actions) {
    if (const Option* o = Find(a.options, name)) return o;
  }
  return nullptr;
}

bool IsNumber(const Option& o) { return o.low <= o.high; }

// "--capacity N", without brackets.
std::string Spelled(const Option& o) {
  return o.value != nullptr ? std::string(o.name) + " " + o.value : std::string(o.name);
}

std::string Rendered(const Option& o) {
  switch (o.use) {
    case Option::kRequired:
    case Option::kOneOf:
      return Spelled(o);
    case Option::kRepeated:
      return "[" + Spelled(o) + "]...";
    case Option::kOptional:
      break;
  }
  return "[" + Spelled(o) + "]";
}

// A positional argument's name without brackets and dots ("[DIB...]": DIB).
std::string Bare(const char* word) {
  std::string name = word;
  if (!name.empty() && name.front() == '[') name = name.substr(1, name.size() - 2);
  if (name.size() > 3 && name.compare(name.size() - 3, 3, "...") == 0) name.resize(name.size() - 3);
  return name;
}

bool Repeats(const char* word) {
  const size_t n = std::strlen(word);
  return n > 3 && (std::strcmp(word + n - 3, "...") == 0 || std::strcmp(word + n - 4, "...]") == 0);
}

// An action's usage: one line, or one for each of its kOneOf options.
// Options with help of their own are summed up as "[options]".
std::vector<std::string> UsageLines(const Command& command, const Action& action) {
  std::string line = std::string("updkit ") + command.name;
  for (const Option& o : command.options) line += " " + Rendered(o);
  line += std::string(" ") + action.name;
  for (const char* w : action.words) line += std::string(" ") + w;
  bool described = false;
  for (const Option& o : action.options) {
    if (o.use == Option::kOneOf) continue;
    if (o.help == nullptr || o.use == Option::kRequired) line += " " + Rendered(o);
    described = described || o.help != nullptr;
  }
  if (described) line += " [options]";
  std::vector<std::string> lines;
  for (const Option& o : action.options) {
    if (o.use == Option::kOneOf) lines.push_back(line + " " + Rendered(o));
  }
  if (lines.empty()) lines.push_back(line);
  return lines;
}

// Prints each line of text after first (the first line) or rest (the others).
void PrintLines(FILE* out, const std::string& text, const std::string& first,
                const std::string& rest) {
  size_t at = 0;
  for (bool head = true; at < text.size(); head = false) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::fprintf(out, "%s%s\n", (head ? first : rest).c_str(), text.substr(at, end - at).c_str());
    at = end + 1;
  }
}

void PrintAction(const Command& command, const Action& action, FILE* out) {
  for (const std::string& line : UsageLines(command, action))
    std::fprintf(out, "  %s\n", line.c_str());
  const std::string indent(6, ' ');
  PrintLines(out, action.help, indent, indent);
  for (const Option& o : action.options) {
    if (o.help == nullptr) continue;
    std::string label = Spelled(o);
    label += label.size() < kOptionColumn ? std::string(kOptionColumn - label.size(), ' ') : "  ";
    PrintLines(out, o.help, indent + label, indent + std::string(kOptionColumn, ' '));
  }
}

int Help(const Command& command, FILE* out, int status) {
  PrintHelp(command, out);
  return status;
}

}  // namespace

Option Switch(const char* name, const char* help) {
  return Option{name, nullptr, Option::kOptional, help, 0, -1};
}

Option Valued(const char* name, const char* value, const char* help) {
  return Option{name, value, Option::kOptional, help, 0, -1};
}

Option Number(const char* name, const char* value, int64_t low, int64_t high, const char* help) {
  return Option{name, value, Option::kOptional, help, low, high};
}

Option Required(Option option) {
  option.use = Option::kRequired;
  return option;
}

Option Repeated(Option option) {
  option.use = Option::kRepeated;
  return option;
}

Option OneOf(Option option) {
  option.use = Option::kOneOf;
  return option;
}

bool ParseNumber(const char* text, int64_t low, int64_t high, int64_t* value) {
  unsigned base = 10;
  const char* p = text;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
    p += 2;
  }
  if (*p == '\0') return false;
  uint64_t v = 0;
  for (; *p != '\0'; ++p) {
    const char c = *p;
    unsigned digit = base;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    if (digit >= base) return false;
    v = v * base + digit;
    if (v > static_cast<uint64_t>(high)) return false;  // also before it could overflow
  }
  if (static_cast<int64_t>(v) < low) return false;
  *value = static_cast<int64_t>(v);
  return true;
}

bool Args::Has(const char* option) const { return Value(option) != nullptr; }

const char* Args::Value(const char* option) const {
  for (auto g = given_.rbegin(); g != given_.rend(); ++g) {
    if (std::strcmp(g->option->name, option) == 0) return g->value != nullptr ? g->value : "";
  }
  return nullptr;
}

std::vector<const char*> Args::Values(const char* option) const {
  std::vector<const char*> values;
  for (const Given& g : given_) {
    if (std::strcmp(g.option->name, option) == 0)
      values.push_back(g.value != nullptr ? g.value : "");
  }
  return values;
}

int64_t Args::Number(const char* option, int64_t fallback) const {
  for (auto g = given_.rbegin(); g != given_.rend(); ++g) {
    int64_t value = fallback;
    if (std::strcmp(g->option->name, option) == 0 &&
        ParseNumber(g->value, g->option->low, g->option->high, &value)) {
      return value;
    }
  }
  return fallback;
}

int Args::Usage(const char* format, ...) const {
  va_list args;
  va_start(args, format);
  const std::string message = Formatted(format, args);
  va_end(args);
  Write(stderr,
        std::string("updkit ") + command_.name + " " + action_.name + ": " + message + "\n");
  const std::vector<std::string> lines = UsageLines(command_, action_);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::fprintf(stderr, "%s %s\n", i == 0 ? "usage:" : "      ", lines[i].c_str());
  }
  return command_.usageStatus;
}

void PrintHelp(const Command& command, FILE* out) {
  std::fputs("usage:\n", out);
  for (const Action& action : command.actions) PrintAction(command, action, out);
  if (!command.notes.empty()) std::fprintf(out, "\n%s", command.notes.c_str());
}

int RunCommand(const Command& command, int argc, char** argv) {
  const std::vector<const char*> in(argv + 1, argv + argc);
  // The action is the first word that is neither an option nor an option's
  // value: options may come before it.
  size_t at = 0;
  for (; at < in.size(); ++at) {
    if (std::strcmp(in[at], kHelpOption) == 0) return Help(command, stdout, 0);
    if (IsEndOfOptions(in[at])) {
      ++at;
      break;
    }
    if (!IsOption(in[at])) break;
    const Option* o = FindAnywhere(command, in[at]);
    if (o != nullptr && o->value != nullptr) ++at;
  }
  if (at >= in.size()) return Help(command, stderr, command.noActionStatus);
  if (std::strcmp(in[at], "-h") == 0) return Help(command, stdout, 0);
  const Action* action = nullptr;
  std::string names;
  for (const Action& a : command.actions) {
    if (std::strcmp(a.name, in[at]) == 0) action = &a;
    names += (names.empty() ? "" : ", ") + std::string(a.name);
  }
  if (action == nullptr) {
    UpdkitPrint(stderr, "updkit %s: unknown action '%s' (%s; see updkit %s --help)\n", command.name,
                in[at], names.c_str(), command.name);
    return command.noActionStatus;
  }

  Args args(command, *action);
  bool options = true;
  for (size_t i = 0; i < in.size(); ++i) {
    const char* word = in[i];
    if (i == at) continue;
    if (options && IsEndOfOptions(word)) {
      options = false;
    } else if (!options || !IsOption(word)) {
      args.words_.push_back(word);
    } else if (std::strcmp(word, kHelpOption) == 0) {
      return Help(command, stdout, 0);
    } else {
      const Option* o = Find(action->options, word);
      if (o == nullptr) o = Find(command.options, word);
      if (o == nullptr) {
        for (const Action& other : command.actions) {
          if (Find(other.options, word) != nullptr)
            return args.Usage("%s belongs to %s", word, other.name);
        }
        return args.Usage("unknown option '%s'", word);
      }
      const char* value = nullptr;
      if (o->value != nullptr) {
        if (i + 1 >= in.size())
          return args.Usage("%s needs a value: %s", word, Spelled(*o).c_str());
        value = in[++i];
        int64_t number = 0;
        if (IsNumber(*o) && !ParseNumber(value, o->low, o->high, &number)) {
          return args.Usage("%s takes a number from %lld to %lld, not '%s'", word,
                            static_cast<long long>(o->low), static_cast<long long>(o->high), value);
        }
      }
      args.given_.push_back({o, value});
    }
  }

  size_t needed = 0;
  for (const char* w : action->words) needed += w[0] != '[' ? 1 : 0;
  if (args.words_.size() < needed) {
    return args.Usage("%s is missing", Bare(action->words[args.words_.size()]).c_str());
  }
  const bool open = !action->words.empty() && Repeats(action->words.back());
  if (!open && args.words_.size() > action->words.size()) {
    return args.Usage("unexpected argument '%s'", args.words_[action->words.size()]);
  }
  std::string oneOf;
  int oneOfGiven = 0;
  for (const Option& o : action->options) {
    if (o.use == Option::kRequired && !args.Has(o.name))
      return args.Usage("%s is missing", Spelled(o).c_str());
    if (o.use != Option::kOneOf) continue;
    oneOf += (oneOf.empty() ? "" : " or ") + Spelled(o);
    oneOfGiven += args.Has(o.name) ? 1 : 0;
  }
  if (!oneOf.empty() && oneOfGiven != 1) return args.Usage("takes one of %s", oneOf.c_str());
  return action->run(args);
}

namespace {
std::vector<const Command*>& Registered() {
  static std::vector<const Command*> commands;
  return commands;
}
}  // namespace

UpdkitRegistrar::UpdkitRegistrar(const Command& command) { Registered().push_back(&command); }

const std::vector<const Command*>& UpdkitCommands() { return Registered(); }

void UpdkitPrint(FILE* out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(out, Formatted(format, args));
  va_end(args);
}

int UpdkitFail(const char* format, ...) {
  Progress::BreakLine();
  va_list args;
  va_start(args, format);
  Write(stderr, "updkit: " + Formatted(format, args) + "\n");
  va_end(args);
  return 1;
}
