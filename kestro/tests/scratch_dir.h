// A temporary folder for tests that exchange files with the openssl tool.
#ifndef KESTRO_TESTS_SCRATCH_DIR_H_
#define KESTRO_TESTS_SCRATCH_DIR_H_

#include <string>

#include "bytes.h"

namespace kestro {

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;

  // The full path of `name` inside the folder.
  std::string Path(const std::string &name) const;

  void Write(const std::string &name, const std::string &content) const;
  void Write(const std::string &name, const Bytes &content) const;
  std::string Read(const std::string &name) const;

  // Runs a shell command inside the folder, its output to files of the
  // folder; returns true when it exits with status 0.
  bool Run(const std::string &command) const;

 private:
  std::string path_;
};

}  // namespace kestro

#endif  // KESTRO_TESTS_SCRATCH_DIR_H_
