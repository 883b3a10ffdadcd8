#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/CodePage.h"
#include "platform/CommandLineSplit.h"
#include "platform/PosixSupport.h"

extern char** environ;

namespace plat {
namespace posix {

// The program is started by a short-lived middle process that exits as soon
// as the program runs: the program is then nobody's child here, so it never
// becomes a zombie of ours, and no SIGCHLD setting of the caller is changed.
int Spawn(const char* commandLine) {
  std::vector<std::string> words = SplitCommandLine(commandLine);
  if (words.empty() || words[0].empty()) return ENOENT;
  // The words are the core's text; the program gets them in the system's UTF-8.
  words[0] = Resolve(words[0].c_str());
  for (size_t i = 1; i < words.size(); ++i) words[i] = AnsiToUtf8(words[i]);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  const bool search = words[0].find('/') == std::string::npos;

  pid_t middle = fork();
  if (middle < 0) return errno;
  if (middle == 0) {
    pid_t child;
    int rc = search ? posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ)
                    : posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ);
    _exit(rc > 255 ? 255 : rc);
  }
  int status = 0;
  while (waitpid(middle, &status, 0) < 0) {
    if (errno != EINTR) return errno;
  }
  if (!WIFEXITED(status)) return ECHILD;
  return WEXITSTATUS(status);
}

}  // namespace posix
}  // namespace plat
