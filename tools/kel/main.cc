// kel: the command-line host program of the Kel library. It calls the
// library's exports and nothing else, converts the library's GBK texts for
// the terminal, and reports each call as text or as one JSON object.
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "commands.h"
#include "kel/kel.h"
#include "platform.h"
#include "terminal_text.h"

namespace kel::cli {

std::string Footer(const std::string &details, const std::string &examples,
                   const std::string &exit_codes) {
  return (details.empty() ? "" : "\n" + details + "\n") + "\nExample:\n  " + examples +
         "\n\nExit codes: " + exit_codes + "\n";
}

namespace {

#define KEL_CLI_STR2(x) #x
#define KEL_CLI_STR(x) KEL_CLI_STR2(x)
// The version of kel itself: that of the kel.h it was built with.
constexpr char kOwnVersion[] = KEL_CLI_STR(KEL_VERSION_MAJOR) "." KEL_CLI_STR(
    KEL_VERSION_MINOR) "." KEL_CLI_STR(KEL_VERSION_PATCH);

bool WantsJson(const std::vector<std::string> &arguments) {
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == "--json") return true;
  }
  return false;
}

// --verbose shows the library's trace on standard error (KEL_TRACE=-). The
// library reads the variable once, as it is loaded, which for kel is before
// main: so kel runs itself again with the variable set, unless this run has
// it already. -1 when there is nothing to do or the new run cannot start.
int RunVerbose(const std::vector<std::string> &arguments, char **argv) {
  bool verbose = false;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == "--verbose") verbose = true;
  }
  const char *trace = std::getenv("KEL_TRACE");
  // The diagnosing run of kel doctor keeps the trace it was started with.
  if (!verbose || InDoctorRun() || (trace != nullptr && std::strcmp(trace, "-") == 0)) return -1;
  int exit_code = RunAgainWith("KEL_TRACE", "-", argv);
  if (exit_code < 0) std::cerr << "kel: --verbose: cannot start kel again; no trace is shown\n";
  return exit_code;
}

// kel's version and those of the library and the provider this run loaded,
// which may be other files than the ones it was built with.
std::string VersionText(const Output &output) {
  std::string text = std::string("kel ") + kOwnVersion;
  const std::pair<const char *, ModuleVersion> modules[] = {{"library", LibraryVersion()},
                                                            {"provider", ProviderVersion()}};
  for (const auto &[label, module] : modules) {
    text += std::string("\n") + label + ": " + module.version;
    if (!module.path.empty()) text += " (" + output.terminal.Display(module.path) + ")";
  }
  return text;
}

// The first word that stands where a subcommand's name belongs and names
// none, or "" (CLI11 would only say that the word was not expected).
std::string UnknownSubcommand(CLI::App &app, const std::vector<std::string> &arguments) {
  CLI::App *level = &app;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string &word = arguments[i];
    if (level->get_subcommands({}).empty() || word == "--") return "";
    if (word == "--encoding") {
      ++i;  // its value
      continue;
    }
    if (!word.empty() && word[0] == '-') continue;
    CLI::App *next = nullptr;
    for (CLI::App *subcommand : level->get_subcommands({})) {
      if (subcommand->check_name(word)) next = subcommand;
    }
    if (next == nullptr) return word;
    level = next;
  }
  return "";
}

int Run(int argc, char **argv) {
  std::setlocale(LC_ALL, "");
  UseBinaryStandardStreams();
  Output output;
  output.terminal = TerminalText(ArgumentCodeset(), OutputCodeset());
  const std::vector<std::string> arguments = ProgramArguments(argc, argv);
  if (int exit_code = RunVerbose(arguments, argv); exit_code >= 0) return exit_code;

  CLI::App app{
      "kel: calls the Kel library from the command line. The seal-server commands talk to a\n"
      "seal server over HTTP or HTTPS; the others work on local data. The library's messages\n"
      "are shown in the terminal's character set, with their meaning in English."};
  app.name("kel");
  app.set_version_flag(
      "--version", [&output] { return VersionText(output); },
      "Print kel's version and those of the library and the provider it loaded");
  app.require_subcommand(1);
  // Options of kel itself (--json, --encoding) may also follow the subcommand.
  app.fallthrough();
  app.add_flag("--json", output.json, "Print one JSON object per call, for scripts");
  app.add_flag("--verbose",
               "Show the library's trace of each exchange on standard error (KEL_TRACE=-)");
  app.add_option("--encoding", output.encoding,
                 "Character set that texts given on the command line are sent in, and that the\n"
                 "server's texts are read in: gbk (as Chinese Windows hosts) or utf-8. The\n"
                 "library's own messages are GBK either way")
      ->check(CLI::IsMember({"gbk", "utf-8"}))
      ->capture_default_str();
  app.footer(Footer("",
                    "kel verify-seal --url http://127.0.0.1:8080/ --name 'Acme Ltd' --id S-1\n"
                    "  kel --json server-time --url http://127.0.0.1:8080/ --content 'contract 7'",
                    "0 success, 1 a negative verdict or a failed verification,\n"
                    "2 bad usage or a failed exchange. Each subcommand has --help."));

  int exit_code = kExitOk;
  AddServerCommands(app, output, &exit_code);
  AddLocalCommands(app, output, &exit_code);
  AddDoctorCommand(app, output, argv, &exit_code);

  const std::string unknown = UnknownSubcommand(app, arguments);
  if (!unknown.empty()) {
    const std::string message = "unknown subcommand \"" + unknown + "\"; kel --help lists them";
    if (WantsJson(arguments)) {
      std::cout << "{\"command\":null,\"ok\":false,\"exit\":" << kExitFailed
                << ",\"error\":" << JsonString(output.terminal.ToUtf8(message)) << "}\n";
    } else {
      std::cerr << "kel: " << output.terminal.Display(message) << "\n";
    }
    return kExitFailed;
  }

  std::vector<const char *> pointers;
  for (const std::string &argument : arguments) pointers.push_back(argument.c_str());
  try {
    app.parse(static_cast<int>(pointers.size()), pointers.data());
  } catch (const CLI::ParseError &error) {
    if (error.get_exit_code() == 0) return app.exit(error);  // --help, --version
    if (WantsJson(arguments)) {
      std::cout << "{\"command\":null,\"ok\":false,\"exit\":" << kExitFailed
                << ",\"error\":" << JsonString(output.terminal.ToUtf8(error.what())) << "}"
                << std::endl;
    } else {
      app.exit(error);
    }
    return kExitFailed;
  }
  return exit_code;
}

}  // namespace
}  // namespace kel::cli

int main(int argc, char **argv) {
  try {
    return kel::cli::Run(argc, argv);
  } catch (const std::exception &error) {
    std::cerr << "kel: " << error.what() << "\n";
    return kel::cli::kExitFailed;
  }
}
