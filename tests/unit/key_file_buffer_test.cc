// Reading a whole file, and finding a file beside a module.
#include "module/key_file_buffer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "module/module_path.h"
#include "support/temp_dir.h"

namespace {

using kel::KeyFileBuffer;
using kel::test::TempDir;
using kel::test::WriteFile;

TEST(KeyFileBuffer, StartsEmpty) {
  KeyFileBuffer buffer;
  EXPECT_EQ(buffer.Data(), nullptr);
  EXPECT_EQ(buffer.Length(), 0);
}

TEST(KeyFileBuffer, HoldsEveryByteAndATerminator) {
  TempDir dir;
  const std::string content("key\0text\r\n", 10);
  WriteFile(dir / "key", content);
  KeyFileBuffer buffer;
  buffer.Load((dir / "key").c_str());
  ASSERT_NE(buffer.Data(), nullptr);
  ASSERT_EQ(buffer.Length(), 10);
  EXPECT_EQ(std::memcmp(buffer.Data(), content.data(), 10), 0);
  EXPECT_EQ(buffer.Data()[10], '\0');
  EXPECT_STREQ(buffer.Data(), "key");
}

TEST(KeyFileBuffer, EmptyFileGivesAnEmptyTextNotNull) {
  TempDir dir;
  WriteFile(dir / "key", "");
  KeyFileBuffer buffer;
  buffer.Load((dir / "key").c_str());
  ASSERT_NE(buffer.Data(), nullptr);
  EXPECT_STREQ(buffer.Data(), "");
  EXPECT_EQ(buffer.Length(), 0);
}

TEST(KeyFileBuffer, NullOrEmptyPathKeepsWhatItHeld) {
  TempDir dir;
  WriteFile(dir / "key", "held");
  KeyFileBuffer buffer;
  buffer.Load((dir / "key").c_str());
  buffer.Load(nullptr);
  EXPECT_STREQ(buffer.Data(), "held");
  buffer.Load("");
  EXPECT_STREQ(buffer.Data(), "held");
}

TEST(KeyFileBuffer, UnreadablePathsEmptyIt) {
  TempDir dir;
  WriteFile(dir / "key", "held");
  std::filesystem::create_directory(dir / "folder");
  // Opening a pipe would wait for a writer for ever.
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  for (const std::string &path :
       {(dir / "missing").string(), (dir / "folder").string(), (dir / "pipe").string(),
        std::string("/dev/null"), std::string("/dev/null/x")}) {
    KeyFileBuffer buffer;
    buffer.Load((dir / "key").c_str());
    buffer.Load(path.c_str());
    EXPECT_EQ(buffer.Data(), nullptr) << path;
    EXPECT_EQ(buffer.Length(), 0) << path;
  }
}

TEST(KeyFileBuffer, ReleaseEmptiesAndIsHarmlessTwice) {
  TempDir dir;
  WriteFile(dir / "key", "held");
  KeyFileBuffer buffer;
  buffer.Load((dir / "key").c_str());
  buffer.Release();
  buffer.Release();
  EXPECT_EQ(buffer.Data(), nullptr);
}

TEST(GetModuleFilePath, NullModuleLeavesTheBufferAlone) {
  char buffer[16] = "untouched";
  EXPECT_FALSE(kel::GetModuleFilePath(nullptr, "pubkey.key", buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "untouched");
}

TEST(GetModuleFilePath, JoinsTheModuleFolderAndTheName) {
  char module_path[4096];
  ASSERT_TRUE(kel::ModuleFileName(kel::OwnModule(), module_path, sizeof module_path));
  std::string expected = module_path;
  expected = expected.substr(0, expected.rfind(kel::kPathSeparator) + 1) + "pubkey.key";

  char buffer[4096];
  ASSERT_TRUE(kel::GetModuleFilePath(kel::OwnModule(), "pubkey.key", buffer, sizeof buffer));
  EXPECT_EQ(std::string(buffer), expected);

  // The joined path must leave room for its terminator.
  std::size_t folder_length = expected.size() - std::strlen("pubkey.key");
  std::string fits(sizeof buffer - 1 - folder_length, 'n');
  EXPECT_TRUE(kel::GetModuleFilePath(kel::OwnModule(), fits.c_str(), buffer, sizeof buffer));
  std::string too_long = fits + "n";
  EXPECT_FALSE(kel::GetModuleFilePath(kel::OwnModule(), too_long.c_str(), buffer, sizeof buffer));
  EXPECT_EQ(std::string(buffer), expected.substr(0, folder_length));
}

TEST(FileExists, TellsFilesFromFoldersAndMissingPaths) {
  TempDir dir;
  WriteFile(dir / "file", "x");
  EXPECT_TRUE(kel::FileExists((dir / "file").c_str()));
  EXPECT_FALSE(kel::FileExists(dir.path().c_str()));
  EXPECT_FALSE(kel::FileExists((dir / "missing").c_str()));
}

}  // namespace
