// A temporary folder that is removed with everything in it when the object
// goes out of scope.
#ifndef KEL_TESTS_SUPPORT_TEMP_DIR_H_
#define KEL_TESTS_SUPPORT_TEMP_DIR_H_

#include <filesystem>
#include <string>

namespace kel::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::filesystem::path &path() const { return path_; }
  std::filesystem::path operator/(const std::string &name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Writes `content` to `path`, replacing the file.
void WriteFile(const std::filesystem::path &path, const std::string &content);

// The whole file, or an empty text when it cannot be read.
std::string ReadFile(const std::filesystem::path &path);

}  // namespace kel::test

#endif  // KEL_TESTS_SUPPORT_TEMP_DIR_H_
