#include "library.h"

#include <cstring>

#include "kel/kel.h"
#include "kel/kel_messages.h"

namespace kel::cli {
namespace {

struct KnownMessage {
  const char *gbk;
  const char *meaning;
};

#define KEL_CLI_MESSAGE_ROW(id, bytes, meaning, reported_by) {bytes, meaning},
constexpr KnownMessage kMessages[] = {KEL_MESSAGE_TABLE(KEL_CLI_MESSAGE_ROW)};
#undef KEL_CLI_MESSAGE_ROW

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

bool IsNoPublicKeyMessage(const std::string &gbk) { return gbk == KEL_MSG_NO_PUBLIC_KEY; }

}  // namespace kel::cli
