// Runs a program as a child process and collects what it prints.
#ifndef KEL_TESTS_SUPPORT_CHILD_PROCESS_H_
#define KEL_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace kel::test {

struct ChildResult {
  int exit_code = -1;      // -1 when the child did not exit normally
  std::string output;      // standard output
  bool timed_out = false;  // killed at the deadline
};

// How long a child may run; generous, for emulators and loaded machines.
inline constexpr std::chrono::seconds kChildDeadline{120};

// Runs `program` with `arguments` in the folder `working_dir` and waits for
// it, at most kChildDeadline. Standard error passes through to the test's own.
ChildResult RunChild(const std::string &program, const std::vector<std::string> &arguments,
                     const std::filesystem::path &working_dir);

}  // namespace kel::test

#endif  // KEL_TESTS_SUPPORT_CHILD_PROCESS_H_
