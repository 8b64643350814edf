#include "module/key_file_buffer.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "module/module_path.h"

namespace kel {
namespace {

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};

}  // namespace

void KeyFileBuffer::Release() {
  std::free(data_);
  data_ = nullptr;
  length_ = 0;
}

void KeyFileBuffer::Load(const char *path) {
  if (path == nullptr || path[0] == '\0') return;
  Release();

  // A directory or a device opens on some systems but has no size to read,
  // and opening a pipe would wait for a writer: only regular files are
  // loaded. The narrow path goes to the platform's own calls only (on
  // Windows the ANSI ones), so folder names in the host's code page work.
  if (!IsRegularFile(path)) return;

  std::FILE *raw = std::fopen(path, "rb");
  if (raw == nullptr) return;
  std::unique_ptr<std::FILE, FileCloser> file(raw);
  // The opened file itself must be regular too: the entry may have been
  // replaced between the check and the open.
  struct stat status;
  if (fstat(fileno(raw), &status) != 0 || (status.st_mode & S_IFMT) != S_IFREG) return;

  if (std::fseek(raw, 0, SEEK_END) != 0) return;
  long size = std::ftell(raw);
  if (size < 0 || size >= std::numeric_limits<std::int32_t>::max()) return;
  if (std::fseek(raw, 0, SEEK_SET) != 0) return;

  char *block = static_cast<char *>(std::calloc(static_cast<std::size_t>(size) + 1, 1));
  if (block == nullptr) return;
  // Bytes that cannot be read stay zero, as a short file would leave them.
  // (The count is kept in a variable: a fortified build insists on it.)
  std::size_t read = std::fread(block, 1, static_cast<std::size_t>(size), raw);
  static_cast<void>(read);
  data_ = block;
  length_ = static_cast<std::int32_t>(size);
}

void KeyFileBuffer::TrimKeyText() {
  if (data_ == nullptr) return;
  static const char kByteOrderMark[] = "\xEF\xBB\xBF";
  std::size_t length = static_cast<std::size_t>(length_);
  if (length >= 3 && std::memcmp(data_, kByteOrderMark, 3) == 0) {
    std::memmove(data_, data_ + 3, length - 3);
    length -= 3;
  }
  while (length > 0 && std::strchr(" \t\r\n", data_[length - 1]) != nullptr &&
         data_[length - 1] != '\0') {
    --length;
  }
  // The freed tail is zero, so the content stays zero-terminated.
  std::memset(data_ + length, 0, static_cast<std::size_t>(length_) - length);
  length_ = static_cast<std::int32_t>(length);
}

}  // namespace kel
