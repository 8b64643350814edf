// The reference seal server as integrators run it: what it refuses at
// start-up, the test hooks it honours only when asked to, records it
// confirms only once written, its limits against slow and large clients, its
// request log, its file encodings, stopping, and https (the library's https
// path included, against a test CA that only these tests trust).
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "api/messages.h"
#include "seal_server.h"
#include "seal_server_fixture.h"
#include "support/answer_dropping_proxy.h"
#include "support/child_process.h"

namespace kel::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// 张三 and 有效 in GBK and in UTF-8.
const char kNameGbk[] = "\xD5\xC5\xC8\xFD";
const char kNameUtf8[] = "\xE5\xBC\xA0\xE4\xB8\x89";
const char kValidGbk[] = "\xD3\xD0\xD0\xA7";
const char kValidUtf8[] = "\xE6\x9C\x89\xE6\x95\x88";

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// kel-seal-server run to its end with `arguments`; its standard output and
// error together. A server that starts after all, or waits for input, is
// ended after 20 s. It runs as an operator's would that has no terminal
// at hand: in a session of its own, reading an input that never ends.
ChildResult RunServer(const std::vector<std::string> &arguments, const fs::path &dir) {
  mkfifo((dir / "input").c_str(), 0600);
  std::string line = "exec timeout -s KILL 20 setsid -w \"$0\"";
  for (const auto &argument : arguments) line += " '" + argument + "'";
  return RunChild("/bin/sh", {"-c", line + " 2>&1 0<>input", KEL_SEAL_SERVER}, dir);
}

// A connection to 127.0.0.1:port that the test drives byte by byte.
class RawConnection {
 public:
  explicit RawConnection(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  }
  ~RawConnection() { close(fd_); }
  bool connected() const { return connected_; }
  void Send(const std::string &text) { (void)!write(fd_, text.data(), text.size()); }
  // True when the server closes the connection within `seconds`.
  bool ClosedWithin(int seconds) {
    auto start = Clock::now();
    char buffer[256];
    while (SecondsSince(start) < seconds) {
      pollfd poll_fd{fd_, POLLIN, 0};
      if (poll(&poll_fd, 1, 100) == 1 && read(fd_, buffer, sizeof buffer) <= 0) return true;
    }
    return false;
  }

 private:
  int fd_;
  bool connected_ = false;
};

httplib::Result Post(const server::SealServer &server, const std::string &target,
                     const std::string &body) {
  httplib::Client client("127.0.0.1", server.port());
  client.set_read_timeout(40);
  return client.Post(target.c_str(), body, "application/x-www-form-urlencoded");
}

const std::string kVerifyBody = "type=0&id=S-1&name=Acme&time=t&enc=0123456789abcdef";

// ---- Start-up --------------------------------------------------------------

TEST(ReferenceServerStart, RefusesWhatCannotWorkWithExitCodeTwoAndAReason) {
  TempDir dir;
  server::SealServer taken(DevServerOptions(""));
  ASSERT_TRUE(taken.Start());
  const std::string key = std::string(KEL_FIXTURES_DIR) + "/dev-only-document-server-key.pem";
  const std::string public_key =
      std::string(KEL_FIXTURES_DIR) + "/dev-only-document-server-key.pub";
  WriteFile(dir / "not-a-key", "hello\n");
  WriteFile(dir / "gbk-registry", std::string("S-8\t") + kNameGbk + "\t0\t" + kValidGbk + "\n");
  WriteFile(dir / "gbk-records", std::string("2026-01-01 00:00:00\tu\tS-1\t") + kNameGbk + "\n");
  ASSERT_EQ(RunChild(KEL_MAKE_TEST_CERTIFICATES, {(dir / "tls").string()}, dir.path()).exit_code,
            0);
  const std::string tls = (dir / "tls").string();
  for (const char *plain : {"tls/server.key", "signing.pem"}) {
    if (std::string(plain) == "signing.pem") fs::copy_file(key, dir / plain);
    ASSERT_EQ(RunChild("/bin/sh",
                       {"-c", std::string("openssl pkey -in ") + plain +
                                  " -aes256 -passout pass:secret -out " + plain + ".encrypted"},
                       dir.path())
                  .exit_code,
              0);
  }
  mkfifo((dir / "fifo").c_str(), 0600);

  struct Row {
    const char *what;
    std::vector<std::string> arguments;
    const char *message;
  };
  const Row rows[] = {
      {"no key", {}, "a signing key is needed"},
      {"a file that is no key", {"--key", (dir / "not-a-key").string()}, "not an EC private key"},
      {"a public key", {"--key", public_key}, "not an EC private key"},
      {"half of two keys", {"--framed-key", key}, "a signing key is needed"},
      {"a port past 65535", {"--key", key, "--port", "65536"}, "not in range"},
      {"a negative port", {"--key", key, "--port", "-1"}, "not in range"},
      {"a port in use", {"--key", key, "--port", std::to_string(taken.port())}, "in use"},
      {"a certificate without its key",
       {"--key", key, "--tls-cert", tls + "/server.pem"},
       "requires --tls-key"},
      {"a TLS key of another certificate",
       {"--key", key, "--tls-cert", tls + "/server.pem", "--tls-key", tls + "/self-signed.key"},
       "cannot use the TLS certificate"},
      // Refused at once rather than asking for a pass phrase, or waiting
      // for a writer to the FIFO.
      {"an encrypted signing key",
       {"--key", (dir / "signing.pem.encrypted").string()},
       "the key is encrypted"},
      {"an encrypted TLS key",
       {"--key", key, "--tls-cert", tls + "/server.pem", "--tls-key",
        tls + "/server.key.encrypted"},
       "the key is encrypted"},
      {"a FIFO as the key", {"--key", (dir / "fifo").string()}, "not a regular file"},
      {"a FIFO as the TLS key",
       {"--key", key, "--tls-cert", tls + "/server.pem", "--tls-key", (dir / "fifo").string()},
       "not a regular file"},
      {"a GBK registry read as UTF-8",
       {"--key", key, "--registry", (dir / "gbk-registry").string()},
       "not valid utf-8"},
      {"a GBK record log appended to as UTF-8",
       {"--key", key, "--records", (dir / "gbk-records").string()},
       "--encoding gbk"},
      {"an unknown option", {"--key", key, "--no-such-option"}, "--no-such-option"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    ChildResult run = RunServer(row.arguments, dir.path());
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_NE(run.output.find(row.message), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("listening"), std::string::npos) << run.output;
  }

  // In-process too: a second server on a taken port does not start.
  server::SealServerOptions options = DevServerOptions("");
  options.port = taken.port();
  server::SealServer second(options);
  EXPECT_FALSE(second.Start());
  EXPECT_NE(second.start_error().find("in use"), std::string::npos) << second.start_error();
}

TEST(ReferenceServerStart, HelpDescribesEveryFault) {
  TempDir dir;
  ChildResult help = RunServer({"--help"}, dir.path());
  EXPECT_EQ(help.exit_code, 0);
  for (const auto &fault : server::Faults()) {
    EXPECT_NE(help.output.find(fault.name), std::string::npos) << fault.name;
    EXPECT_NE(help.output.find(fault.description), std::string::npos) << fault.name;
  }
  EXPECT_NE(help.output.find("--test-hooks"), std::string::npos);
  EXPECT_NE(help.output.find("--encoding"), std::string::npos);
}

TEST(ReferenceServerStart, IPv6UrlsHaveBrackets) {
  server::SealServerOptions options = DevServerOptions("");
  options.host = "::1";
  server::SealServer server(options);
  if (!server.Start()) GTEST_SKIP() << "no IPv6 loopback here: " << server.start_error();
  EXPECT_EQ(server.url(), "http://[::1]:" + std::to_string(server.port()) + "/");
  LoadedKel kel(FixtureFile("dev-only-document-server-key.pub"));
  int status = -1;
  EXPECT_EQ(kel.VerifySeal(server.url().c_str(), "Acme", "S-1", "t", 1, &status), 0);
  EXPECT_EQ(status, 0);
}

// kel-seal-server started as a process; its URL once it listens, and what
// it printed before (standard error included).
struct ServerProcess {
  pid_t pid = -1;
  std::string url;
  std::string output;
};

// Started through /bin/sh, so that a valgrind run of the tests leaves the
// server alone.
ServerProcess SpawnServer(const std::vector<std::string> &arguments) {
  int out[2];
  if (pipe(out) != 0) return {};
  std::vector<std::string> text{"/bin/sh", "-c", "exec \"$0\" \"$@\"", KEL_SEAL_SERVER};
  text.insert(text.end(), arguments.begin(), arguments.end());
  std::vector<char *> argv;
  for (auto &argument : text) argv.push_back(argument.data());
  argv.push_back(nullptr);
  ServerProcess process;
  process.pid = fork();
  if (process.pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(out[1], STDERR_FILENO);
    close(out[0]);
    close(out[1]);
    execv("/bin/sh", argv.data());
    _exit(127);
  }
  close(out[1]);
  std::string line;
  char c = 0;
  pollfd poll_fd{out[0], POLLIN, 0};
  while (poll(&poll_fd, 1, 20000) == 1 && read(out[0], &c, 1) == 1) {
    if (c != '\n') {
      line += c;
    } else if (line.rfind("listening on ", 0) == 0) {
      process.url = line.substr(13);
      break;
    } else {
      process.output += line + '\n';
      line.clear();
    }
  }
  close(out[0]);
  return process;
}

// Stops a server process as an operator does; its exit status.
int StopServer(const ServerProcess &server, int signal_number = SIGTERM) {
  kill(server.pid, signal_number);
  int status = -1;
  waitpid(server.pid, &status, 0);
  return status;
}

int PortOf(const ServerProcess &server) {
  return std::stoi(server.url.substr(server.url.rfind(':') + 1));
}

TEST(ReferenceServerStop, SigtermEndsItWithinASecondWhileRequestsAreInFlight) {
  const std::string key = std::string(KEL_FIXTURES_DIR) + "/dev-only-document-server-key.pem";
  ServerProcess server = SpawnServer({"--key", key, "--test-hooks"});
  ASSERT_FALSE(server.url.empty());
  int port = PortOf(server);
  // A client that never finishes its request, and one whose answer waits.
  RawConnection slow(port);
  slow.Send("POST /x HTTP/1.1\r\nHost: 127.0.0.1\r\n");
  std::thread delayed([port] {
    httplib::Client client("127.0.0.1", port);
    client.Post("/x?delay_ms=20000", kVerifyBody, "application/x-www-form-urlencoded");
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  auto start = Clock::now();
  int status = StopServer(server);
  double took = SecondsSince(start);
  delayed.join();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_LT(took, 1.0);
}

// ---- Test hooks --------------------------------------------------------------

// Without test hooks, a request's fault=, result= and delay_ms= change
// nothing; format= is the client's choice either way.
TEST(ReferenceServerHooks, AreIgnoredUnlessTheServerWasStartedWithThem) {
  server::SealServerOptions options = DevServerOptions("");
  options.test_hooks = false;
  server::SealServer server(options);
  ASSERT_TRUE(server.Start());
  LoadedKel kel(FixtureFile("dev-only-document-server-key.pub"));
  auto start = Clock::now();
  for (const char *query : {"fault=bad-signature", "format=framed&fault=frame-bad-signature",
                            "format=framed&result=0%2C0%2Cforged", "delay_ms=30000",
                            "fault=http-500", "format=framed"}) {
    int status = -1;
    EXPECT_EQ(kel.VerifySeal((server.url() + "x?" + query).c_str(), "Acme", "S-1", "t", 1, &status),
              0)
        << query;
    EXPECT_EQ(status, 0) << query;
    EXPECT_EQ(kel.LastError(), "valid seal") << query;
  }
  EXPECT_LT(SecondsSince(start), 20.0) << "delay_ms was honoured";

  // With them, delay_ms is bounded.
  options = DevServerOptions("");
  server::SealServer hooked(options);
  ASSERT_TRUE(hooked.Start());
  for (const char *delay : {"30001", "-1", "1e3", ""}) {
    auto answer = Post(hooked, std::string("/x?delay_ms=") + delay, kVerifyBody);
    ASSERT_TRUE(answer) << delay;
    EXPECT_EQ(answer->status, 400) << delay;
  }
}

// ---- Records of use ----------------------------------------------------------

TEST(ReferenceServerRecords, RecordedIsAnsweredOnlyForARecordThatWasWritten) {
  TempDir dir;
  struct Row {
    std::string path;
    bool sync;
    std::string result;  // the start of the result text
  };
  const Row rows[] = {
      {(dir / "records").string(), false, "0,0,recorded"},
      {(dir / "synced").string(), true, "0,0,recorded"},
      {(dir / "missing" / "records").string(), false,
       "0,1,the record was not written: No such file or directory"},
      {"/dev/full", false, "0,1,the record was not written: No space left on device"},
  };
  LoadedKel kel(FixtureFile("dev-only-document-server-key.pub"));
  for (const Row &row : rows) {
    server::SealServerOptions options = DevServerOptions(row.path);
    options.sync_records = row.sync;
    server::SealServer server(options);
    ASSERT_TRUE(server.Start());
    for (const char *format : {"x?format=document", "x?format=framed"}) {
      SCOPED_TRACE(row.path + " " + format);
      char *result = nullptr;
      EXPECT_EQ(kel.SendSealRecord("alice", "S-1", "r", (server.url() + format).c_str(), &result),
                0);
      EXPECT_EQ(kel.Take(result).rfind(row.result, 0), 0u);
    }
    if (row.result == "0,0,recorded") {
      std::string written = ReadFile(row.path);
      EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 2);
    }
  }
}

// A record is whole in the log or absent: a line cut short when the server
// was killed was never confirmed, and the next start removes it, even where
// the cut split a UTF-8 character.
TEST(ReferenceServerRecords, ALineCutShortByAKillIsRemovedAtTheNextStart) {
  TempDir dir;
  const std::string key = std::string(KEL_FIXTURES_DIR) + "/dev-only-document-server-key.pem";
  const std::string records = (dir / "records").string();
  const std::string whole = std::string("2026-01-01 00:00:00\tu\tS-1\t") + kNameUtf8 + "\n";
  // Appends one small record through a server on the log, then stops it;
  // what the server printed before it listened.
  auto append_one = [&] {
    ServerProcess server = SpawnServer({"--key", key, "--records", records});
    EXPECT_FALSE(server.url.empty()) << server.output;
    if (server.url.empty()) return server.output;
    auto answer = httplib::Client("127.0.0.1", PortOf(server))
                      .Post("/x", "username=last&sealid=S-1&enc=0123456789abcdef",
                            "application/x-www-form-urlencoded");
    EXPECT_TRUE(answer && answer->status == 200);
    StopServer(server);
    return server.output;
  };
  // Every line a record of four fields, the last one the record just sent.
  auto expect_whole_records = [&] {
    std::string text = ReadFile(records);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      std::string line = text.substr(start, end - start);
      EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 3) << line.substr(0, 80);
    }
    EXPECT_NE(text.rfind("\tlast\tS-1\t\n"), std::string::npos);
  };

  struct Row {
    const char *what;
    std::string partial;
  };
  const Row rows[] = {
      {"an ASCII line", "2026-01-01 00:00:01\tu\tS-1\taaaa"},
      {"a UTF-8 character cut in two", std::string("2026-01-01 00:00:01\tu\tS-1\t") + kNameUtf8[0]},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    WriteFile(records, whole + row.partial);
    std::string output = append_one();
    EXPECT_NE(output.find(std::to_string(row.partial.size()) + " bytes"), std::string::npos)
        << output;
    EXPECT_EQ(ReadFile(records).substr(0, whole.size() + 1), whole + "2");
    expect_whole_records();
  }

  // Killed while it appends records of 4 MB.
  fs::remove(records);
  for (int attempt = 0; attempt < 3; ++attempt) {
    ServerProcess server = SpawnServer({"--key", key, "--records", records});
    ASSERT_FALSE(server.url.empty()) << server.output;
    const std::string body = "username=u&sealid=S-1&enc=0123456789abcdef&remark=" +
                             std::string(4000000, static_cast<char>('a' + attempt));
    std::vector<std::thread> senders;
    for (int i = 0; i < 4; ++i) {
      senders.emplace_back([&] {
        httplib::Client client("127.0.0.1", PortOf(server));
        while (client.Post("/x", body, "application/x-www-form-urlencoded")) {
        }
      });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300 + 70 * attempt));
    StopServer(server, SIGKILL);
    for (auto &sender : senders) sender.join();
  }
  append_one();
  expect_whole_records();
}

// ---- Text encodings ----------------------------------------------------------

TEST(ReferenceServerEncoding, RecordFieldsAreWrittenInTheLogsEncoding) {
  using server::TextEncoding;
  struct Row {
    TextEncoding encoding;
    std::string gbk;
    std::string written;
  };
  const Row rows[] = {
      {TextEncoding::kUtf8, kNameGbk, kNameUtf8},
      {TextEncoding::kGbk, kNameGbk, kNameGbk},
      {TextEncoding::kUtf8, "a\tb\\c\r\n", "a\\tb\\\\c\\r\\n"},
      // Other control bytes never reach a terminal that shows the log.
      {TextEncoding::kUtf8, std::string("\x1B[2J\a\0\v\x7F~", 9), "\\x1B[2J\\x07\\x00\\x0B\\x7F~"},
      {TextEncoding::kGbk, "\x1B]0;t\x07\x01", "\\x1B]0;t\\x07\\x01"},
      // A byte that starts no GBK character is kept, visibly.
      {TextEncoding::kUtf8, "x\xFF\x81", "x\\xFF\\x81"},
      {TextEncoding::kGbk, "x\xFF", "x\xFF"},
      // 0x5C, the backslash, is also the second byte of GBK characters: it
      // is escaped only where it stands alone.
      {TextEncoding::kGbk, "\x81\x5C\\", "\x81\x5C\\\\"},
      {TextEncoding::kUtf8, "\x81\x5C\\", "\xE4\xB9\x97\\\\"},
  };
  for (const Row &row : rows) {
    EXPECT_EQ(server::FieldFromGbk(row.gbk, row.encoding), row.written) << row.gbk;
  }
}

TEST(ReferenceServerEncoding, AUtf8RegistryMatchesTheGbkThatClientsSend) {
  TempDir dir;
  WriteFile(dir / "registry",
            std::string("\xEF\xBB\xBF# seals\nS-8\t") + kNameUtf8 + "\t0\t" + kValidUtf8 + "\n");
  server::SealServerOptions options = DevServerOptions((dir / "records").string());
  std::string error;
  ASSERT_TRUE(
      options.registry.LoadFile((dir / "registry").string(), server::TextEncoding::kUtf8, &error))
      << error;
  server::SealServer server(options);
  ASSERT_TRUE(server.Start());
  LoadedKel kel(FixtureFile("dev-only-document-server-key.pub"));
  int status = -1;
  EXPECT_EQ(kel.VerifySeal(server.url().c_str(), kNameGbk, "S-8", "t", 1, &status), 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(kel.LastError(), kValidGbk);

  // A remark of 3,000 GBK characters: a form of 18 KB once escaped.
  std::string remark;
  for (int i = 0; i < 3000; ++i) remark += kNameGbk + 2;  // 三
  char *result = nullptr;
  EXPECT_EQ(kel.SendSealRecord(kNameGbk, "S-8", remark.c_str(), server.url().c_str(), &result), 0);
  EXPECT_EQ(kel.Take(result), "0,0,recorded");
  std::string records = ReadFile(dir / "records");
  std::string remark_utf8;
  for (int i = 0; i < 3000; ++i) remark_utf8 += kNameUtf8 + 3;
  EXPECT_NE(records.find(std::string("\t") + kNameUtf8 + "\tS-8\t" + remark_utf8 + "\n"),
            std::string::npos);
}

// ---- Limits ------------------------------------------------------------------

TEST(ReferenceServerLimits, KeepsOnlyTheRequestsATestAsksFor) {
  for (std::size_t kept : {0u, 2u}) {
    server::SealServerOptions options = DevServerOptions("");
    options.kept_requests = kept;
    server::SealServer server(options);
    ASSERT_TRUE(server.Start());
    for (const char *id : {"S-1", "S-2", "S-3"}) {
      Post(server, "/x", std::string("type=0&id=") + id + "&enc=0123456789abcdef");
    }
    auto received = server.Received();
    ASSERT_EQ(received.size(), kept);
    if (kept == 2) {
      EXPECT_EQ(received[0].body.substr(0, 11), "type=0&id=S");
      EXPECT_NE(received[0].body.find("S-2"), std::string::npos);
      EXPECT_NE(received[1].body.find("S-3"), std::string::npos);
    }
  }
}

// Requests past the limits are refused with a text that says why, before
// they cost the server much: a body past 4 MiB, more parameters than any
// transaction takes (a flood of empty ones included).
TEST(ReferenceServerLimits, RequestsPastTheLimitsAreRefusedWithAReason) {
  server::SealServer server(DevServerOptions(""));
  ASSERT_TRUE(server.Start());
  std::string many_in_query = "/x?";
  for (int i = 0; i < 33; ++i) many_in_query += "p" + std::to_string(i) + "=&";
  struct Row {
    const char *what;
    std::string target;
    std::string body;
    int status;
    const char *text;
  };
  const Row rows[] = {
      {"a body past 4 MiB", "/x",
       kVerifyBody + "&remark=" + std::string(server::kMaxRequestBody, 'a'), 413, "larger than"},
      {"a form of 1 MiB", "/x", kVerifyBody + "&remark=" + std::string(1 << 20, 'a'), 200, ""},
      {"600,000 empty parameters", "/x", kVerifyBody + std::string(600000, '&'), 400,
       "more than 32 parameters"},
      {"32 parameters", "/x", kVerifyBody + std::string(26, '&'), 200, ""},
      {"33 parameters in the query", many_in_query, kVerifyBody, 400, "more than 32 parameters"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    auto answer = Post(server, row.target, row.body);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, row.status);
    EXPECT_NE(answer->body.find(row.text), std::string::npos) << answer->body.substr(0, 80);
  }
  auto get = httplib::Client("127.0.0.1", server.port()).Get(many_in_query.c_str());
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 400);
}

// Clients that send slowly wait without a worker, and those that wait for
// late answers hold one each: with 200 clients that send a byte a second
// (within the time-out for each read), the others are still served at once.
// A request that trickles in is cut off at its deadline all the same, and a
// silent client is let go.
TEST(ReferenceServerLimits, SlowClientsDoNotStarveTheOthers) {
  server::SealServerOptions options = DevServerOptions("");
  options.client_timeout_seconds = 2;
  options.request_deadline_seconds = 4;
  server::SealServer server(options);
  ASSERT_TRUE(server.Start());
  std::vector<std::unique_ptr<RawConnection>> slow;
  for (int i = 0; i < 200; ++i) slow.push_back(std::make_unique<RawConnection>(server.port()));
  std::atomic<bool> done{false};
  std::thread trickle([&slow, &done] {
    const std::string request = "POST /x HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 9\r\n\r\n";
    for (std::size_t sent = 0; sent < request.size() && !done; ++sent) {
      for (auto &connection : slow) connection->Send(request.substr(sent, 1));
      for (int i = 0; i < 10 && !done; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  std::vector<std::thread> delayed;
  for (int i = 0; i < 12; ++i) {
    delayed.emplace_back([&server] { Post(server, "/x?delay_ms=30000", kVerifyBody); });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));

  // Served while the requests still trickle in (for a minute, were they not
  // cut off), with room for a loaded machine.
  httplib::Client client("127.0.0.1", server.port());
  client.set_read_timeout(20);
  auto start = Clock::now();
  auto answer = client.Post("/x", kVerifyBody, "application/x-www-form-urlencoded");
  EXPECT_TRUE(answer && answer->status == 200);
  EXPECT_LT(SecondsSince(start), 10.0);

  // Four seconds after its first byte, each trickling request is cut off.
  EXPECT_TRUE(slow.front()->ClosedWithin(5));
  EXPECT_TRUE(slow.back()->ClosedWithin(2));
  done = true;
  trickle.join();

  RawConnection silent(server.port());
  ASSERT_TRUE(silent.connected());
  EXPECT_TRUE(silent.ClosedWithin(10));
  server.Stop();  // ends the delays
  for (auto &thread : delayed) thread.join();
}

// A burst of connections waits in the listen queue rather than being lost.
TEST(ReferenceServerLimits, TheListenQueueHoldsAThousandConnections) {
  server::SealServer server(DevServerOptions(""));
  ASSERT_TRUE(server.Start());
  int backlog = -1;
  for (const auto &entry : fs::directory_iterator("/proc/self/fd")) {
    int fd = std::stoi(entry.path().filename().string());
    int listening = 0;
    socklen_t size = sizeof listening;
    sockaddr_in address{};
    socklen_t address_size = sizeof address;
    if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || !listening ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &address_size) != 0 ||
        ntohs(address.sin_port) != server.port()) {
      continue;
    }
    // For a listening socket, Linux reports the queue's length here.
    tcp_info info{};
    socklen_t info_size = sizeof info;
    ASSERT_EQ(getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &info_size), 0);
    // qemu-user hands back the first four bytes of it only.
    if (info_size < offsetof(tcp_info, tcpi_sacked) + sizeof info.tcpi_sacked) {
      GTEST_SKIP() << "TCP_INFO came back short (" << info_size << " bytes): an emulator?";
    }
    backlog = static_cast<int>(info.tcpi_sacked);
  }
  int system_limit = std::stoi(ReadFile("/proc/sys/net/core/somaxconn"));
  EXPECT_GE(backlog, std::min(1000, system_limit));
}

// ---- The request log ---------------------------------------------------------

TEST(ReferenceServerLog, OneLinePerRequestWithTheKeyMasked) {
  TempDir dir;
  server::SealServerOptions options = DevServerOptions("");
  options.request_log = (dir / "requests.log").string();
  server::SealServer server(options);
  ASSERT_TRUE(server.Start());
  LoadedKel kel(FixtureFile("dev-only-document-server-key.pub"));
  int status = -1;
  kel.VerifySeal((server.url() + "x?format=framed").c_str(), "Acme", "S-1", "t", 1, &status);
  kel.VerifySeal((server.url() + "x?fault=bad-signature").c_str(), "Acme", "S-1", "t", 1, &status);
  Post(server, "/y", "enc=0123456789abcdef");

  std::string log = ReadFile(dir / "requests.log");
  const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)";
  std::regex lines("^" + stamp +
                   R"( POST /x enc=\* format=framed id=S-1 name=Acme time=t type=0 -> 200 framed )"
                   R"(status=0\n)" +
                   stamp +
                   R"( POST /x enc=\* fault=bad-signature id=S-1 name=Acme time=t type=0 -> 200 )"
                   R"(document status=0 fault=bad-signature\n)" +
                   stamp + R"( POST /y enc=\* -> 400\n$)");
  EXPECT_TRUE(std::regex_match(log, lines)) << log;
  for (const auto &request : server.Received()) {
    std::string key = request.body.substr(request.body.find("enc=") + 4, 16);
    EXPECT_EQ(log.find(key), std::string::npos) << "the log shows a response key";
  }
}

// ---- https -------------------------------------------------------------------

class ReferenceServerTls : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RunChild(KEL_MAKE_TEST_CERTIFICATES, {dir_.path().string()}, dir_.path()).exit_code,
              0);
  }

  std::unique_ptr<server::SealServer> Start(const std::string &certificate) {
    server::SealServerOptions options = DevServerOptions((dir_ / "records").string());
    options.tls_cert_path = (dir_ / (certificate + ".pem")).string();
    options.tls_key_path = (dir_ / (certificate + ".key")).string();
    auto server = std::make_unique<server::SealServer>(options);
    EXPECT_TRUE(server->Start()) << server->start_error();
    return server;
  }

  // A test build of the library that trusts only the test CA.
  std::unique_ptr<LoadedKel> TrustingKel() {
    auto kel = std::make_unique<LoadedKel>(FixtureFile("dev-only-document-server-key.pub"),
                                           KEL_TESTING_LIBRARY);
    auto trust = reinterpret_cast<void (*)(const char *)>(kel->Symbol("KelTesting_TrustCaFile"));
    EXPECT_NE(trust, nullptr);
    if (trust != nullptr) trust((dir_ / "ca.pem").c_str());
    return kel;
  }

  TempDir dir_;
};

TEST_F(ReferenceServerTls, EveryTransactionOverHttpsWithACertificateFromATrustedCa) {
  auto server = Start("server");
  EXPECT_EQ(server->url().rfind("https://127.0.0.1:", 0), 0u) << server->url();
  auto kel = TrustingKel();
  const std::string port = std::to_string(server->port());
  for (const char *host : {"127.0.0.1", "localhost"}) {
    for (const char *format : {"format=document", "format=framed"}) {
      std::string url = std::string("https://") + host + ":" + port + "/x?" + format;
      SCOPED_TRACE(url);
      int status = -1;
      EXPECT_EQ(kel->VerifySeal(url.c_str(), "Acme", "S-1", "t", 1, &status), 0);
      EXPECT_EQ(status, 0);
      char *result = nullptr;
      EXPECT_EQ(kel->SendSealRecord("alice", "S-1", "tls", url.c_str(), &result), 0);
      EXPECT_EQ(kel->Take(result), "0,0,recorded");
      char *time = nullptr;
      char *signature = nullptr;
      EXPECT_EQ(kel->GetServerTime(&time, &signature, "doc", url.c_str()), 0);
      std::string time_text = kel->Take(time);
      std::string signature_text = kel->Take(signature);
      EXPECT_EQ(kel->VerifyTimeStamp("doc", time_text.c_str(), signature_text.c_str()), 0);
    }
  }
}

// Through the proxy that https_proxy names, an https exchange goes in a
// CONNECT tunnel, and the certificate is still checked against the URL's
// host name: the tunnel reaches the same server for a name it lacks.
TEST_F(ReferenceServerTls, HttpsGoesThroughTheProxysTunnel) {
  auto server = Start("server");
  AnswerDroppingProxy proxy(server->port(), 0);
  ASSERT_TRUE(proxy.Start());
  setenv("https_proxy", proxy.url().c_str(), 1);
  auto kel = TrustingKel();
  unsetenv("https_proxy");
  const std::string port = std::to_string(server->port());
  const std::string named = "https://localhost:" + port + "/x";
  const std::string unnamed = "https://seal.invalid:" + port + "/x";
  int status = -1;
  EXPECT_EQ(kel->VerifySeal(named.c_str(), "Acme", "S-1", "t", 1, &status), 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(kel->VerifySeal(unnamed.c_str(), "Acme", "S-1", "t", 1, &status), 1);
  EXPECT_EQ(kel->LastError(), msg::kServerUnreachable);
  EXPECT_EQ(proxy.RequestLines(),
            (std::vector<std::string>{"CONNECT localhost:" + port + " HTTP/1.1",
                                      "CONNECT seal.invalid:" + port + " HTTP/1.1"}));
}

TEST_F(ReferenceServerTls, CertificatesThatShouldNotBeTrustedFail) {
  auto server = Start("server");
  auto wrong_name = Start("wrong-name");
  auto self_signed = Start("self-signed");
  // Both copies trace to one file, which names the certificate's fault.
  const std::string trace = (dir_ / "trace").string();
  setenv("KEL_TRACE", trace.c_str(), 1);
  auto trusting = TrustingKel();
  // The shipped library trusts the system's store only, which lacks the test CA.
  LoadedKel shipped(FixtureFile("dev-only-document-server-key.pub"));
  unsetenv("KEL_TRACE");
  struct Row {
    const char *what;
    LoadedKel *kel;
    std::string url;
    const char *traced;  // in the exchange's trace line
  };
  const Row rows[] = {
      {"a certificate for another name", trusting.get(), wrong_name->url(),
       " failed=tls certificate=wrong-host error="},
      {"a self-signed certificate", trusting.get(), self_signed->url(),
       " failed=tls certificate=self-signed error="},
      {"a CA that is not trusted", &shipped, server->url(),
       " failed=tls certificate=untrusted error="},
      {"plain http to an https server", trusting.get(),
       "http://127.0.0.1:" + std::to_string(server->port()) + "/", " result=unreachable "},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    int status = 7;
    EXPECT_EQ(row.kel->VerifySeal(row.url.c_str(), "Acme", "S-1", "t", 1, &status), 1);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(row.kel->LastError(), msg::kServerUnreachable);
    std::string lines = ReadFile(trace);
    std::string last = lines.substr(lines.rfind('\n', lines.size() - 2) + 1);
    EXPECT_NE(last.find(row.traced), std::string::npos) << last;
    EXPECT_EQ(last.find("certificate=") == std::string::npos, row.url.rfind("http:", 0) == 0);
  }
}

}  // namespace
}  // namespace kel::test
