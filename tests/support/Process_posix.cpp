#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "tests/support/Process.h"

namespace testing_support {

namespace {
void Pipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
}

// A pseudo-terminal of the given width: its controlling side in fds[0],
// the side a program writes to in fds[1].
void Terminal(int fds[2], int columns) {
  fds[0] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fds[0] < 0 || grantpt(fds[0]) != 0 || unlockpt(fds[0]) != 0)
    throw std::runtime_error("posix_openpt");
  fds[1] = open(ptsname(fds[0]), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fds[1] < 0) throw std::runtime_error("ptsname");
  winsize size{};
  size.ws_col = static_cast<unsigned short>(columns);
  size.ws_row = 24;
  ioctl(fds[1], TIOCSWINSZ, &size);
}
}  // namespace

ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options) {
  int in[2], out[2], err[2];
  Pipe(in);
  Pipe(out);
  if (options.terminalColumns > 0) {
    Terminal(err, options.terminalColumns);
  } else {
    Pipe(err);
  }
  std::vector<std::string> argStore;
  argStore.push_back(program);
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    signal(SIGINT, SIG_DFL);
    if (!options.workingDir.empty() && chdir(options.workingDir.c_str()) != 0) _exit(126);
    for (const std::string& e : options.environment) putenv(const_cast<char*>(e.c_str()));
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  // The input is small: written at once, then end of input.
  signal(SIGPIPE, SIG_IGN);
  if (!options.input.empty()) {
    ssize_t ignored = write(in[1], options.input.data(), options.input.size());
    (void)ignored;
  }
  close(in[1]);

  ProcessResult result;
  bool interrupted = false;
  bool signalled = options.signalAfterUs < 0;
  const auto started = std::chrono::steady_clock::now();
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    int timeoutMs = -1;
    if (!signalled) {
      const long elapsed = static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                                 std::chrono::steady_clock::now() - started)
                                                 .count());
      if (elapsed >= options.signalAfterUs) {
        kill(pid, options.signalNumber);
        signalled = true;
      } else {
        timeoutMs = static_cast<int>((options.signalAfterUs - elapsed + 999) / 1000);
      }
    }
    if (poll(fds, 2, timeoutMs) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[4096];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
      if (i == 1 && !interrupted && options.interruptWhen && options.interruptWhen(result.err)) {
        kill(pid, SIGINT);
        interrupted = true;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

TerminalResult RunInTerminal(const std::string& program, const std::vector<std::string>& args,
                             const TerminalOptions& options) {
  std::vector<std::string> argStore{program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  winsize size{};
  size.ws_row = 24;
  size.ws_col = options.columns;
  int terminal = -1;
  const pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
  if (pid < 0) throw std::runtime_error("forkpty");
  if (pid == 0) {
    signal(SIGINT, SIG_DFL);
    if (!options.workingDir.empty() && chdir(options.workingDir.c_str()) != 0) _exit(126);
    for (const std::string& e : options.environment) putenv(const_cast<char*>(e.c_str()));
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  TerminalResult result;
  size_t step = 0, searchFrom = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  for (;;) {
    while (step < options.typing.size()) {
      const size_t at = result.output.find(options.typing[step].after, searchFrom);
      if (at == std::string::npos) break;
      const std::string& keys = options.typing[step].keys;
      if (write(terminal, keys.data(), keys.size()) < 0) break;
      searchFrom = at + options.typing[step].after.size();
      ++step;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      break;
    }
    pollfd fd = {terminal, POLLIN, 0};
    if (poll(&fd, 1, 100) < 0 && errno != EINTR) break;
    if (fd.revents == 0) continue;
    char buf[4096];
    const ssize_t n = read(terminal, buf, sizeof buf);
    if (n <= 0) break;  // EIO: the program and its children have closed the terminal
    result.output.append(buf, static_cast<size_t>(n));
  }
  close(terminal);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace testing_support
