#include "input.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kel::cli {

bool ReadInput(const std::string &path, std::string *data, std::string *error) {
  data->clear();
  if (path.empty() || path == "-") {
    char chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) data->append(chunk, got);
    if (std::ferror(stdin)) {
      *error = "cannot read standard input";
      return false;
    }
    return true;
  }
  // A file name given on the command line is in the argument character set:
  // UTF-8 on Windows, where u8path opens it by its wide name; elsewhere the
  // bytes are taken as they are.
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = "cannot read " + path;
    return false;
  }
  return true;
}

std::string TrimTrailingSpace(std::string text) {
  while (!text.empty() && text.back() != '\0' && std::strchr(" \t\r\n\f\v", text.back())) {
    text.pop_back();
  }
  return text;
}

}  // namespace kel::cli
