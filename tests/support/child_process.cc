#include "support/child_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace kel::test {

ChildResult RunChild(const std::string &program, const std::vector<std::string> &arguments,
                     const std::filesystem::path &working_dir) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");

  std::vector<std::string> argv_text{program};
  argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
  std::vector<char *> argv;
  for (auto &argument : argv_text) argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(pipe_fds[1], STDOUT_FILENO);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    if (chdir(working_dir.c_str()) != 0) _exit(126);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  ChildResult result;
  // A child that hangs is killed, so that the test fails with its name
  // rather than the whole program running into ctest's limit.
  const auto deadline = std::chrono::steady_clock::now() + kChildDeadline;
  char chunk[4096];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd readable{pipe_fds[0], POLLIN, 0};
    int ready = left.count() > 0 ? poll(&readable, 1, static_cast<int>(left.count())) : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      kill(pid, SIGKILL);
      result.timed_out = true;
      break;
    }
    ssize_t got = read(pipe_fds[0], chunk, sizeof chunk);
    if (got <= 0) break;
    result.output.append(chunk, got);
  }
  close(pipe_fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

}  // namespace kel::test
