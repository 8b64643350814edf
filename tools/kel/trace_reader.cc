#include "trace_reader.h"

#include <fstream>
#include <iterator>

namespace kel::cli {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads the value that starts at `at`: bare up to the next space, or quoted
// with \" \\ and \xNN escapes. Leaves `at` behind it.
std::string ReadValue(const std::string &text, std::size_t *at) {
  std::string value;
  std::size_t i = *at;
  if (i >= text.size() || text[i] != '"') {
    std::size_t end = text.find(' ', i);
    if (end == std::string::npos) end = text.size();
    *at = end;
    return text.substr(i, end - i);
  }
  for (++i; i < text.size() && text[i] != '"'; ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      value += text[i];
    } else if (text[i + 1] == 'x' && i + 3 < text.size() && HexValue(text[i + 2]) >= 0 &&
               HexValue(text[i + 3]) >= 0) {
      value += static_cast<char>(HexValue(text[i + 2]) * 16 + HexValue(text[i + 3]));
      i += 3;
    } else {
      value += text[++i];
    }
  }
  *at = i + 1;
  return value;
}

}  // namespace

std::string TraceLine::Field(const std::string &name, const std::string &absent) const {
  auto found = fields.find(name);
  return found == fields.end() ? absent : found->second;
}

bool ParseTraceLine(const std::string &text, TraceLine *line) {
  *line = TraceLine();
  line->text = text;
  std::size_t at = text.find(' ');  // behind the time
  while (at != std::string::npos && at < text.size()) {
    while (at < text.size() && text[at] == ' ') ++at;
    std::size_t word_end = text.find_first_of(" =", at);
    if (word_end == std::string::npos || text[word_end] == ' ') {
      // A word without '=': the event (or the mark of a line cut short).
      std::string word = text.substr(at, word_end == std::string::npos ? word_end : word_end - at);
      if (line->event.empty() && word != "...") line->event = word;
      at = word_end;
      continue;
    }
    std::string name = text.substr(at, word_end - at);
    at = word_end + 1;
    line->fields[name] = ReadValue(text, &at);
  }
  return !line->event.empty();
}

std::vector<TraceLine> TraceReader::NewLines() {
  std::vector<TraceLine> lines;
  std::ifstream file(path_, std::ios::binary);
  if (!file) return lines;
  file.seekg(static_cast<std::streamoff>(consumed_));
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string raw = text.substr(start, end - start);
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    TraceLine line;
    if (ParseTraceLine(raw, &line)) lines.push_back(std::move(line));
  }
  consumed_ += start;
  return lines;
}

}  // namespace kel::cli
