// The server transactions and the local timestamp check.
#include <memory>

#include "commands.h"
#include "kel/kel.h"
#include "library.h"

namespace kel::cli {
namespace {

// The machine's local time as the library formats it (Kel_GetServerTime
// without a URL).
std::string LocalTimeText() {
  LibraryBuffer time;
  if (Kel_GetServerTime(time.out(), nullptr, nullptr, nullptr) != 0 || time.empty()) return "";
  return time.text();
}

// Converts the named arguments to the wire character set in place; on
// failure returns the name of the first that does not convert.
bool ArgumentsToWire(const Output &output,
                     std::initializer_list<std::pair<const char *, std::string *>> arguments,
                     std::string *bad) {
  for (const auto &[name, text] : arguments) {
    std::string bytes;
    if (!output.terminal.Encode(*text, output.Wire(), &bytes)) {
      *bad = name;
      return false;
    }
    *text = bytes;
  }
  return true;
}

int BadText(Report &report, const Output &output, const std::string &option) {
  return report.Fail(kExitFailed, option + " holds text that is not " +
                                      output.terminal.argument_codeset() + " or has no " +
                                      output.Wire() + " form");
}

// A result text in the verdict form "X,status,description": the status
// text stands between the commas at positions 1 and 2 to 10.
bool ParseVerdict(const std::string &result, long long *status, std::string *description) {
  if (result.size() < 4 || result[1] != ',') return false;
  std::size_t comma = result.find(',', 2);
  if (comma == std::string::npos || comma > 10) return false;
  *status = std::atoll(result.substr(2, comma - 2).c_str());
  *description = result.substr(comma + 1);
  return true;
}

void AddVerifySeal(CLI::App &app, const Output &output, int *exit_code) {
  struct Options {
    std::string url, name, id, time, type = "0";
  };
  auto options = std::make_shared<Options>();
  CLI::App *command =
      app.add_subcommand("verify-seal", "Asks the seal server whether a seal is valid");
  command->add_option("--url", options->url, "The seal server's URL")->required();
  command->add_option("--name", options->name, "The seal holder's name")->required();
  command->add_option("--id", options->id, "The seal's identifier")->required();
  command->add_option("--time", options->time,
                      "The time of use, sent as is (default: now, as YYYY-MM-DD hh:mm:ss)");
  command->add_option("--type", options->type, "The type sent to the server")
      ->check(CLI::IsMember({"0", "1"}))
      ->capture_default_str();
  command->footer(
      Footer("Calls Kel_VerifySeal and prints the server's verdict: the status (0 means\n"
             "valid) and the server's description.",
             "kel verify-seal --url http://127.0.0.1:8080/ --name 'Acme Ltd' --id S-1",
             "0 the seal is valid, 1 the server says it is not (status other than 0),\n"
             "2 bad usage or the exchange failed"));
  command->callback([options, &output, exit_code] {
    Report report("verify-seal", output);
    if (options->time.empty()) options->time = LocalTimeText();
    std::string bad;
    if (!ArgumentsToWire(
            output,
            {{"--name", &options->name}, {"--id", &options->id}, {"--time", &options->time}},
            &bad)) {
      *exit_code = BadText(report, output, bad);
      return;
    }
    int status = 1;
    // The library's flag: non-zero sends type "0", zero sends type "1".
    int type_flag = options->type == "0" ? 1 : 0;
    int result = Kel_VerifySeal(options->url.c_str(), options->name.c_str(), options->id.c_str(),
                                options->time.c_str(), type_flag, &status);
    std::string text = LastError();
    if (result != 0) {
      *exit_code = report.FailWithLibraryMessage(kExitFailed, text);
      return;
    }
    report.Flag("valid", status == 0);
    report.Number("status", status);
    report.LibraryText("description", text);
    *exit_code = report.Finish(status == 0 ? kExitOk : kExitNegative);
  });
}

void AddSendRecord(CLI::App &app, const Output &output, int *exit_code) {
  struct Options {
    std::string url, user, seal, remark;
  };
  auto options = std::make_shared<Options>();
  CLI::App *command =
      app.add_subcommand("send-record", "Reports one use of a seal to the seal server");
  command->add_option("--url", options->url, "The seal server's URL")->required();
  command->add_option("--user", options->user, "The user who applied the seal")->required();
  command->add_option("--seal", options->seal, "The seal's identifier")->required();
  command->add_option("--remark", options->remark, "A free remark");
  command->footer(Footer(
      "Calls Kel_SendSealRecord and prints the server's result text; a result in the verdict\n"
      "form (0,status,description) is also shown split.",
      "kel send-record --url http://127.0.0.1:8080/ --user alice --seal S-1 --remark 'contract 7'",
      "0 recorded, 1 the server answered a status other than 0,\n"
      "2 bad usage or the exchange failed"));
  command->callback([options, &output, exit_code] {
    Report report("send-record", output);
    std::string bad;
    if (!ArgumentsToWire(output,
                         {{"--user", &options->user},
                          {"--seal", &options->seal},
                          {"--remark", &options->remark}},
                         &bad)) {
      *exit_code = BadText(report, output, bad);
      return;
    }
    LibraryBuffer result;
    if (Kel_SendSealRecord(options->user.c_str(), options->seal.c_str(), options->remark.c_str(),
                           options->url.c_str(), result.out()) != 0) {
      *exit_code = report.FailWithLibraryMessage(kExitFailed, LastError());
      return;
    }
    std::string text = result.text();
    report.LibraryText("result", text);
    long long status = 0;
    std::string description;
    if (ParseVerdict(text, &status, &description)) {
      report.Number("status", status);
      report.LibraryText("description", description);
    }
    *exit_code = report.Finish(status == 0 ? kExitOk : kExitNegative);
  });
}

void AddServerTime(CLI::App &app, const Output &output, int *exit_code) {
  struct Options {
    std::string url, content;
  };
  auto options = std::make_shared<Options>();
  CLI::App *command = app.add_subcommand(
      "server-time", "Obtains a time signed by the seal server over a content text");
  command->add_option("--url", options->url, "The seal server's URL; absent: the local clock");
  command->add_option("--content", options->content, "The content text to be time-stamped");
  command->footer(
      Footer("Calls Kel_GetServerTime and prints the time and the signature. Without --url\n"
             "it prints the local clock's time. The signature covers the content followed\n"
             "by the time; check it with verify-timestamp.",
             "kel server-time --url http://127.0.0.1:8080/ --content 'contract 7'",
             "0 success, 2 bad usage or the exchange failed"));
  command->callback([options, &output, exit_code] {
    Report report("server-time", output);
    std::string bad;
    if (!ArgumentsToWire(output, {{"--content", &options->content}}, &bad)) {
      *exit_code = BadText(report, output, bad);
      return;
    }
    bool local = options->url.empty();
    LibraryBuffer time;
    LibraryBuffer signature;
    int result = Kel_GetServerTime(time.out(), signature.out(), options->content.c_str(),
                                   local ? nullptr : options->url.c_str());
    if (result != 0) {
      *exit_code = report.FailWithLibraryMessage(kExitFailed, LastError());
      return;
    }
    report.Text("source", local ? "local clock" : "server");
    report.LibraryText("time", time.text());
    if (!signature.empty()) report.LibraryText("signature", signature.text());
    *exit_code = report.Finish(kExitOk);
  });
}

void AddVerifyTimestamp(CLI::App &app, const Output &output, int *exit_code) {
  struct Options {
    std::string content, time, signature;
  };
  auto options = std::make_shared<Options>();
  CLI::App *command = app.add_subcommand("verify-timestamp",
                                         "Checks a signed server time locally, against pubkey.key");
  command->add_option("--content", options->content, "The content text")->required();
  command->add_option("--time", options->time, "The time text that server-time printed")
      ->required();
  command->add_option("--signature", options->signature, "The signature that server-time printed")
      ->required();
  command->footer(Footer(
      "Calls Kel_VerifyTimeStamp. The server's key is the file pubkey.key that the library\n"
      "loads when it starts: the one beside libkel.so, else the one in the current directory.",
      "kel verify-timestamp --content 'contract 7' --time '2024-05-06 07:08:09' --signature "
      "MIGI...",
      "0 the signature verifies, 1 it does not (or no pubkey.key was found), 2 bad usage"));
  command->callback([options, &output, exit_code] {
    Report report("verify-timestamp", output);
    std::string bad;
    if (!ArgumentsToWire(output,
                         {{"--content", &options->content},
                          {"--time", &options->time},
                          {"--signature", &options->signature}},
                         &bad)) {
      *exit_code = BadText(report, output, bad);
      return;
    }
    if (Kel_VerifyTimeStamp(options->content.c_str(), options->time.c_str(),
                            options->signature.c_str()) == 0) {
      report.Flag("verified", true);
      *exit_code = report.Finish(kExitOk);
      return;
    }
    std::string reason = LastError();
    report.Flag("verified", false);
    report.LibraryText("reason", reason);
    if (IsNoPublicKeyMessage(reason)) {
      report.Hint("no pubkey.key was found beside libkel.so or in the current directory");
    }
    *exit_code = report.Finish(kExitNegative);
  });
}

}  // namespace

void AddServerCommands(CLI::App &app, const Output &output, int *exit_code) {
  AddVerifySeal(app, output, exit_code);
  AddSendRecord(app, output, exit_code);
  AddServerTime(app, output, exit_code);
  AddVerifyTimestamp(app, output, exit_code);
}

}  // namespace kel::cli
