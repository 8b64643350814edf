#include "terminal_text.h"

#include <cstdio>

#include "platform.h"

namespace kel::cli {
namespace {

std::string ConvertLeniently(const std::string &from, const std::string &to,
                             const std::string &text) {
  std::string out;
  return ConvertText(from, to, text, true, &out) ? out : text;
}

void AppendEscape(unsigned char byte, std::string *out) {
  char escape[8];
  std::snprintf(escape, sizeof escape, "\\x%02X", byte);
  out->append(escape);
}

}  // namespace

std::string EscapeControls(const std::string &bytes, const std::string &codeset) {
  const bool utf8 = codeset == "UTF-8";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte < 0x20 || byte == 0x7F) {
      AppendEscape(byte, &out);
    } else if (utf8 && byte == 0xC2 && i + 1 < bytes.size() &&
               static_cast<unsigned char>(bytes[i + 1]) < 0xA0 &&
               static_cast<unsigned char>(bytes[i + 1]) >= 0x80) {
      AppendEscape(byte, &out);
      AppendEscape(static_cast<unsigned char>(bytes[++i]), &out);
    } else {
      out += bytes[i];
    }
  }
  return out;
}

std::string TerminalText::Show(const std::string &bytes, const std::string &codeset) const {
  // GBK's second bytes and UTF-8's continuation bytes are never below 0x40,
  // so escaping before the conversion cannot split a character.
  return ConvertLeniently(codeset, output_codeset_, EscapeControls(bytes, codeset));
}

std::string TerminalText::ToUtf8From(const std::string &bytes, const std::string &codeset) {
  return ConvertLeniently(codeset, "UTF-8", bytes);
}

std::string TerminalText::Display(const std::string &text) const {
  return ConvertLeniently(argument_codeset_, output_codeset_, text);
}

std::string TerminalText::ToUtf8(const std::string &text) const {
  return ConvertLeniently(argument_codeset_, "UTF-8", text);
}

bool TerminalText::Encode(const std::string &text, const std::string &codeset,
                          std::string *bytes) const {
  return ConvertText(argument_codeset_, codeset, text, false, bytes);
}

}  // namespace kel::cli
