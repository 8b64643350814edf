#include "library.h"

#include <cstring>

#include "kel/kel.h"

namespace kel::cli {
namespace {

struct KnownMessage {
  const char *gbk;
  const char *meaning;
};

// The library's fixed messages, as GBK bytes (escaped, so that they do not
// depend on the encoding of this file), with what they say.
constexpr char kNoPublicKey[] = "\xC3\xBB\xD3\xD0\xB9\xAB\xD4\xBF\xCA\xFD\xBE\xDD\xA3\xA1";

constexpr KnownMessage kMessages[] = {
    {"\xC9\xFA\xB3\xC9\xCB\xE6\xBB\xFA\xCA\xFD\xD2\xEC\xB3\xA3",
     "the random string could not be generated"},
    {"\xBC\xD3\xC3\xDC\xB3\xF6\xCF\xD6\xD2\xEC\xB3\xA3\xB4\xED\xCE\xF3", "encryption failed"},
    {"\xBD\xE2\xC3\xDC\xB3\xF6\xCF\xD6\xD2\xEC\xB3\xA3", "decryption failed"},
    {"\xCE\xDE\xB7\xA8\xC1\xAC\xBD\xD3\xB7\xFE\xCE\xF1\xC6\xF7\xA3\xA1",
     "the server cannot be reached"},
    {"\xB7\xFE\xCE\xF1\xC6\xF7\xB4\xAB\xBB\xD8\xB5\xC4\xCA\xFD\xBE\xDD\xB8\xF1\xCA\xBD\xB2\xBB\xBA"
     "\xCF\xB7\xA8",
     "the server's answer is not in a valid format"},
    {"\xBD\xE2\xC3\xDC\xB7\xFE\xCE\xF1\xC6\xF7\xB4\xAB\xBB\xD8\xB5\xC4\xCA\xFD\xBE\xDD\xCA\xA7\xB0"
     "\xDC",
     "the server's answer could not be decrypted"},
    {"\xD1\xE9\xD6\xA4\xB7\xFE\xCE\xF1\xC6\xF7\xB4\xAB\xBB\xD8\xB5\xC4\xCA\xFD\xBE\xDD\xB2\xBB\xD5"
     "\xFD\xC8\xB7",
     "the server's answer did not verify"},
    {"\xD1\xE9\xD6\xA4\xB7\xFE\xCE\xF1\xC6\xF7\xB4\xAB\xBB\xD8\xB5\xC4\xCA\xFD\xBE\xDD\xB3\xF6\xCF"
     "\xD6\xD2\xEC\xB3\xA3\xB4\xED\xCE\xF3",
     "verifying the server's answer raised an error"},
    {kNoPublicKey, "no server key was loaded"},
    {"\xB2\xCE\xCA\xFD\xB4\xED\xCE\xF3", "wrong argument"},
    {"\xC1\xAC\xBD\xD3\xB7\xFE\xCE\xF1\xC6\xF7\xCA\xA7\xB0\xDC", "the server transaction failed"},
    {"\xCA\xB1\xBC\xE4\xB4\xC1\xCE\xDE\xD0\xA7", "the timestamp is not valid"},
    {"\xD1\xE9\xD6\xA4\xCA\xB1\xBC\xE4\xB4\xC1\xCA\xB1\xB3\xF6\xCF\xD6\xD2\xEC\xB3\xA3\xB4\xED\xCE"
     "\xF3",
     "verifying the timestamp raised an error"},
};

}  // namespace

LibraryBuffer::~LibraryBuffer() { Kel_ReleaseBuf(buffer_); }

std::string LastError() {
  LibraryBuffer text(Kel_GetLastErr());
  return text.empty() ? std::string() : std::string(text.text());
}

const char *MessageMeaning(const std::string &gbk) {
  for (const auto &message : kMessages) {
    if (gbk == message.gbk) return message.meaning;
  }
  return nullptr;
}

bool IsNoPublicKeyMessage(const std::string &gbk) { return gbk == kNoPublicKey; }

}  // namespace kel::cli
