#include "api/trace.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "api/call_gate.h"

namespace kel::trace {
namespace {

constexpr char kCut[] = "...";

// Function-local statics: start-up may run before the objects of this file
// are constructed.
std::string &TracePath() {
  static ModuleStatic<std::string> path;
  return path.get();
}

std::atomic<bool> &TraceOn() {
  static std::atomic<bool> on{false};
  return on;
}

// Lines dropped since the last line that was written: the next line that
// gets through says how many.
std::atomic<std::uint64_t> &Dropped() {
  static std::atomic<std::uint64_t> dropped{0};
  return dropped;
}

bool PassesBare(unsigned char byte) {
  return byte > 0x20 && byte < 0x7F && byte != '"' && byte != '\\';
}

// `value` as a field value: bare when it can be, else quoted and escaped; cut
// so that at most kMaxValueBytes bytes of output stand for it.
std::string FieldValue(const std::string &value) {
  bool bare = !value.empty();
  for (char c : value) bare = bare && PassesBare(static_cast<unsigned char>(c));
  if (bare && value.size() <= kMaxValueBytes) return value;
  if (bare) return value.substr(0, kMaxValueBytes - (sizeof kCut - 1)) + kCut;

  static const char kHex[] = "0123456789ABCDEF";
  const std::size_t room = kMaxValueBytes - 2;  // the quotes
  std::string quoted = "\"";
  for (std::size_t i = 0; i < value.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(value[i]);
    char escaped[5] = {};
    if (byte == '"' || byte == '\\') {
      escaped[0] = '\\';
      escaped[1] = static_cast<char>(byte);
    } else if (byte < 0x20 || byte >= 0x7F) {
      escaped[0] = '\\';
      escaped[1] = 'x';
      escaped[2] = kHex[byte >> 4];
      escaped[3] = kHex[byte & 0x0F];
    } else {
      escaped[0] = static_cast<char>(byte);
    }
    // The last piece must leave room for the cut mark unless it ends the value.
    std::size_t limit = i + 1 == value.size() ? room : room - (sizeof kCut - 1);
    if (quoted.size() - 1 + std::strlen(escaped) > limit) {
      quoted += kCut;
      break;
    }
    quoted += escaped;
  }
  return quoted + "\"";
}

std::string TimeText() {
  auto now = std::chrono::system_clock::now();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  std::tm utc{};
  if (!UtcTime(std::chrono::system_clock::to_time_t(now), &utc)) return "-";
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(ms % 1000));
  return text;
}

}  // namespace

void Start(const char *path) noexcept {
  TraceOn() = false;
  if (path == nullptr || path[0] == '\0') return;
  try {
    TracePath() = path;
    TraceOn() = true;
  } catch (...) {
    // No memory for the path: the trace stays off.
  }
}

bool Enabled() noexcept { return TraceOn(); }

Line::Line(const char *event) {
  text_.reserve(256);
  text_ += TimeText();
  text_ += " pid=" + std::to_string(ProcessNumber());
  text_ += " tid=" + std::to_string(ThreadNumber());
  text_ += ' ';
  text_ += event;
}

Line &Line::Add(const char *name, const std::string &value) {
  if (full_) return *this;
  std::string field = std::string(" ") + name + "=" + FieldValue(value);
  // Room is kept for the cut mark and the line feed.
  if (text_.size() + field.size() > kMaxLineBytes - (sizeof kCut - 1) - 2) {
    text_ += " ";
    text_ += kCut;
    full_ = true;
    return *this;
  }
  text_ += field;
  return *this;
}

Line &Line::Add(const char *name, std::uint64_t value) { return Add(name, std::to_string(value)); }

void Line::Write() const noexcept {
  if (!Enabled()) return;
  // No lock: the text and its line feed go out in one write that never
  // waits, so that no other line can fall between them and no call waits
  // for the trace's reader.
  const std::uint64_t missed = Dropped().exchange(0);
  bool written = false;
  try {
    std::string line = text_;
    if (missed != 0) line += " dropped=" + std::to_string(missed);
    line += '\n';
    const std::string &path = TracePath();
    written =
        AppendToFile(path == kStandardError ? nullptr : path.c_str(), line.data(), line.size());
  } catch (...) {
    // No memory for the line: it is dropped.
  }
  if (!written) Dropped() += missed + 1;
}

}  // namespace kel::trace
