// A whole file held in memory as a zero-terminated block.
#ifndef KEL_MODULE_KEY_FILE_BUFFER_H_
#define KEL_MODULE_KEY_FILE_BUFFER_H_

#include <cstdint>

namespace kel {

class KeyFileBuffer {
 public:
  KeyFileBuffer() = default;
  ~KeyFileBuffer() { Release(); }
  KeyFileBuffer(const KeyFileBuffer &) = delete;
  KeyFileBuffer &operator=(const KeyFileBuffer &) = delete;

  // Reads the whole file at `path`. A null or empty path changes nothing; any
  // other failure (cannot open, not a regular file, size unknown, no memory)
  // leaves the buffer empty.
  void Load(const char *path);

  // Frees the block; the buffer is empty afterwards.
  void Release();

  // Drops a UTF-8 byte-order mark at the start and white space (spaces,
  // tabs, CR, LF) at the end, as editors leave them around a key text.
  // Shortens the content; a buffer that held a file keeps one, if empty.
  void TrimKeyText();

  // The file's bytes followed by a zero byte, or null when empty. Read as a
  // text, the content ends at its first zero byte.
  const char *Data() const { return data_; }
  std::int32_t Length() const { return length_; }

 private:
  // Invariant: data_ is null exactly when the buffer is empty, and then
  // length_ is 0; otherwise data_ holds length_ + 1 bytes, the last one 0.
  char *data_ = nullptr;
  std::int32_t length_ = 0;
};

}  // namespace kel

#endif  // KEL_MODULE_KEY_FILE_BUFFER_H_
