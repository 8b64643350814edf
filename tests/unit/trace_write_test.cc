// Writing the trace: a line goes out whole or not at all, and never waits
// for the trace's reader.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "api/trace.h"
#include "support/temp_dir.h"

namespace kel::trace {
namespace {

class TraceWrite : public ::testing::Test {
 protected:
  void TearDown() override { Start(nullptr); }

  // Writes a line whose last field is `marker`.
  static void WriteLine(const std::string &marker) {
    Line line("event");
    line.Add("marker", marker);
    line.Write();
  }

  test::TempDir dir_;
};

// A FIFO whose reader has stopped reading fills up; the calls that trace go
// on at once, and the first line that gets through later says how many
// lines were lost.
TEST_F(TraceWrite, AFullFifoDropsLinesAndNeverWaits) {
  std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  Start(fifo.c_str());
  const int kLines = 2000;  // far more than the pipe holds
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kLines; ++i) WriteLine(std::string(100, 'x'));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

  std::string drained;
  char buffer[65536];
  for (ssize_t got; (got = read(reader, buffer, sizeof buffer)) > 0;) drained.append(buffer, got);
  int written = 0;
  for (char c : drained) written += c == '\n';
  EXPECT_GT(written, 0);
  EXPECT_LT(written, kLines);
  EXPECT_EQ(drained.back(), '\n') << "only whole lines";

  WriteLine("after");
  ssize_t got = read(reader, buffer, sizeof buffer);
  ASSERT_GT(got, 0);
  std::string next(buffer, static_cast<std::size_t>(got));
  EXPECT_NE(next.find(" dropped=" + std::to_string(kLines - written) + "\n"), std::string::npos)
      << next;
  close(reader);
}

// A disk that fills up in the middle of a line: the part is taken back, so
// the file holds whole lines only and the next line starts a line of its own.
TEST_F(TraceWrite, ALineCutShortByAFullDiskIsTakenBack) {
  std::string path = (dir_ / "trace").string();
  Start(path.c_str());
  WriteLine("first");
  struct stat status {};
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  // In a child: a file size limit just past the first line stands for a
  // full disk.
  pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{static_cast<rlim_t>(status.st_size + 20), RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &limit);
    WriteLine("second");
    _exit(0);
  }
  int child_status = 0;
  ASSERT_EQ(waitpid(child, &child_status, 0), child);
  WriteLine("third");
  std::string text = test::ReadFile(path);
  EXPECT_EQ(text.find("second"), std::string::npos) << text;
  EXPECT_NE(text.find("marker=first\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n20"), std::string::npos) << "the third line starts a line: " << text;
  EXPECT_NE(text.find("marker=third\n"), std::string::npos) << text;
}

// The trace's path is not followed when it is a symbolic link, and only a
// regular file, a FIFO or a terminal takes lines.
TEST_F(TraceWrite, LinksAndOtherFilesAreNotWritten) {
  std::string target = (dir_ / "target").string();
  std::string link = (dir_ / "link").string();
  test::WriteFile(dir_ / "target", "");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  for (const std::string &path : {link, std::string("/dev/null"), dir_.path().string()}) {
    Start(path.c_str());
    WriteLine("elsewhere");
  }
  EXPECT_EQ(test::ReadFile(dir_ / "target"), "");
}

}  // namespace
}  // namespace kel::trace
