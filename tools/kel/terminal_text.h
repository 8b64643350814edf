// Conversion between the texts kel exchanges with the library and the
// terminal's character set.
//
// The library takes and gives narrow texts in the host's code page, GBK for
// Chinese text, and its own messages are GBK bytes. kel sends the texts it is
// given on the command line in the chosen wire character set (GBK unless
// --encoding utf-8 says otherwise), so that a name typed on a UTF-8 terminal
// reaches the server as the bytes a Windows host would send, and reads the
// server's texts back in it. What it prints is converted to the terminal's
// character set, with control bytes from the server shown as \xNN.
#ifndef KEL_TOOLS_KEL_TERMINAL_TEXT_H_
#define KEL_TOOLS_KEL_TERMINAL_TEXT_H_

#include <string>

namespace kel::cli {

class TerminalText {
 public:
  // Arguments are read in `argument_codeset`, output is printed in
  // `output_codeset` (see platform.h).
  TerminalText(std::string argument_codeset, std::string output_codeset)
      : argument_codeset_(std::move(argument_codeset)),
        output_codeset_(std::move(output_codeset)) {}

  const std::string &argument_codeset() const { return argument_codeset_; }

  // Bytes in `codeset` (GBK or UTF-8) from the library or the server, for
  // printing: control bytes are escaped as \xNN (a text must not move the
  // cursor or drive the terminal), bytes that are not in `codeset` appear as
  // \xNN, and characters the terminal cannot show are approximated.
  std::string Show(const std::string &bytes, const std::string &codeset) const;

  // Bytes in `codeset` as UTF-8, for JSON output (\xNN for invalid bytes).
  static std::string ToUtf8From(const std::string &bytes, const std::string &codeset);

  // kel's own text (in the argument character set, as a file name that was
  // given may be) for printing, and as UTF-8 for JSON.
  std::string Display(const std::string &text) const;
  std::string ToUtf8(const std::string &text) const;

  // A text given on the command line as bytes in `codeset`. False when it
  // holds a character that `codeset` has not got, or bytes that are not in
  // the argument character set.
  bool Encode(const std::string &text, const std::string &codeset, std::string *bytes) const;

 private:
  std::string argument_codeset_;
  std::string output_codeset_;
};

// `bytes` in `codeset` (GBK or UTF-8) with C0 control bytes, DEL and, in
// UTF-8, the C1 controls U+0080 to U+009F written as \xNN escapes.
std::string EscapeControls(const std::string &bytes, const std::string &codeset);

}  // namespace kel::cli

#endif  // KEL_TOOLS_KEL_TERMINAL_TEXT_H_
