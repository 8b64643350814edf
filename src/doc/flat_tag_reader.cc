#include "doc/flat_tag_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

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

// The '<' of the first unescaped "</" in [from, limit), or null. The byte
// after `limit - 1` must be readable: it is the terminating zero or part of
// the text.
const char *FindClosingTagBefore(const char *text, const char *from, const char *limit) {
  while (from < limit) {
    const auto *found =
        static_cast<const char *>(std::memchr(from, '<', static_cast<std::size_t>(limit - from)));
    if (found == nullptr) return nullptr;
    if (found[1] == '/' && !IsEscaped(text, found)) return found;
    from = found + 1;
  }
  return nullptr;
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

// One element "<name>value</name>" as it stands in the text: the name with
// its escapes, the value before unescaping.
struct Element {
  const char *name;
  std::size_t name_size;
  const char *value;
  std::size_t value_size;
  const char *end;  // Just behind the closing tag.
};

enum class Step { kElement, kEnd, kFault };

// The first element at or after `cursor`. kEnd when no unescaped '<' is
// left (the only way for a text to end well); kFault when the element that
// such a '<' opens is not closed, or closed under another name.
Step NextElement(const char *text, const char *cursor, Element *element) {
  const char *open = FindUnescaped(text, cursor, '<');
  if (open == nullptr) return Step::kEnd;
  const char *open_end = FindUnescaped(text, open + 1, '>');
  if (open_end == nullptr) return Step::kFault;
  const char *close = FindClosingTag(text, open_end + 1);
  if (close == nullptr) return Step::kFault;
  const char *close_end = FindUnescaped(text, close + 2, '>');
  if (close_end == nullptr) return Step::kFault;

  // Names are kept as they stand: no trimming, escapes included.
  const auto name_size = static_cast<std::size_t>(open_end - open - 1);
  if (static_cast<std::size_t>(close_end - close - 2) != name_size ||
      std::memcmp(open + 1, close + 2, name_size) != 0) {
    return Step::kFault;
  }
  *element = {open + 1, name_size, open_end + 1, static_cast<std::size_t>(close - open_end - 1),
              close_end + 1};
  return Step::kElement;
}

// The one-pass read goes through a value in pieces of this size: each piece
// is searched for the closing tag and copied while it is still in the cache.
constexpr std::size_t kPiece = 32 * 1024;

enum class Copy { kElement, kEnd, kFault, kNoRoom };

// Like NextElement, and copies the element as it goes: its name and its
// unescaped value, each followed by a zero, to [out, out_end). kNoRoom when
// they do not fit, with the bytes written so far of no use. On kElement,
// `*end` is just behind the closing tag and `*written` the bytes written.
Copy CopyNextElement(const char *text, const char *cursor, char *out, char *out_end,
                     const char **end, std::size_t *written) {
  const char *open = FindUnescaped(text, cursor, '<');
  if (open == nullptr) return Copy::kEnd;
  const char *open_end = FindUnescaped(text, open + 1, '>');
  if (open_end == nullptr) return Copy::kFault;
  const auto name_size = static_cast<std::size_t>(open_end - open - 1);
  // The name and two zeros; the value's room is checked piece by piece.
  if (name_size + 2 > static_cast<std::size_t>(out_end - out)) return Copy::kNoRoom;
  char *const start = out;
  std::memcpy(out, open + 1, name_size);
  out += name_size;
  *out++ = '\0';

  const char *piece = open_end + 1;
  const char *close = nullptr;
  while (close == nullptr) {
    // memchr stops at the zero it finds: nothing past the text is read.
    const auto *zero = static_cast<const char *>(std::memchr(piece, '\0', kPiece));
    const char *limit = zero != nullptr ? zero : piece + kPiece;
    close = FindClosingTagBefore(text, piece, limit);
    const char *copied = close;
    if (close == nullptr) {
      if (zero != nullptr) return Copy::kFault;  // The text ends inside the value.
      // A '_' is kept or dropped by the byte after it, which the next piece
      // holds. The piece is longer than one byte, so the read moves on.
      copied = limit[-1] == '_' ? limit - 1 : limit;
    }
    // The closing tag's '<' is unescaped: the piece that it ends does not end
    // in '_', so no '_' is cut from the byte that decides it.
    const auto size = static_cast<std::size_t>(copied - piece);
    if (size + 1 > static_cast<std::size_t>(out_end - out)) return Copy::kNoRoom;
    ForEachKeptRun(piece, size, [&out](const char *run, std::size_t run_size) {
      std::memcpy(out, run, run_size);
      out += run_size;
    });
    piece = copied;
  }
  *out++ = '\0';

  const char *close_end = FindUnescaped(text, close + 2, '>');
  if (close_end == nullptr || static_cast<std::size_t>(close_end - close - 2) != name_size ||
      std::memcmp(open + 1, close + 2, name_size) != 0) {
    return Copy::kFault;
  }
  *end = close_end + 1;
  *written = static_cast<std::size_t>(out - start);
  return Copy::kElement;
}

// Stored names and values are found through 32-bit offsets.
constexpr std::size_t kMaxStorage = std::numeric_limits<std::uint32_t>::max();

// The elements that the first pass keeps for the second, so that a document
// with few elements is scanned once; the rest are found again.
constexpr std::size_t kRememberedElements = 16;

// The elements read in one pass; a document with more reads the rest in two.
constexpr std::size_t kOnePassElements = 64;

}  // namespace

FlatTagReader::~FlatTagReader() = default;

void FlatTagReader::ResizeBlock(std::size_t size) {
  // A block of exactly `size` bytes; the one it replaces is wiped as it goes.
  // The index holds offsets, so the block may move.
  SecretText resized;
  if (size != 0) {
    resized.reserve(size);
    resized.assign(block_, 0, std::min(block_.size(), size));
    resized.resize(size);
  }
  block_.swap(resized);
}

// With the caller's length, the text is read once: each element is found
// and copied into a block of that size, piece by piece, so that a large
// value is copied while it is still in the cache; the block is trimmed to
// what the elements took at the end. A document with more elements than
// kOnePassElements, or a length that turns out too short, reads the rest in
// two passes that keep the memory at what the elements need whatever the
// shape of the text: the first finds the elements and adds up their count
// and size, the second copies each name and unescaped value into the block
// grown or trimmed to exactly that size, and notes where each name starts.
// An entry per element in a node-based map would cost many times a tiny
// element's own size.
bool FlatTagReader::Parse(const char *text, int length) {
  if (text == nullptr || text[0] == '\0') return false;
  Clear();

  const char *cursor = text;
  std::size_t used = 0;  // Bytes of the block taken by the elements read.
  if (length > 0) {
    // At most 2 GiB: the offsets fit.
    const std::size_t capacity = static_cast<std::size_t>(length) + 1;
    ResizeBlock(capacity);
    index_.reserve(kOnePassElements);
    while (index_.size() < kOnePassElements) {
      const char *end = nullptr;
      std::size_t written = 0;
      Copy step =
          CopyNextElement(text, cursor, &block_[0] + used, &block_[0] + capacity, &end, &written);
      if (step == Copy::kNoRoom) break;
      if (step != Copy::kElement) {
        ResizeBlock(used);
        return Index(step == Copy::kEnd);
      }
      index_.push_back(static_cast<std::uint32_t>(used));
      used += written;
      cursor = end;
    }
  }

  Element remembered[kRememberedElements];
  std::size_t count = 0;
  std::size_t storage = used;
  Step step;
  Element element;
  for (const char *from = cursor;; from = element.end) {
    step = NextElement(text, from, &element);
    if (step != Step::kElement) break;
    // The name and the value with their terminating zeros: never more than
    // the element's text, so the block stays within the text's size.
    std::size_t size = element.name_size + element.value_size + 2;
    if (size > kMaxStorage - storage) {
      step = Step::kFault;
      break;
    }
    storage += size;
    if (count < kRememberedElements) remembered[count] = element;
    ++count;
  }
  // Trimmed before the index grows, so that the two never peak together.
  ResizeBlock(storage);
  if (count == 0) return Index(step == Step::kEnd);

  index_.reserve(index_.size() + count);
  char *const block = &block_[0];
  char *out = block + used;
  for (std::size_t i = 0; i < count; ++i) {
    if (i < kRememberedElements) {
      element = remembered[i];
    } else {
      NextElement(text, cursor, &element);  // Found by the first pass already.
    }
    cursor = element.end;
    index_.push_back(static_cast<std::uint32_t>(out - block));
    std::memcpy(out, element.name, element.name_size);
    out += element.name_size;
    *out++ = '\0';
    // The value is unescaped on its way in, so its bytes are read and
    // written once.
    ForEachKeptRun(element.value, element.value_size, [&out](const char *run, std::size_t size) {
      std::memcpy(out, run, size);
      out += size;
    });
    *out++ = '\0';
  }
  return Index(step == Step::kEnd);
}

bool FlatTagReader::Index(bool result) {
  // Sorted by name and, within a name, by position; then only the last
  // element of each name is kept: the last one wins. Names hold no zero
  // byte, and strcmp compares bytes as unsigned, so names compare byte-wise.
  // Documents whose names already rise strictly, as most do, skip both.
  const char *block = block_.data();
  auto not_rising = [block](std::uint32_t a, std::uint32_t b) {
    return std::strcmp(block + a, block + b) >= 0;
  };
  if (std::adjacent_find(index_.begin(), index_.end(), not_rising) == index_.end()) {
    return result;
  }
  std::sort(index_.begin(), index_.end(), [block](std::uint32_t a, std::uint32_t b) {
    int order = std::strcmp(block + a, block + b);
    return order != 0 ? order < 0 : a < b;
  });
  auto kept = index_.begin();
  for (auto entry = index_.begin(); entry != index_.end(); ++entry) {
    auto next = entry + 1;
    if (next != index_.end() && std::strcmp(block + *entry, block + *next) == 0) continue;
    *kept++ = *entry;
  }
  index_.erase(kept, index_.end());
  return result;
}

const char *FlatTagReader::Get(const char *name) const {
  if (name == nullptr || index_.empty()) return nullptr;
  const char *block = block_.data();
  auto found = std::lower_bound(index_.begin(), index_.end(), name,
                                [block](std::uint32_t entry, const char *wanted) {
                                  return std::strcmp(block + entry, wanted) < 0;
                                });
  if (found == index_.end() || std::strcmp(block + *found, name) != 0) return nullptr;
  const char *stored = block + *found;
  return stored + std::strlen(stored) + 1;  // The value follows its name.
}

void FlatTagReader::Clear() {
  std::vector<std::uint32_t>().swap(index_);
  SecretText().swap(block_);
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
