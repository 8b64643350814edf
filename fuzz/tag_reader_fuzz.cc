// The tag-value reader on arbitrary documents, with lookups of the names the
// exchange uses and of a name taken from the input itself.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "doc/tag_reader_handle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  kel::TagReaderHandle reader;
  if (!reader.Parse(text.c_str(), static_cast<int>(text.size()))) return 0;
  for (const char *name : {"data", "sign", "order", "status", "desc", "date", "content", ""}) {
    if (const char *value = reader.Get(name)) (void)std::strlen(value);
  }
  // The input's first line as a name: names with escapes and odd bytes.
  std::string name = text.substr(0, text.find('\n'));
  if (const char *value = reader.Get(name.c_str())) (void)std::strlen(value);
  return 0;
}
