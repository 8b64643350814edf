#include "terminal_text.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstdio>

namespace kel::cli {
namespace {

constexpr char kGbk[] = "GBK";
constexpr char kUtf8[] = "UTF-8";

class Iconv {
 public:
  Iconv(const std::string &to, const std::string &from)
      : handle_(iconv_open(to.c_str(), from.c_str())) {}
  ~Iconv() {
    if (ok()) iconv_close(handle_);
  }
  Iconv(const Iconv &) = delete;
  Iconv &operator=(const Iconv &) = delete;

  bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // Converts all of `in`. With `escape_invalid`, a byte that does not
  // convert is written as \xNN and conversion goes on; without, the first
  // such byte fails the conversion.
  bool Convert(const std::string &in, bool escape_invalid, std::string *out) {
    out->clear();
    std::string input = in;  // iconv's input pointer is not const on every platform
    char *next_in = input.data();
    std::size_t left_in = input.size();
    char chunk[256];
    while (left_in > 0) {
      char *next_out = chunk;
      std::size_t left_out = sizeof chunk;
      std::size_t done = iconv(handle_, &next_in, &left_in, &next_out, &left_out);
      out->append(chunk, next_out - chunk);
      if (done != static_cast<std::size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (a character cut off at the end): one byte that
      // does not belong to the source character set.
      if (!escape_invalid) return false;
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(*next_in));
      out->append(escape);
      ++next_in;
      --left_in;
      iconv(handle_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    }
    char *next_out = chunk;
    std::size_t left_out = sizeof chunk;
    iconv(handle_, nullptr, nullptr, &next_out, &left_out);  // flush a shift state
    out->append(chunk, next_out - chunk);
    return true;
  }

 private:
  iconv_t handle_;
};

std::string ConvertLeniently(const std::string &to, const std::string &from,
                             const std::string &text) {
  Iconv converter(to, from);
  std::string out;
  if (!converter.ok() || !converter.Convert(text, true, &out)) return text;
  return out;
}

}  // namespace

std::string TerminalCodeset() {
  const char *codeset = nl_langinfo(CODESET);
  std::string name = codeset != nullptr ? codeset : "";
  if (name.empty() || name == "ANSI_X3.4-1968" || name == "ASCII" || name == "US-ASCII") {
    return kUtf8;
  }
  Iconv probe(name, kGbk);
  return probe.ok() ? name : kUtf8;
}

std::string TerminalText::FromGbk(const std::string &gbk) const {
  return ConvertLeniently(codeset_ + "//TRANSLIT", kGbk, gbk);
}

std::string TerminalText::GbkToUtf8(const std::string &gbk) {
  return ConvertLeniently(kUtf8, kGbk, gbk);
}

std::string TerminalText::ToUtf8(const std::string &text) const {
  return codeset_ == kUtf8 ? text : ConvertLeniently(kUtf8, codeset_, text);
}

bool TerminalText::ToGbk(const std::string &text, std::string *gbk) const {
  Iconv converter(kGbk, codeset_);
  return converter.ok() && converter.Convert(text, false, gbk);
}

}  // namespace kel::cli
