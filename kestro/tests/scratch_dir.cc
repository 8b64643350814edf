#include "scratch_dir.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kestro {

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestro-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::Path(const std::string &name) const { return path_ + "/" + name; }

void ScratchDir::Write(const std::string &name, const std::string &content) const {
  std::ofstream(Path(name), std::ios::binary) << content;
}

void ScratchDir::Write(const std::string &name, const Bytes &content) const {
  Write(name, std::string(content.begin(), content.end()));
}

std::string ScratchDir::Read(const std::string &name) const {
  std::ifstream in(Path(name), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool ScratchDir::Run(const std::string &command) const {
  std::string line = "cd '" + path_ + "' && " + command + " 2>stderr.txt";
  return std::system(line.c_str()) == 0;
}

}  // namespace kestro
