// Small helpers over the library's exports: buffers the library hands out,
// the last-error text, and what its fixed messages mean.
#ifndef KEL_TOOLS_KEL_LIBRARY_H_
#define KEL_TOOLS_KEL_LIBRARY_H_

#include <string>

namespace kel::cli {

// Owns one buffer that the library handed out and releases it with
// Kel_ReleaseBuf.
class LibraryBuffer {
 public:
  LibraryBuffer() = default;
  explicit LibraryBuffer(void *buffer) : buffer_(buffer) {}
  ~LibraryBuffer();
  LibraryBuffer(const LibraryBuffer &) = delete;
  LibraryBuffer &operator=(const LibraryBuffer &) = delete;

  // For out-parameters of type char **.
  char **out() { return reinterpret_cast<char **>(&buffer_); }

  bool empty() const { return buffer_ == nullptr; }
  const char *text() const { return static_cast<const char *>(buffer_); }
  const unsigned char *bytes() const { return static_cast<const unsigned char *>(buffer_); }

 private:
  void *buffer_ = nullptr;
};

// The library's last-error text (GBK bytes).
std::string LastError();

// The English meaning of one of the library's fixed messages, or null for
// any other text (a server's description, for example).
const char *MessageMeaning(const std::string &gbk);

// True for the message that says no server key was loaded.
bool IsNoPublicKeyMessage(const std::string &gbk);

}  // namespace kel::cli

#endif  // KEL_TOOLS_KEL_LIBRARY_H_
