// The kel command-line tool, run as a child process against the reference
// seal server on loopback and on local data: exit codes, output, --json,
// the conversion of GBK texts, and --help on every subcommand.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "seal_server.h"
#include "support/child_process.h"
#include "support/loaded_kel.h"
#include "support/raw_listener.h"
#include "support/temp_dir.h"

namespace kel::test {
namespace {

// 张三 and 有效 in GBK, and the same texts in UTF-8.
const char kNameGbk[] = "\xD5\xC5\xC8\xFD";
const char kNameUtf8[] = "\xE5\xBC\xA0\xE4\xB8\x89";
const char kValidGbk[] = "\xD3\xD0\xD0\xA7";
const char kValidUtf8[] = "\xE6\x9C\x89\xE6\x95\x88";
// 无法连接服务器！ and 时间戳无效 in UTF-8.
const char kUnreachableUtf8[] =
    "\xE6\x97\xA0\xE6\xB3\x95\xE8\xBF\x9E\xE6\x8E\xA5\xE6\x9C\x8D\xE5\x8A\xA1\xE5\x99\xA8\xEF\xBC"
    "\x81";
const char kTimestampInvalidUtf8[] = "\xE6\x97\xB6\xE9\x97\xB4\xE6\x88\xB3\xE6\x97\xA0\xE6\x95\x88";

class KelCli : public ::testing::Test {
 protected:
  void SetUp() override {
    // The terminal of these runs is UTF-8, whatever the test's own locale.
    setenv("LC_ALL", "C.UTF-8", 1);
    server::SealServerOptions options;
    options.keys.framed_pem = FixtureFile("dev-only-document-server-key.pem");
    options.keys.document_pem = options.keys.framed_pem;
    options.test_hooks = true;
    options.registry.Add("S-1", {"Acme", "0", "valid seal"});
    options.registry.Add("S-9", {"Revoked Co", "5", "revoked, since 2020"});
    options.registry.Add("S-8", {kNameGbk, "0", kValidGbk});
    // A server that speaks UTF-8, for --encoding utf-8.
    options.registry.Add("S-7", {kNameUtf8, "0", kValidUtf8});
    // Control bytes in a server's text must not reach the terminal as they are.
    options.registry.Add("S-6", {"Esc", "0", "ok\x1B[2J\nnext\x7F"});
    options.registry.Add("S-5", {"C1", "0",
                                 "a\xC2\x9B"
                                 "b"});  // U+009B in UTF-8
    options.records_path = (dir_ / "records").string();
    server_ = std::make_unique<server::SealServer>(std::move(options));
    ASSERT_TRUE(server_->Start());
    WriteFile(dir_ / "pubkey.key", FixtureFile("dev-only-document-server-key.pub"));
  }

  ChildResult Kel(const std::vector<std::string> &arguments) {
    return RunChild(KEL_CLI, arguments, dir_.path());
  }

  // Runs a shell line with "$0" standing for kel, for standard input.
  ChildResult Shell(const std::string &line) {
    return RunChild("/bin/sh", {"-c", line, KEL_CLI}, dir_.path());
  }

  std::string Url(const std::string &query = "") const {
    return server_->url() + (query.empty() ? "" : "x?" + query);
  }

  TempDir dir_;
  std::unique_ptr<server::SealServer> server_;
};

std::string JsonField(const std::string &json, const std::string &name) {
  std::smatch match;
  std::regex pattern("\"" + name + "\":\"([^\"]*)\"");
  return std::regex_search(json, match, pattern) ? match[1].str() : std::string("<absent>");
}

TEST_F(KelCli, VerifySealExitsWithTheVerdict) {
  struct Case {
    const char *id;
    const char *name;
    int exit_code;
    std::string expected;  // in the JSON object
    const char *encoding = "gbk";
  };
  const Case cases[] = {
      {"S-1", "Acme", 0, "\"valid\":true,\"status\":0,\"description\":\"valid seal\""},
      {"S-404", "Acme", 1, "\"valid\":false,\"status\":2,\"description\":\"unknown seal\""},
      {"S-9", "Revoked Co", 1, "\"status\":5,\"description\":\"revoked, since 2020\""},
      {"S-1", "Other", 1, "\"status\":3"},
      // A UTF-8 name reaches the server as GBK; its GBK answer comes back as UTF-8.
      {"S-8", kNameUtf8, 0, "\"status\":0,\"description\":\"" + std::string(kValidUtf8) + "\""},
      // --encoding utf-8 sends the name as UTF-8 and reads the answer as UTF-8.
      {"S-7", kNameUtf8, 0, "\"status\":0,\"description\":\"" + std::string(kValidUtf8) + "\"",
       "utf-8"},
      {"S-8", kNameUtf8, 1, "\"status\":3", "utf-8"},
      {"S-7", kNameUtf8, 1, "\"status\":3", "gbk"},
      // JSON escapes the control bytes of a server's text.
      {"S-6", "Esc", 0, "\"description\":\"ok\\u001b[2J\\nnext\\u007f\"", "utf-8"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.id) + " " + c.encoding);
    ChildResult run = Kel({"verify-seal", "--json", "--encoding", c.encoding, "--url", Url(),
                           "--id", c.id, "--name", c.name});
    EXPECT_EQ(run.exit_code, c.exit_code);
    EXPECT_NE(run.output.find(c.expected), std::string::npos) << run.output;
    EXPECT_EQ(run.output.back(), '\n');
    EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << "one JSON object per call";
  }
  ChildResult plain = Kel({"verify-seal", "--url", Url(), "--id", "S-8", "--name", kNameUtf8});
  EXPECT_EQ(plain.output, std::string("valid: yes\nstatus: 0\ndescription: ") + kValidUtf8 + "\n");
  // Printed for people, control bytes are shown as escapes, in either encoding.
  const struct {
    const char *id, *name, *encoding, *description;
  } escaped[] = {
      {"S-6", "Esc", "gbk", "ok\\x1B[2J\\x0Anext\\x7F"},
      {"S-6", "Esc", "utf-8", "ok\\x1B[2J\\x0Anext\\x7F"},
      {"S-5", "C1", "utf-8", "a\\xC2\\x9Bb"},
  };
  for (const auto &c : escaped) {
    ChildResult run = Kel(
        {"verify-seal", "--encoding", c.encoding, "--url", Url(), "--id", c.id, "--name", c.name});
    EXPECT_EQ(run.output,
              std::string("valid: yes\nstatus: 0\ndescription: ") + c.description + "\n")
        << c.id << " " << c.encoding;
  }
  EXPECT_EQ(
      Kel({"verify-seal", "--encoding", "latin-1", "--url", Url(), "--id", "S-1", "--name", "Acme"})
          .exit_code,
      2);
}

TEST_F(KelCli, FailedExchangeExitsWithTwoAndTheLibrarysMessage) {
  ChildResult run = Kel(
      {"--json", "verify-seal", "--url", Url("fault=empty-body"), "--id", "S-1", "--name", "A"});
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(JsonField(run.output, "error"), kUnreachableUtf8);
  EXPECT_EQ(JsonField(run.output, "error_meaning"), "the server cannot be reached");

  // --verbose: the library's trace says why, on standard error.
  ChildResult verbose = Shell("\"$0\" --json verify-seal --verbose --url '" +
                              Url("fault=empty-body") + "' --id S-1 --name A 2>trace");
  EXPECT_EQ(verbose.exit_code, 2);
  EXPECT_EQ(JsonField(verbose.output, "error_meaning"), "the server cannot be reached");
  EXPECT_NE(ReadFile(dir_ / "trace").find(" exchange result=unreachable format=none status=200 "),
            std::string::npos)
      << ReadFile(dir_ / "trace");

  ChildResult record =
      Kel({"send-record", "--url", Url("fault=bad-signature"), "--user", "u", "--seal", "S-1"});
  EXPECT_EQ(record.exit_code, 2);
  EXPECT_EQ(record.output, "");
}

TEST_F(KelCli, SendRecordReachesTheServerAndPrintsItsResult) {
  ChildResult run = Kel({"send-record", "--url", Url(), "--user", "alice", "--seal", "S-1",
                         "--remark", "contract 7"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.output, "result: 0,0,recorded\nstatus: 0\ndescription: recorded\n");
  EXPECT_NE(ReadFile(dir_ / "records").find("\talice\tS-1\tcontract 7\n"), std::string::npos);

  // A result in the verdict form with another status is a negative answer.
  ChildResult refused = Kel({"send-record", "--url", Url("format=framed&result=0%2C4%2Cno"),
                             "--user", "alice", "--seal", "S-1"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.output.find("status: 4\n"), std::string::npos) << refused.output;
}

TEST_F(KelCli, ServerTimeVerifiesAndATamperedTimeFails) {
  ChildResult stamp = Kel({"--json", "server-time", "--url", Url(), "--content", "contract 7"});
  ASSERT_EQ(stamp.exit_code, 0) << stamp.output;
  std::string time = JsonField(stamp.output, "time");
  std::string signature = JsonField(stamp.output, "signature");
  EXPECT_TRUE(std::regex_match(time, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"))) << time;

  ChildResult good = Kel(
      {"verify-timestamp", "--content", "contract 7", "--time", time, "--signature", signature});
  EXPECT_EQ(good.exit_code, 0);
  EXPECT_EQ(good.output, "verified: yes\n");

  std::string tampered = time;
  tampered[0] = tampered[0] == '1' ? '2' : '1';
  ChildResult bad = Kel({"verify-timestamp", "--json", "--content", "contract 7", "--time",
                         tampered, "--signature", signature});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_NE(bad.output.find("\"verified\":false"), std::string::npos) << bad.output;
  EXPECT_EQ(JsonField(bad.output, "reason"), kTimestampInvalidUtf8);

  // Without pubkey.key (none beside the library, none in the current folder).
  TempDir empty;
  ChildResult keyless = RunChild(KEL_CLI,
                                 {"verify-timestamp", "--json", "--content", "contract 7", "--time",
                                  time, "--signature", signature},
                                 empty.path());
  EXPECT_EQ(keyless.exit_code, 1);
  EXPECT_EQ(JsonField(keyless.output, "reason_meaning"), "no server key was loaded");
  EXPECT_NE(JsonField(keyless.output, "hint"), "<absent>");

  ChildResult local = Kel({"server-time"});
  EXPECT_EQ(local.exit_code, 0);
  EXPECT_TRUE(std::regex_match(
      local.output, std::regex("source: local clock\ntime: \\d{4}-\\d\\d-\\d\\d [0-9:]{8}\n")))
      << local.output;
}

// kel doctor against four deployments: each mistake shows as the one
// finding that does not hold, with a fix.
TEST_F(KelCli, DoctorNamesEachMistakeWithItsFix) {
  const std::string tls = (dir_ / "tls").string();
  ASSERT_EQ(RunChild(KEL_MAKE_TEST_CERTIFICATES, {tls}, dir_.path()).exit_code, 0);
  auto start = [&tls](const char *key, const char *certificate) {
    server::SealServerOptions options;
    options.keys.framed_pem = FixtureFile(key);
    options.keys.document_pem = options.keys.framed_pem;
    if (certificate != nullptr) {
      options.tls_cert_path = tls + "/" + certificate + ".pem";
      options.tls_key_path = tls + "/" + certificate + ".key";
    }
    auto server = std::make_unique<server::SealServer>(std::move(options));
    EXPECT_TRUE(server->Start()) << server->start_error();
    return server;
  };
  auto other_key = start("dev-only-other-server-key.pem", nullptr);
  auto self_signed = start("dev-only-document-server-key.pem", "self-signed");
  RefusingPort refusing;
  // The trace files kel doctor makes are gone after each run.
  const std::string temporary = (dir_ / "tmp").string();
  std::filesystem::create_directory(temporary);
  setenv("TMPDIR", temporary.c_str(), 1);

  const std::string dev_key = "your pubkey.key (sha256 83dbeb96e9479974)";
  const struct {
    const char *what;
    std::string url;
    std::string check;  // the finding that does not hold; empty: all hold
    std::string detail;
    const char *status = "fail";
    std::string http_proxy = "";  // the proxy kel's library is started with
  } rows[] = {
      {"a healthy deployment", Url(), "", ""},
      {"a wrong port", "http://127.0.0.1:" + std::to_string(refusing.port()) + "/", "connect",
       "no connection to 127.0.0.1 port " + std::to_string(refusing.port()) + " ("},
      {"a self-signed certificate", self_signed->url(), "tls",
       "the server's certificate is self-signed"},
      {"a key mismatch", other_key->url(), "answer",
       "the server signs with a key whose public half is not " + dev_key},
      // A framed time whose signed content the test server takes from the URL.
      {"a server clock far behind", Url("format=framed&result=kel%20doctor2000-01-01%2000:00:00"),
       "clock", "s behind this machine's (limit 60 s)", "warn"},
      {"a proxy that is not running", Url(), "connect",
       "no connection to the proxy http://127.0.0.1:" + std::to_string(refusing.port()) + " (",
       "fail", "http://127.0.0.1:" + std::to_string(refusing.port())},
  };
  const std::regex finding(
      R"re(\{"check":"([^"]*)","status":"([^"]*)","detail":"((?:[^"\\]|\\.)*)","fix":"((?:[^"\\]|\\.)*)"\})re");
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    if (row.http_proxy.empty()) {
      unsetenv("http_proxy");
    } else {
      setenv("http_proxy", row.http_proxy.c_str(), 1);
    }
    ChildResult run = Kel({"doctor", "--json", "--url", row.url});
    unsetenv("http_proxy");
    EXPECT_EQ(run.exit_code, row.check.empty() ? 0 : 1) << run.output;
    std::vector<std::string> not_holding;
    std::size_t count = 0;
    for (std::sregex_iterator it(run.output.begin(), run.output.end(), finding), end; it != end;
         ++it, ++count) {
      const std::smatch &match = *it;
      if (match[2] == "ok") {
        EXPECT_EQ(match[4], "") << match[1];
        continue;
      }
      not_holding.push_back(match[1]);
      EXPECT_EQ(match[2], row.status) << match[1];
      EXPECT_NE(match[3].str().find(row.detail), std::string::npos) << match[3];
      EXPECT_NE(match[4], "") << match[1];
    }
    EXPECT_GE(count, 7u) << run.output;
    EXPECT_EQ(not_holding,
              row.check.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.check})
        << run.output;
  }
  EXPECT_TRUE(std::filesystem::is_empty(temporary));
  unsetenv("TMPDIR");

  // For people. The trace quotes and escapes a target with a space and UTF-8.
  ChildResult healthy = Kel({"doctor", "--url", Url() + "a b/\xC3\xBC"});
  EXPECT_EQ(healthy.exit_code, 0);
  for (const std::string &line :
       {"\nok    url          scheme http, host 127.0.0.1, port " +
            std::to_string(server_->port()) + ", target /a b/\xC3\xBC\n",
        "\nok    answer       a document answer to a server-time request; its signature "
        "verifies against " +
            dev_key + "\n"}) {
    EXPECT_NE(healthy.output.find(line), std::string::npos) << line << "\nin\n" << healthy.output;
  }
  EXPECT_TRUE(std::regex_search(healthy.output, std::regex("\neverything holds\n$")));
}

TEST_F(KelCli, LocalCommandsOnFilesAndStandardInput) {
  WriteFile(dir_ / "abc", "ABC");
  WriteFile(dir_ / "wrapped.b64", "QUJD\r\nQUJD\n");
  WriteFile(dir_ / "bytes", std::string("\x00\x0a\xff", 3));
  // What the library would cut short or skip without a word.
  WriteFile(dir_ / "after-padding.b64", "QQ==QUJD");
  WriteFile(dir_ / "inner-space.b64", "QUJD QUJD");
  WriteFile(dir_ / "prefixed.b64", "+ QUJD");
  WriteFile(dir_ / "cut.b64", "QUJDQQ");
  struct Case {
    std::vector<std::string> arguments;
    int exit_code;
    std::string output;
  };
  const Case cases[] = {
      {{"base64", "encode", "abc"}, 0, "QUJD\n"},
      {{"base64", "decode", "wrapped.b64"}, 0, "ABCABC"},
      {{"base64", "decode", "bytes"}, 2, ""},
      {{"base64", "decode", "after-padding.b64"}, 2, ""},
      {{"base64", "decode", "inner-space.b64"}, 2, ""},
      {{"base64", "decode", "prefixed.b64"}, 2, ""},
      {{"base64", "decode", "cut.b64"}, 2, ""},
      {{"hex", "encode", "bytes"}, 0, "000aff\n"},
      {{"hex", "decode", "--json", "abc"}, 2, ""},  // 'B' and 'C' pass, but the count is odd
      {{"base64", "encode", "missing-file"}, 2, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.arguments[0] + " " + c.arguments[1]);
    ChildResult run = Kel(c.arguments);
    EXPECT_EQ(run.exit_code, c.exit_code);
    if (c.exit_code == 0) {
      EXPECT_EQ(run.output, c.output);
    }
  }

  ChildResult piped = Shell("printf '4a 4B\\n' | \"$0\" --json hex decode");
  EXPECT_EQ(piped.exit_code, 0);
  EXPECT_NE(piped.output.find("\"length\":2,\"hex\":\"4a4b\""), std::string::npos) << piped.output;
  EXPECT_EQ(Shell("echo 4G | \"$0\" hex decode").exit_code, 2);

  ChildResult random = Kel({"random"});
  EXPECT_EQ(random.exit_code, 0);
  EXPECT_TRUE(std::regex_match(random.output, std::regex("[A-Za-z0-9]{16}\n"))) << random.output;
}

TEST_F(KelCli, AesRoundTripAndItsFailures) {
  const std::string key = "0123456789abcdef";
  WriteFile(dir_ / "plain", std::string("secret\0text", 11));
  WriteFile(dir_ / "key", key + "\n");
  ChildResult encrypted =
      Shell("\"$0\" aes-encrypt --key-file key < plain > cipher && \"$0\" aes-decrypt --key " +
            key + " cipher");
  EXPECT_EQ(encrypted.exit_code, 0);
  EXPECT_EQ(encrypted.output, std::string("secret\0text", 11));
  EXPECT_NE(ReadFile(dir_ / "cipher"), ReadFile(dir_ / "plain"));

  // Cut short, a ciphertext always fails (under another key, the padding
  // checks out by chance about once in 256 runs).
  std::string cipher = ReadFile(dir_ / "cipher");
  WriteFile(dir_ / "short", cipher.substr(0, cipher.size() - 1));
  ChildResult cut = Kel({"aes-decrypt", "--json", "--key", key, "short"});
  EXPECT_EQ(cut.exit_code, 1);
  EXPECT_EQ(JsonField(cut.output, "error_meaning"), "decryption failed");
  EXPECT_EQ(Kel({"aes-encrypt", "--key", "short", "plain"}).exit_code, 2);
  EXPECT_EQ(Kel({"aes-encrypt", "plain"}).exit_code, 2);
}

TEST_F(KelCli, BadUsageExitsWithTwo) {
  EXPECT_EQ(Kel({}).exit_code, 2);
  const struct {
    const char *line;
    const char *expected;
  } unknown[] = {
      {"nosuch", "kel: unknown subcommand \"nosuch\"; kel --help lists them\n"},
      {"--json nosuch",
       "{\"command\":null,\"ok\":false,\"exit\":2,\"error\":\"unknown subcommand "
       "\\\"nosuch\\\"; kel --help lists them\"}\n"},
      {"base64 nosuch", "kel: unknown subcommand \"nosuch\"; kel --help lists them\n"},
      {"--encoding utf-8 hex nosuch",
       "kel: unknown subcommand \"nosuch\"; kel --help lists them\n"},
  };
  for (const auto &c : unknown) {
    ChildResult run = Shell(std::string("\"$0\" ") + c.line + " 2>&1");
    EXPECT_EQ(run.exit_code, 2) << c.line;
    EXPECT_EQ(run.output, c.expected) << c.line;
  }
  EXPECT_EQ(Kel({"verify-seal", "--url", Url()}).exit_code, 2);  // --name and --id missing
  EXPECT_EQ(Kel({"base64"}).exit_code, 2);
  EXPECT_EQ(Kel({"doctor"}).exit_code, 2);  // --url missing
  ChildResult json = Kel({"--json", "verify-seal", "--type", "7"});
  EXPECT_EQ(json.exit_code, 2);
  EXPECT_EQ(json.output.rfind("{\"command\":null,\"ok\":false,\"exit\":2,\"error\":", 0), 0u)
      << json.output;
}

TEST_F(KelCli, VersionNamesTheLoadedLibraryAndProvider) {
  const std::string version = std::to_string(KEL_VERSION_MAJOR) + "." +
                              std::to_string(KEL_VERSION_MINOR) + "." +
                              std::to_string(KEL_VERSION_PATCH);
  ChildResult run = Kel({"--version"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(std::regex_match(
      run.output,
      std::regex("kel " + version + "\nlibrary: " + version + " \\(/.*/libkel\\.so\\." + version +
                 "\\)\nprovider: " + version + " \\(/.*/libkestro\\.so\\." + version + "\\)\n")))
      << run.output;
}

TEST_F(KelCli, EverySubcommandHasHelpWithAnExample) {
  const std::vector<std::vector<std::string>> commands = {
      {},
      {"verify-seal"},
      {"send-record"},
      {"server-time"},
      {"verify-timestamp"},
      {"base64"},
      {"base64", "encode"},
      {"base64", "decode"},
      {"hex"},
      {"hex", "encode"},
      {"hex", "decode"},
      {"random"},
      {"aes-encrypt"},
      {"aes-decrypt"},
      {"doctor"},
  };
  for (const auto &command : commands) {
    std::string path = "kel";
    for (const auto &word : command) path += " " + word;
    SCOPED_TRACE(path);
    std::vector<std::string> arguments = command;
    arguments.push_back("--help");
    ChildResult run = Kel(arguments);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_NE(run.output.find("Usage: " + path), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Example:\n  "), std::string::npos);
    EXPECT_NE(run.output.find("Exit codes:"), std::string::npos);
  }
}

}  // namespace
}  // namespace kel::test
