// The library's local helpers: base64, hex, random strings, AES.
#include <climits>
#include <memory>
#include <vector>

#include "commands.h"
#include "input.h"
#include "kel/kel.h"
#include "library.h"

namespace kel::cli {
namespace {

// The largest input the codecs take: their counts are 32-bit, and the
// base64 text of this many bytes still fits one.
constexpr std::size_t kMaxInputBytes = std::size_t{1} << 30;

const char kInputHelp[] = "Input file; - or absent: standard input";

// Reads the command's input into `data`; on failure reports and returns false.
bool ReadCommandInput(Report &report, const std::string &path, std::string *data, int *exit_code) {
  std::string error;
  if (!ReadInput(path, data, &error)) {
    *exit_code = report.Fail(kExitFailed, error);
    return false;
  }
  if (data->size() > kMaxInputBytes) {
    *exit_code = report.Fail(kExitFailed, "the input is larger than 1 GiB");
    return false;
  }
  return true;
}

std::string WithoutLineBreaks(const std::string &text) {
  std::string joined;
  for (char c : text) {
    if (c != '\r' && c != '\n') joined += c;
  }
  return joined;
}

bool IsBase64Digit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// Why `text` is not standard, padded base64, or null when it is. The library
// stops after a group that ends with '=' and skips a leading "+ ", dropping
// the rest without a word; kel refuses such input instead.
const char *NotBase64Reason(const std::string &text) {
  std::size_t padding = 0;
  for (char c : text) {
    if (c == '=') {
      ++padding;
    } else if (!IsBase64Digit(c)) {
      return "the input holds a character that is not base64";
    } else if (padding > 0) {
      return "the input goes on after the padding (=) that ends base64 text";
    }
  }
  if (text.size() % 4 != 0 || padding > 2) {
    return "the input is not base64 text: its length is not a whole number of 4-character groups";
  }
  return nullptr;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

void AddBase64(CLI::App &app, const Output &output, int *exit_code) {
  CLI::App *base64 = app.add_subcommand("base64", "Base64 text from bytes and back");
  base64->require_subcommand(1);
  base64->footer(Footer("Calls Kel_to64frombits and Kel_from64tobits.",
                        "printf 'ABC' | kel base64 encode\n  echo QUJD | kel base64 decode",
                        "0 success, 2 bad usage or input that is not base64"));

  auto encode_path = std::make_shared<std::string>();
  CLI::App *encode = base64->add_subcommand("encode", "Prints the base64 text of the input bytes");
  encode->add_option("file", *encode_path, kInputHelp);
  encode->footer(
      Footer("", "printf 'ABC' | kel base64 encode     # prints QUJD", "0 success, 2 bad usage"));
  encode->callback([encode_path, &output, exit_code] {
    Report report("base64 encode", output);
    std::string data;
    if (!ReadCommandInput(report, *encode_path, &data, exit_code)) return;
    std::vector<char> text(4 * ((data.size() + 2) / 3) + 1, '\0');
    Kel_to64frombits(text.data(), reinterpret_cast<const unsigned char *>(data.data()),
                     static_cast<int>(data.size()));
    report.Data(text.data(), true);
    *exit_code = report.Finish(kExitOk);
  });

  auto decode_path = std::make_shared<std::string>();
  CLI::App *decode =
      base64->add_subcommand("decode", "Writes the bytes of base64 input to standard output");
  decode->add_option("file", *decode_path, kInputHelp);
  decode->footer(
      Footer("Line breaks in the input are removed first, so that wrapped base64\n"
             "decodes whole. Anything else that is not standard, padded base64 (another\n"
             "character, or text after the closing =) is refused, not dropped.",
             "echo QUJD | kel base64 decode     # prints ABC",
             "0 success, 2 bad usage or input that is not base64"));
  decode->callback([decode_path, &output, exit_code] {
    Report report("base64 decode", output);
    std::string data;
    if (!ReadCommandInput(report, *decode_path, &data, exit_code)) return;
    // The library ends a text at a carriage return after a group and fails
    // on a line feed; joining the lines keeps wrapped input from being cut.
    std::string text = WithoutLineBreaks(TrimTrailingSpace(data));
    if (text.empty()) {
      report.Data("", false);
      *exit_code = report.Finish(kExitOk);
      return;
    }
    if (const char *reason = NotBase64Reason(text)) {
      *exit_code = report.Fail(kExitFailed, reason);
      return;
    }
    std::vector<unsigned char> bytes(text.size() / 4 * 3 + 3);
    int count = Kel_from64tobits(bytes.data(), text.c_str(), 0);
    if (count < 0) {
      *exit_code = report.Fail(kExitFailed, "the input is not base64 text");
      return;
    }
    report.Data(std::string(reinterpret_cast<const char *>(bytes.data()), count), false);
    *exit_code = report.Finish(kExitOk);
  });
}

void AddHex(CLI::App &app, const Output &output, int *exit_code) {
  CLI::App *hex = app.add_subcommand("hex", "Hexadecimal text from bytes and back");
  hex->require_subcommand(1);
  hex->footer(Footer("Calls Kel_BinToHex and Kel_HexToBin.",
                     "printf 'JK' | kel hex encode\n  echo 4a4b | kel hex decode",
                     "0 success, 2 bad usage or input that is not hexadecimal"));

  auto encode_path = std::make_shared<std::string>();
  CLI::App *encode = hex->add_subcommand("encode", "Prints the input bytes as lowercase hex");
  encode->add_option("file", *encode_path, kInputHelp);
  encode->footer(
      Footer("", "printf 'JK' | kel hex encode     # prints 4a4b", "0 success, 2 bad usage"));
  encode->callback([encode_path, &output, exit_code] {
    Report report("hex encode", output);
    std::string data;
    if (!ReadCommandInput(report, *encode_path, &data, exit_code)) return;
    // Zeroed: for no bytes at all the library writes nothing, not even a terminator.
    std::vector<char> text(2 * data.size() + 1, '\0');
    Kel_BinToHex(reinterpret_cast<const unsigned char *>(data.data()), text.data(),
                 static_cast<unsigned int>(data.size()));
    report.Data(text.data(), true);
    *exit_code = report.Finish(kExitOk);
  });

  auto decode_path = std::make_shared<std::string>();
  CLI::App *decode =
      hex->add_subcommand("decode", "Writes the bytes of hexadecimal input to standard output");
  decode->add_option("file", *decode_path, kInputHelp);
  decode->footer(
      Footer("White space is ignored; any other character that is not a hex digit, or\n"
             "an odd number of digits, is refused.",
             "echo 4a4b | kel hex decode     # prints JK",
             "0 success, 2 bad usage or input that is not hexadecimal"));
  decode->callback([decode_path, &output, exit_code] {
    Report report("hex decode", output);
    std::string data;
    if (!ReadCommandInput(report, *decode_path, &data, exit_code)) return;
    std::string text;
    for (char c : data) {
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
      // The library converts any pair the way strtol does; a typo would
      // silently become another byte, so refuse it here.
      if (!IsHexDigit(c)) {
        *exit_code =
            report.Fail(kExitFailed, "the input holds a character that is not a hex digit");
        return;
      }
      text += c;
    }
    if (text.size() % 2 != 0) {
      *exit_code = report.Fail(kExitFailed, "the input has an odd number of hex digits");
      return;
    }
    std::vector<unsigned char> bytes(text.size() / 2 + 1);
    Kel_HexToBin(bytes.data(), text.c_str(), static_cast<unsigned int>(text.size()));
    report.Data(std::string(reinterpret_cast<const char *>(bytes.data()), text.size() / 2), false);
    *exit_code = report.Finish(kExitOk);
  });
}

void AddRandom(CLI::App &app, const Output &output, int *exit_code) {
  CLI::App *command =
      app.add_subcommand("random", "Prints a fresh random string of 16 letters and digits");
  command->footer(Footer("Calls Kel_GetRadomString.", "kel random",
                         "0 success, 2 the library could not make one"));
  command->callback([&output, exit_code] {
    Report report("random", output);
    LibraryBuffer text(Kel_GetRadomString());
    if (text.empty()) {
      *exit_code = report.FailWithLibraryMessage(kExitFailed, LastError());
      return;
    }
    report.Data(text.text(), true);
    *exit_code = report.Finish(kExitOk);
  });
}

void AddAes(CLI::App &app, const Output &output, int *exit_code, bool encrypt) {
  struct Options {
    std::string key, key_file, path;
  };
  auto options = std::make_shared<Options>();
  const std::string name = encrypt ? "aes-encrypt" : "aes-decrypt";
  CLI::App *command =
      app.add_subcommand(name, encrypt ? "Encrypts the input under a 16, 24 or 32-byte key"
                                       : "Decrypts what aes-encrypt wrote");
  auto *key = command->add_option("--key", options->key, "The key text (16, 24 or 32 bytes)");
  auto *key_file =
      command->add_option("--key-file", options->key_file,
                          "A file holding the key (a line end at its end is not part of the key)");
  key->excludes(key_file);
  key_file->excludes(key);
  command->add_option("file", options->path, kInputHelp);
  command->footer(
      encrypt ? Footer("Calls Kel_AESEncryption and writes the binary result to standard output.",
                       "kel aes-encrypt --key 0123456789abcdef report.pdf > report.pdf.enc",
                       "0 success, 2 bad usage or a key of the wrong length")
              : Footer("Calls Kel_AESDecryption and writes the plaintext to standard output.",
                       "kel aes-decrypt --key 0123456789abcdef report.pdf.enc > report.pdf",
                       "0 success, 1 the input does not decrypt under the key, 2 bad usage"));
  command->callback([options, name, encrypt, &output, exit_code] {
    Report report(name, output);
    std::string key_text = options->key;
    if (!options->key_file.empty()) {
      std::string error;
      if (!ReadInput(options->key_file, &key_text, &error) || options->key_file == "-") {
        *exit_code = report.Fail(kExitFailed, error.empty() ? "--key-file needs a file" : error);
        return;
      }
      if (!key_text.empty() && key_text.back() == '\n') key_text.pop_back();
      if (!key_text.empty() && key_text.back() == '\r') key_text.pop_back();
    } else if (options->key.empty()) {
      *exit_code = report.Fail(kExitFailed, "give the key with --key or --key-file");
      return;
    }
    if (key_text.size() != 16 && key_text.size() != 24 && key_text.size() != 32) {
      *exit_code = report.Fail(kExitFailed, "the key must be 16, 24 or 32 bytes long, not " +
                                                std::to_string(key_text.size()));
      return;
    }
    std::string data;
    if (!ReadCommandInput(report, options->path, &data, exit_code)) return;
    int length = 0;
    auto *in = reinterpret_cast<const unsigned char *>(data.data());
    auto *key_bytes = reinterpret_cast<const unsigned char *>(key_text.data());
    LibraryBuffer result(encrypt ? Kel_AESEncryption(in, static_cast<int>(data.size()), key_bytes,
                                                     static_cast<int>(key_text.size()), &length)
                                 : Kel_AESDecryption(in, static_cast<int>(data.size()), key_bytes,
                                                     static_cast<int>(key_text.size()), &length));
    if (result.empty() || length < 0) {
      *exit_code =
          report.FailWithLibraryMessage(encrypt ? kExitFailed : kExitNegative, LastError());
      return;
    }
    report.Data(std::string(result.text(), static_cast<std::size_t>(length)), false);
    *exit_code = report.Finish(kExitOk);
  });
}

}  // namespace

void AddLocalCommands(CLI::App &app, const Output &output, int *exit_code) {
  AddBase64(app, output, exit_code);
  AddHex(app, output, exit_code);
  AddRandom(app, output, exit_code);
  AddAes(app, output, exit_code, true);
  AddAes(app, output, exit_code, false);
}

}  // namespace kel::cli
