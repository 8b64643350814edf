#include "support/child_process.h"

#include <sys/wait.h>
#include <unistd.h>

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
  char chunk[4096];
  ssize_t got;
  while ((got = read(pipe_fds[0], chunk, sizeof chunk)) > 0) result.output.append(chunk, got);
  close(pipe_fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

}  // namespace kel::test
