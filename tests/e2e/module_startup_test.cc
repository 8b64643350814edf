// Start-up of a loaded library: which pubkey.key becomes the server key.
// Each case copies the library into a fresh folder (a copy at another path is
// a separate module with fresh state) and loads it in a child process whose
// current directory the case controls.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using kel::test::RunChild;
using kel::test::TempDir;
using kel::test::WriteFile;

namespace {

std::string Hex(const std::string &bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// What the probe prints for a key of `length` bytes whose text is `text`.
std::string Loaded(int length, const std::string &text) {
  return "loaded " + std::to_string(length) + " " + Hex(text) + "\n";
}
const std::string kNoKey = "loaded null\n";

// Copies the test build of the library, and the libraries it needs beside
// itself, into `folder`; returns the copy's path.
fs::path CopyLibraryInto(const fs::path &folder) {
  fs::path original = KEL_TESTING_LIBRARY;
  fs::create_directories(folder);
  for (const auto &entry : fs::directory_iterator(original.parent_path())) {
    std::string name = entry.path().filename().string();
    if (name.rfind("libkestro", 0) == 0) {
      fs::copy_file(entry.path(), folder / name, fs::copy_options::overwrite_existing);
    }
  }
  fs::path copy = folder / original.filename();
  fs::copy_file(original, copy, fs::copy_options::overwrite_existing);
  return copy;
}

std::string LoadIn(const fs::path &library, const fs::path &working_dir) {
  auto result = RunChild(KEL_MODULE_PROBE, {library.string()}, working_dir);
  EXPECT_EQ(result.exit_code, 0) << "the library failed to load";
  return result.output;
}

struct Layout {
  const char *name;
  const char *beside;     // content of pubkey.key beside the library, or null
  bool beside_is_folder;  // a folder named pubkey.key beside the library
  const char *in_cwd;     // content of pubkey.key in the current directory, or null
  std::string expected;
};

class ModuleStartup : public ::testing::TestWithParam<Layout> {};

TEST_P(ModuleStartup, LoadsTheExpectedKey) {
  const Layout &layout = GetParam();
  TempDir root;
  fs::path library = CopyLibraryInto(root / "lib");
  fs::path cwd = root / "cwd";
  fs::create_directories(cwd);
  if (layout.beside) WriteFile(root / "lib" / "pubkey.key", layout.beside);
  if (layout.beside_is_folder) fs::create_directory(root / "lib" / "pubkey.key");
  if (layout.in_cwd) WriteFile(cwd / "pubkey.key", layout.in_cwd);

  EXPECT_EQ(LoadIn(library, cwd), layout.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ModuleStartup,
    ::testing::Values(
        Layout{"BesideOnly", "beside-key", false, nullptr, Loaded(10, "beside-key")},
        Layout{"CurrentDirOnly", nullptr, false, "cwd-key", Loaded(7, "cwd-key")},
        Layout{"BesideWinsOverCurrentDir", "beside-key", false, "cwd-key",
               Loaded(10, "beside-key")},
        Layout{"FolderBesideIsPassedOver", nullptr, true, "cwd-key", Loaded(7, "cwd-key")},
        Layout{"FolderBesideAndNoOtherFile", nullptr, true, nullptr, kNoKey},
        Layout{"NoFileAnywhere", nullptr, false, nullptr, kNoKey},
        Layout{"EmptyFileGivesEmptyText", "", false, "cwd-key", Loaded(0, "")},
        // Editors leave a byte-order mark and line ends around the key.
        Layout{"TrailingWhiteSpaceIsDropped", "beside-key\r\n \t\n", false, nullptr,
               Loaded(10, "beside-key")},
        Layout{"ByteOrderMarkIsDropped",
               "\xEF\xBB\xBF"
               "beside-key\n",
               false, nullptr, Loaded(10, "beside-key")},
        Layout{"OnlyWhiteSpaceGivesEmptyText", " \r\n", false, "cwd-key", Loaded(0, "")}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ModuleStartup, ZeroByteInsideKeepsAllBytesButTheTextEndsThere) {
  TempDir root;
  fs::path library = CopyLibraryInto(root.path());
  WriteFile(root / "pubkey.key", std::string("ab\0cd", 5));
  EXPECT_EQ(LoadIn(library, root.path()), Loaded(5, "ab"));
}

// Paths of any length the system can open: no 260-byte limit here.
TEST(ModuleStartup, LibraryInADeepFolderFindsTheKeyBesideIt) {
  TempDir root;
  fs::path deep = root.path();
  while (deep.string().size() < 600) deep /= std::string(40, 'd');
  fs::path library = CopyLibraryInto(deep);
  WriteFile(deep / "pubkey.key", "deep-key");
  fs::path cwd = root / "cwd";
  fs::create_directories(cwd);
  WriteFile(cwd / "pubkey.key", "cwd-key");
  EXPECT_EQ(LoadIn(library, cwd), Loaded(8, "deep-key"));
}

// The key belongs beside the name the host loaded: a link is not followed,
// and a relative name counts from the directory current at load time.
TEST(ModuleStartup, KeyIsFoundBesideTheLoadedNameNotItsTarget) {
  TempDir root;
  fs::path library = CopyLibraryInto(root / "real");
  WriteFile(root / "real" / "pubkey.key", "target-key");
  fs::create_directories(root / "linked");
  fs::create_symlink(library, root / "linked" / library.filename());
  WriteFile(root / "linked" / "pubkey.key", "link-key");
  fs::path cwd = root / "cwd";
  fs::create_directories(cwd);

  EXPECT_EQ(LoadIn(root / "linked" / library.filename(), cwd), Loaded(8, "link-key"));
  auto relative =
      RunChild(KEL_MODULE_PROBE, {"linked/" + library.filename().string()}, root.path());
  EXPECT_EQ(relative.output, Loaded(8, "link-key"));
}

}  // namespace
