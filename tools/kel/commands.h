// The subcommands of kel. Each adds itself to the application; its callback
// runs after a successful parse and stores the call's exit code.
#ifndef KEL_TOOLS_KEL_COMMANDS_H_
#define KEL_TOOLS_KEL_COMMANDS_H_

#include <CLI/CLI.hpp>

#include "report.h"

namespace kel::cli {

// verify-seal, send-record, server-time, verify-timestamp.
void AddServerCommands(CLI::App &app, const Output &output, int *exit_code);

// base64, hex, random, aes-encrypt, aes-decrypt.
void AddLocalCommands(CLI::App &app, const Output &output, int *exit_code);

// doctor. `argv` is main's: the command runs kel again.
void AddDoctorCommand(CLI::App &app, const Output &output, char **argv, int *exit_code);

// True in the run of kel doctor that diagnoses, which kel starts itself.
bool InDoctorRun();

// The help text after a command's options: more about it, an example and
// its exit codes.
std::string Footer(const std::string &details, const std::string &examples,
                   const std::string &exit_codes);

}  // namespace kel::cli

#endif  // KEL_TOOLS_KEL_COMMANDS_H_
