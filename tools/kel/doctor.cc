// kel doctor: diagnoses a deployment end to end through what a host can
// see. kel runs itself again with the library's trace going to a private
// temporary file (the library reads KEL_TRACE once, as it loads), makes one
// server-time transaction and a local time-stamp check with the exports, and
// reads the library's own trace lines to tell which key file it loaded, how
// it split the URL, where the connection failed and which key an answer was
// checked against.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>

#include "commands.h"
#include "doctor_findings.h"
#include "kel/kel.h"
#include "library.h"
#include "platform.h"
#include "trace_reader.h"

namespace kel::cli {
namespace {

constexpr char kTraceVariable[] = "KEL_TRACE";
// Set, to the trace file's path, in the run that diagnoses.
constexpr char kDoctorVariable[] = "KEL_DOCTOR_TRACE";
constexpr char kProbeContent[] = "kel doctor";

struct Options {
  std::string url;
};

// The local clock as the library formats it.
std::string LocalTime() {
  LibraryBuffer time;
  if (Kel_GetServerTime(time.out(), nullptr, nullptr, nullptr) != 0 || time.empty()) return "";
  return time.text();
}

// A library message in UTF-8, followed by its meaning.
std::string MessageText(const std::string &gbk) {
  if (gbk.empty()) return "no message";
  const char *meaning = MessageMeaning(gbk);
  std::string text = TerminalText::ToUtf8From(gbk, "GBK");
  return meaning != nullptr ? text + ": " + meaning : text;
}

// The trace's lines with their values in UTF-8; with `echo`, also copied to
// standard error as they were written.
std::vector<TraceLine> ReadLines(TraceReader *reader, bool echo) {
  std::vector<TraceLine> lines = reader->NewLines();
  for (TraceLine &line : lines) {
    if (echo) std::cerr << line.text << "\n";
    for (auto &field : line.fields) {
      field.second = TerminalText::ToUtf8From(field.second, NarrowCodeset());
    }
  }
  return lines;
}

const TraceLine *Last(const std::vector<TraceLine> &lines, const char *event) {
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    if (line->event == event) return &*line;
  }
  return nullptr;
}

std::vector<Finding> Diagnose(const std::string &url, const Output &output,
                              const std::string &trace_path, bool echo) {
  TraceReader reader(trace_path);
  std::vector<Finding> findings;
  const std::vector<TraceLine> start_lines = ReadLines(&reader, echo);
  const TraceLine *start = Last(start_lines, "start");
  const ModuleVersion library = LibraryVersion();
  Surroundings surroundings{library.version, output.terminal.ToUtf8(library.path),
                            std::filesystem::current_path().u8string()};
  AddStartFindings(start, surroundings, &findings);

  const std::string before = LocalTime();
  LibraryBuffer time;
  LibraryBuffer signature;
  const int result = Kel_GetServerTime(time.out(), signature.out(), kProbeContent, url.c_str());
  const std::string message = result != 0 ? LastError() : "";
  const std::string after = LocalTime();

  const std::vector<TraceLine> exchange_lines = ReadLines(&reader, echo);
  const TraceLine *exchange = Last(exchange_lines, "exchange");
  if (exchange == nullptr) {
    findings.push_back({"answer", FindingStatus::kFail,
                        "the library wrote no trace line for the server-time exchange (" +
                            (result == 0 ? std::string("it succeeded") : MessageText(message)) +
                            ")",
                        "see the library finding"});
    return findings;
  }
  AddExchangeFindings(*exchange, start, &findings);
  if (exchange->Field("result") != "ok") return findings;
  if (result != 0) {
    findings.push_back(UnusableTimeFinding(MessageText(message)));
    return findings;
  }
  const bool verified = Kel_VerifyTimeStamp(kProbeContent, time.text(), signature.text()) == 0;
  findings.push_back(TimestampFinding(verified, start, *exchange));
  findings.push_back(ClockFinding(time.text(), before, after));
  return findings;
}

void Print(const std::vector<Finding> &findings, const Output &output, int exit_code) {
  if (output.json) {
    std::string line = std::string("{\"command\":\"doctor\",\"ok\":") +
                       (exit_code == kExitOk ? "true" : "false") +
                       ",\"exit\":" + std::to_string(exit_code) + ",\"findings\":[";
    for (const Finding &finding : findings) {
      if (&finding != &findings.front()) line += ",";
      line += "{\"check\":" + JsonString(finding.check) +
              ",\"status\":" + JsonString(StatusToken(finding.status)) +
              ",\"detail\":" + JsonString(finding.detail) + ",\"fix\":" + JsonString(finding.fix) +
              "}";
    }
    std::cout << line << "]}\n";
    return;
  }
  std::size_t not_holding = 0;
  for (const Finding &finding : findings) {
    const char *label = finding.status == FindingStatus::kOk     ? "ok  "
                        : finding.status == FindingStatus::kWarn ? "WARN"
                                                                 : "FAIL";
    std::string check = finding.check;
    check.resize(std::max<std::size_t>(check.size(), 13), ' ');
    std::cout << label << "  " << check << output.terminal.Show(finding.detail, "UTF-8") << "\n";
    if (!finding.fix.empty()) {
      ++not_holding;
      std::cout << std::string(19, ' ') << "fix: " << output.terminal.Show(finding.fix, "UTF-8")
                << "\n";
    }
  }
  if (not_holding == 0) {
    std::cout << "everything holds\n";
  } else {
    std::cout << not_holding << " of " << findings.size() << " checks do not hold\n";
  }
  std::cout.flush();
}

// The run that diagnoses, with the trace in `trace_path`; removes the file.
int RunDiagnosis(const Options &options, const Output &output, const std::string &trace_path,
                 bool echo) {
  struct Remover {
    const std::string &path;
    ~Remover() { std::remove(path.c_str()); }
  } remover{trace_path};
  std::vector<Finding> findings = Diagnose(options.url, output, trace_path, echo);
  int exit_code = kExitOk;
  for (const Finding &finding : findings) {
    if (finding.status != FindingStatus::kOk) exit_code = kExitNegative;
  }
  Print(findings, output, exit_code);
  return exit_code;
}

int Fail(const Output &output, const std::string &message) {
  Report report("doctor", output);
  return report.Fail(kExitFailed, message);
}

}  // namespace

bool InDoctorRun() { return std::getenv(kDoctorVariable) != nullptr; }

void AddDoctorCommand(CLI::App &app, const Output &output, char **argv, int *exit_code) {
  auto options = std::make_shared<Options>();
  CLI::App *command = app.add_subcommand(
      "doctor", "Diagnoses a deployment: key file, URL, connection, signatures and clocks");
  command->add_option("--url", options->url, "The seal server's URL, as the host passes it")
      ->required();
  command->footer(Footer(
      "Makes one server-time transaction and checks its time stamp, as a host would, and reads\n"
      "the library's own trace to report: the pubkey.key the library loaded (its path, form\n"
      "and fingerprint, the first 16 hex digits of its SHA-256) and the built-in key's\n"
      "fingerprint; the URL as the library split it and any mend; name lookup, connect, TLS\n"
      "(certificate problems named) and the proxy; the answer's format and the key its\n"
      "signature was checked against; the time stamp against pubkey.key; and the clock skew\n"
      "(limit " +
          std::to_string(kMaxClockSkewSeconds) +
          " s). Each finding that does not hold comes with a fix. Checks that depend on\n"
          "a failed one are left out.",
      "kel doctor --url http://127.0.0.1:8080/\n  kel --json doctor --url https://seal.example/api",
      "0 everything holds, 1 a finding to act on, 2 bad usage or kel could not run the checks"));
  command->callback([options, &output, &app, argv, exit_code] {
    const char *trace_path = std::getenv(kDoctorVariable);
    if (trace_path != nullptr) {
      *exit_code = RunDiagnosis(*options, output, trace_path, app.count("--verbose") > 0);
      return;
    }
    // The library is loaded already, before main: its trace must be set for
    // a new run.
    const std::string path = NewPrivateFile();
    if (path.empty()) {
      *exit_code = Fail(output, "cannot create a temporary file for the library's trace");
      return;
    }
    int code = -1;
    if (SetEnvironment(kDoctorVariable, path.c_str())) {
      code = RunAgainWith(kTraceVariable, path.c_str(), argv);
    }
    std::remove(path.c_str());
    *exit_code = code >= 0 ? code : Fail(output, "cannot start kel again with the library's trace");
  });
}

}  // namespace kel::cli
