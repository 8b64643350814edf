// kel: the command-line host program of the Kel library. It calls the
// library's exports and nothing else, converts the library's GBK texts for
// the terminal, and reports each call as text or as one JSON object.
#include <clocale>
#include <cstring>
#include <iostream>

#include "commands.h"
#include "terminal_text.h"

namespace kel::cli {

std::string Footer(const std::string &details, const std::string &examples,
                   const std::string &exit_codes) {
  return (details.empty() ? "" : "\n" + details + "\n") + "\nExample:\n  " + examples +
         "\n\nExit codes: " + exit_codes + "\n";
}

namespace {

bool WantsJson(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) return true;
  }
  return false;
}

int Run(int argc, char **argv) {
  std::setlocale(LC_ALL, "");
  Output output;
  output.terminal = TerminalText(TerminalCodeset());

  CLI::App app{
      "kel: calls the Kel library from the command line. The seal-server commands talk to a\n"
      "seal server over HTTP or HTTPS; the others work on local data. The library's messages\n"
      "are shown in the terminal's character set, with their meaning in English."};
  app.name("kel");
  app.set_version_flag("--version", KEL_VERSION);
  app.require_subcommand(1);
  // Options of kel itself (--json) may also follow the subcommand.
  app.fallthrough();
  app.add_flag("--json", output.json, "Print one JSON object per call, for scripts");
  app.footer(Footer("",
                    "kel verify-seal --url http://127.0.0.1:8080/ --name 'Acme Ltd' --id S-1\n"
                    "  kel --json server-time --url http://127.0.0.1:8080/ --content 'contract 7'",
                    "0 success, 1 a negative verdict or a failed verification,\n"
                    "2 bad usage or a failed exchange. Each subcommand has --help."));

  int exit_code = kExitOk;
  AddServerCommands(app, output, &exit_code);
  AddLocalCommands(app, output, &exit_code);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &error) {
    if (error.get_exit_code() == 0) return app.exit(error);  // --help, --version
    if (WantsJson(argc, argv)) {
      std::cout << "{\"command\":null,\"ok\":false,\"exit\":" << kExitFailed
                << ",\"error\":" << JsonString(error.what()) << "}" << std::endl;
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
