#include "doc/flat_tag_reader.h"

#include <algorithm>
#include <cstring>

namespace kel {
namespace {

// A '<' or '>' is ordinary text when the byte directly before it in the
// document is '_'. The document's first byte has nothing before it.
bool IsEscaped(const char *text, const char *delimiter) {
  return delimiter != text && delimiter[-1] == '_';
}

// The first `delimiter` at or after `from` that is not escaped, or null when
// the terminating zero comes first.
const char *FindUnescaped(const char *text, const char *from, char delimiter) {
  for (;;) {
    const char *found = std::strchr(from, delimiter);
    if (found == nullptr || !IsEscaped(text, found)) return found;
    from = found + 1;
  }
}

// The '<' of the first unescaped "</" at or after `from`, or null. A '<' not
// followed by '/' is ordinary text inside a value.
const char *FindClosingTag(const char *text, const char *from) {
  for (;;) {
    const char *found = FindUnescaped(text, from, '<');
    if (found == nullptr || found[1] == '/') return found;
    from = found + 1;
  }
}

// Hands `sink` the runs of `data` that survive unescaping, in order: every
// '_' directly followed by '<' or '>' is dropped. A '_' at the very end has
// nothing after it and stays.
//
// Dropping by the original bytes, left to right, gives the same result as
// walking from the end and skipping the byte before each dropped '_': that
// skipped byte is followed by the dropped '_', never by a delimiter, so it
// would not have been dropped anyway. Each byte is looked at and moved once;
// the scan goes block by block so that a long run is passed on while it is
// still in the cache.
template <typename Sink>
void ForEachKeptRun(const char *data, std::size_t size, Sink sink) {
  constexpr std::size_t kBlock = 64 * 1024;
  if (size == 0) return;
  const char *const last = data + size - 1;
  const char *run = data;  // First byte not yet handed on.
  const char *scan = data;
  while (scan < last) {
    const char *limit = scan + std::min(kBlock, static_cast<std::size_t>(last - scan));
    const char *mark =
        static_cast<const char *>(std::memchr(scan, '_', static_cast<std::size_t>(limit - scan)));
    if (mark == nullptr) {
      sink(run, static_cast<std::size_t>(limit - run));
      run = scan = limit;
    } else if (mark[1] == '<' || mark[1] == '>') {
      sink(run, static_cast<std::size_t>(mark - run));
      run = mark + 1;
      scan = mark + 2;  // The delimiter after the '_' is not a '_'.
    } else {
      scan = mark + 1;
    }
  }
  sink(run, static_cast<std::size_t>(data + size - run));
}

}  // namespace

FlatTagReader::~FlatTagReader() = default;

bool FlatTagReader::Parse(const char *text, int /*length*/) {
  if (text == nullptr || text[0] == '\0') return false;
  Clear();

  const char *cursor = text;
  for (;;) {
    const char *open = FindUnescaped(text, cursor, '<');
    if (open == nullptr) return true;  // The only way to succeed.

    const char *open_end = FindUnescaped(text, open + 1, '>');
    if (open_end == nullptr) return false;
    const char *close = FindClosingTag(text, open_end + 1);
    if (close == nullptr) return false;
    const char *close_end = FindUnescaped(text, close + 2, '>');
    if (close_end == nullptr) return false;

    // Names are kept as they stand: no trimming, escapes included.
    std::string_view name(open + 1, static_cast<std::size_t>(open_end - open - 1));
    std::string_view closing_name(close + 2, static_cast<std::size_t>(close_end - close - 2));
    if (name != closing_name) return false;

    Store(name, open_end + 1, static_cast<std::size_t>(close - open_end - 1));
    cursor = close_end + 1;
  }
}

const char *FlatTagReader::Get(const char *name) const {
  if (name == nullptr) return nullptr;
  auto found = entries_.find(std::string_view(name));
  return found != entries_.end() ? found->second.c_str() : nullptr;
}

void FlatTagReader::Clear() { entries_.clear(); }

void FlatTagReader::Store(std::string_view name, const char *value, std::size_t value_size) {
  auto entry = entries_.lower_bound(name);
  if (entry == entries_.end() || entry->first != name) {
    entry = entries_.emplace_hint(entry, std::string(name), std::string());
  }
  // The last element of a name wins. The value is unescaped on its way in,
  // so its bytes are read and written once.
  std::string &stored = entry->second;
  stored.clear();
  stored.reserve(value_size);
  ForEachKeptRun(value, value_size,
                 [&stored](const char *run, std::size_t size) { stored.append(run, size); });
}

void FlatTagReader::Unescape(std::string *value) {
  value->resize(Unescape(&(*value)[0], value->size()));
}

std::size_t FlatTagReader::Unescape(char *data, std::size_t size) {
  // Every kept run lies at or behind the write position, so moving the runs
  // forward in order never overwrites a byte not yet moved.
  char *out = data;
  ForEachKeptRun(data, size, [&out](const char *run, std::size_t run_size) {
    if (out != run) std::memmove(out, run, run_size);
    out += run_size;
  });
  return static_cast<std::size_t>(out - data);
}

}  // namespace kel
