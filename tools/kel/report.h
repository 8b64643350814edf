// What one kel call prints: labelled lines (or raw data) for people, or one
// JSON object on standard output for scripts.
#ifndef KEL_TOOLS_KEL_REPORT_H_
#define KEL_TOOLS_KEL_REPORT_H_

#include <string>
#include <vector>

#include "terminal_text.h"

namespace kel::cli {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitNegative = 1;  // a negative verdict or a failed verification
constexpr int kExitFailed = 2;    // bad usage or a failed exchange

struct Output {
  bool json = false;
  std::string encoding = "gbk";  // --encoding: gbk or utf-8
  TerminalText terminal{"UTF-8", "UTF-8"};

  // The character set of the texts exchanged with the library and the
  // server (the library's own messages are GBK whatever this says).
  std::string Wire() const { return encoding == "utf-8" ? "UTF-8" : "GBK"; }
};

class Report {
 public:
  Report(std::string command, const Output &output)
      : command_(std::move(command)), output_(output) {}

  // A field of kel's own, in the argument character set (or ASCII).
  void Text(const std::string &name, const std::string &value);
  // A field that holds bytes from the library or the server: a fixed message
  // of the library (GBK) is followed by its English meaning, other texts are
  // read in the wire character set.
  void LibraryText(const std::string &name, const std::string &bytes);
  void Number(const std::string &name, long long value);
  void Flag(const std::string &name, bool value);

  // The call's result data: printed bare (a line for text), or in JSON as
  // "text", or as "hex" and "length" for bytes.
  void Data(const std::string &data, bool is_text);

  // A failure with the library's message (as LibraryText) or kel's own (as
  // Text): printed to standard error, or in JSON as "error".
  int FailWithLibraryMessage(int exit_code, const std::string &bytes);
  int Fail(int exit_code, const std::string &message);

  // A hint printed to standard error, or in JSON as "hint".
  void Hint(const std::string &text);

  // Prints what was gathered and returns `exit_code`.
  int Finish(int exit_code);

 private:
  // The character set of `bytes` from the library or the server.
  std::string CodesetOf(const std::string &bytes) const;

  struct Item {
    std::string name;
    std::string plain;  // as printed on the terminal
    std::string json;   // a JSON value
  };

  std::string command_;
  const Output &output_;
  std::vector<Item> items_;
  std::string error_plain_;
  std::string hint_;
  bool failed_ = false;
  bool has_data_ = false;
  std::string data_;
  bool data_is_text_ = false;
};

// A JSON string literal of UTF-8 text.
std::string JsonString(const std::string &utf8);

}  // namespace kel::cli

#endif  // KEL_TOOLS_KEL_REPORT_H_
