#include "text_encoding.h"

#include <errno.h>
#include <iconv.h>

namespace kel::server {
namespace {

// One iconv conversion; every call converts a whole text from a fresh state.
class Converter {
 public:
  Converter(const char *to, const char *from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (Ready()) iconv_close(cd_);
  }
  Converter(const Converter &) = delete;
  Converter &operator=(const Converter &) = delete;

  // Appends the converted text to `out`; false on input that is invalid or
  // cannot be written in the target encoding (then `out` is unchanged).
  bool Convert(const char *data, std::size_t size, std::string *out) {
    if (!Ready()) return false;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string converted;
    char *in = const_cast<char *>(data);
    std::size_t in_left = size;
    char buffer[512];
    while (in_left > 0) {
      char *next = buffer;
      std::size_t room = sizeof buffer;
      std::size_t result = iconv(cd_, &in, &in_left, &next, &room);
      converted.append(buffer, static_cast<std::size_t>(next - buffer));
      if (result == static_cast<std::size_t>(-1) && errno != E2BIG) return false;
    }
    out->append(converted);
    return true;
  }

 private:
  bool Ready() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t cd_;
};

// `byte` as \xHH.
void AppendHexEscape(unsigned char byte, std::string *out) {
  static const char kHex[] = "0123456789ABCDEF";
  *out += "\\x";
  *out += kHex[byte >> 4];
  *out += kHex[byte & 15];
}

bool IsGbkLead(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }
bool IsGbkTrail(unsigned char byte) { return byte >= 0x40 && byte <= 0xFE && byte != 0x7F; }

}  // namespace

const char *EncodingName(TextEncoding encoding) {
  return encoding == TextEncoding::kGbk ? "gbk" : "utf-8";
}

bool ParseEncoding(const std::string &name, TextEncoding *encoding) {
  if (name == "utf-8") {
    *encoding = TextEncoding::kUtf8;
  } else if (name == "gbk") {
    *encoding = TextEncoding::kGbk;
  } else {
    return false;
  }
  return true;
}

bool ToGbk(const std::string &text, TextEncoding from, std::string *gbk) {
  if (from == TextEncoding::kGbk) {
    *gbk = text;
    return true;
  }
  std::string converted;
  if (!Converter("GBK", "UTF-8").Convert(text.data(), text.size(), &converted)) return false;
  *gbk = std::move(converted);
  return true;
}

std::string FieldFromGbk(const std::string &gbk, TextEncoding to) {
  Converter to_utf8("UTF-8", "GBK");
  std::string field;
  for (std::size_t i = 0; i < gbk.size();) {
    unsigned char byte = static_cast<unsigned char>(gbk[i]);
    if (byte < 0x80) {
      switch (byte) {
        case '\t':
          field += "\\t";
          break;
        case '\n':
          field += "\\n";
          break;
        case '\r':
          field += "\\r";
          break;
        case '\\':
          field += "\\\\";
          break;
        default:
          // Other control bytes would reach the terminal of whoever reads
          // the log (an escape sequence, a bell).
          if (byte < 0x20 || byte == 0x7F) {
            AppendHexEscape(byte, &field);
          } else {
            field += static_cast<char>(byte);
          }
      }
      ++i;
      continue;
    }
    bool pair =
        IsGbkLead(byte) && i + 1 < gbk.size() && IsGbkTrail(static_cast<unsigned char>(gbk[i + 1]));
    if (pair && to == TextEncoding::kGbk) {
      field.append(gbk, i, 2);
      i += 2;
      continue;
    }
    if (pair && to_utf8.Convert(gbk.data() + i, 2, &field)) {
      i += 2;
      continue;
    }
    if (to == TextEncoding::kGbk) {
      field += static_cast<char>(byte);
    } else {
      AppendHexEscape(byte, &field);
    }
    ++i;
  }
  return field;
}

bool IsUtf8(const std::string &text) {
  for (std::size_t i = 0; i < text.size();) {
    unsigned char byte = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    unsigned long code = 0;
    unsigned long smallest = 0;
    if (byte < 0x80) {
      ++i;
      continue;
    } else if ((byte & 0xE0) == 0xC0) {
      extra = 1, code = byte & 0x1F, smallest = 0x80;
    } else if ((byte & 0xF0) == 0xE0) {
      extra = 2, code = byte & 0x0F, smallest = 0x800;
    } else if ((byte & 0xF8) == 0xF0) {
      extra = 3, code = byte & 0x07, smallest = 0x10000;
    } else {
      return false;
    }
    if (text.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are invalid.
    if (code < smallest || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return false;
    i += extra + 1;
  }
  return true;
}

}  // namespace kel::server
