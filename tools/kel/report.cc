#include "report.h"

#include <cstdio>
#include <iostream>

#include "library.h"

namespace kel::cli {
namespace {

std::string HexOf(const std::string &bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

}  // namespace

std::string JsonString(const std::string &utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string Report::CodesetOf(const std::string &bytes) const {
  return MessageMeaning(bytes) != nullptr ? "GBK" : output_.Wire();
}

void Report::Text(const std::string &name, const std::string &value) {
  items_.push_back(
      {name, output_.terminal.Display(value), JsonString(output_.terminal.ToUtf8(value))});
}

void Report::LibraryText(const std::string &name, const std::string &bytes) {
  const std::string codeset = CodesetOf(bytes);
  std::string plain = output_.terminal.Show(bytes, codeset);
  const char *meaning = MessageMeaning(bytes);
  if (meaning != nullptr) plain += std::string(" (") + meaning + ")";
  items_.push_back({name, plain, JsonString(TerminalText::ToUtf8From(bytes, codeset))});
  if (meaning != nullptr) items_.push_back({name + "_meaning", "", JsonString(meaning)});
}

void Report::Number(const std::string &name, long long value) {
  items_.push_back({name, std::to_string(value), std::to_string(value)});
}

void Report::Flag(const std::string &name, bool value) {
  items_.push_back({name, value ? "yes" : "no", value ? "true" : "false"});
}

void Report::Data(const std::string &data, bool is_text) {
  has_data_ = true;
  data_ = data;
  data_is_text_ = is_text;
}

int Report::FailWithLibraryMessage(int exit_code, const std::string &bytes) {
  if (bytes.empty()) return Fail(exit_code, "the library gave no reason");
  const std::string codeset = CodesetOf(bytes);
  const char *meaning = MessageMeaning(bytes);
  failed_ = true;
  error_plain_ = output_.terminal.Show(bytes, codeset);
  if (meaning != nullptr) error_plain_ += std::string(" (") + meaning + ")";
  items_.push_back({"error", "", JsonString(TerminalText::ToUtf8From(bytes, codeset))});
  if (meaning != nullptr) items_.push_back({"error_meaning", "", JsonString(meaning)});
  return Finish(exit_code);
}

int Report::Fail(int exit_code, const std::string &message) {
  failed_ = true;
  error_plain_ = output_.terminal.Display(message);
  items_.push_back({"error", "", JsonString(output_.terminal.ToUtf8(message))});
  return Finish(exit_code);
}

void Report::Hint(const std::string &text) { hint_ = text; }

int Report::Finish(int exit_code) {
  if (output_.json) {
    std::string line = "{\"command\":" + JsonString(command_) +
                       ",\"ok\":" + (exit_code == kExitOk ? "true" : "false") +
                       ",\"exit\":" + std::to_string(exit_code);
    for (const auto &item : items_) line += "," + JsonString(item.name) + ":" + item.json;
    if (has_data_) {
      if (data_is_text_) {
        line += ",\"text\":" + JsonString(data_);
      } else {
        line += ",\"length\":" + std::to_string(data_.size()) + ",\"hex\":\"" + HexOf(data_) + "\"";
      }
    }
    if (!hint_.empty()) line += ",\"hint\":" + JsonString(hint_);
    std::cout << line << "}\n";
  } else {
    for (const auto &item : items_) {
      if (!item.plain.empty() || item.json == "\"\"") {
        std::cout << item.name << ": " << item.plain << "\n";
      }
    }
    if (has_data_) {
      std::cout.write(data_.data(), static_cast<std::streamsize>(data_.size()));
      if (data_is_text_) std::cout << "\n";
    }
    if (failed_) std::cerr << "kel " << command_ << ": " << error_plain_ << "\n";
    if (!hint_.empty()) std::cerr << "kel " << command_ << ": " << hint_ << "\n";
  }
  std::cout.flush();
  return exit_code;
}

}  // namespace kel::cli
