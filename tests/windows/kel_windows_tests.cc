// The Windows test host: loads Kel.dll with LoadLibraryA, as a host
// application does, and runs its exports end to end against a reference seal
// server. It exercises what only the Windows build has: DllMain start-up, the
// key file found through GetModuleFileNameA and GetFileAttributesA, WinINet
// and UrlGetPartA, and the export table itself.
//
// From the environment: KEL_TEST_SERVER_URL, the reference server (started
// with the development keys and --valid-seal S-1=Acme); KEL_TEST_FIXTURES,
// the folder with the development public keys; KEL_TEST_CODE_PAGE, the ANSI
// code page the run must have; and the servers of single tests
// (KEL_TEST_FORWARD_PROXY, KEL_TEST_PROXY_URL with KEL_TEST_PROXY_RECORDS,
// KEL_TEST_IPV6_URL). Kel.dll and KESTRO.dll lie beside this program.
// Started as "kel_windows_tests --through-proxy FOLDER URL" it runs one
// transaction only (RunThroughProxy).
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/messages.h"
#include "kel/kel.h"
#include "kel_dll.h"

namespace {

// ---- Files and folders -------------------------------------------------------

// A folder name that is not ASCII in the ANSI code page `codepage`: 电子印章
// in GBK for 936, "café€" for 1252; plain ASCII for any other.
std::string NonAsciiName(UINT codepage) {
  if (codepage == 936) return "\xB5\xE7\xD7\xD3\xD3\xA1\xD5\xC2";
  if (codepage == 1252) return "caf\xE9\x80";
  return "plain";
}

bool HasNonAsciiByte(const std::string &text) {
  for (char ch : text)
    if (static_cast<unsigned char>(ch) >= 0x80) return true;
  return false;
}

// A scratch folder under the user's temporary folder, removed at the end. Its
// name is not ASCII in the process's code page, so every library copy and
// key file below it lies in such a folder.
class ScratchFolders {
 public:
  ScratchFolders() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    root_ = std::string(temp) + "kel-windows-tests-" + std::to_string(GetCurrentProcessId()) + "-" +
            NonAsciiName(GetACP());
    CreateDirectoryA(root_.c_str(), nullptr);
  }
  const std::string &Root() const { return root_; }
  ~ScratchFolders() {
    for (auto it = files_.rbegin(); it != files_.rend(); ++it) DeleteFileA(it->c_str());
    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) RemoveDirectoryA(it->c_str());
    RemoveDirectoryA(root_.c_str());
  }
  std::string Folder(const std::string &name) {
    std::string path = root_ + "\\" + name;
    CreateDirectoryA(path.c_str(), nullptr);
    folders_.push_back(path);
    return path;
  }
  bool Put(const std::string &folder, const std::string &name, const std::string &content) {
    files_.push_back(folder + "\\" + name);
    return WriteWholeFile(files_.back(), content);
  }
  bool CopyIn(const std::string &from, const std::string &folder, const std::string &name) {
    files_.push_back(folder + "\\" + name);
    return CopyFileA(from.c_str(), files_.back().c_str(), FALSE) != 0;
  }

 private:
  std::string root_;
  std::vector<std::string> folders_;
  std::vector<std::string> files_;
};

bool IsTimeText(const std::string &text) {
  const char *pattern = "dddd-dd-dd dd:dd:dd";
  if (text.size() != std::strlen(pattern)) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
    if (pattern[i] == 'd' ? !digit : text[i] != pattern[i]) return false;
  }
  return true;
}

// ---- The cases ---------------------------------------------------------------

struct Context {
  std::string server;  // the reference server's URL
  Kel kel;             // loaded with the document key beside it

  std::string Url(const std::string &query = "") const {
    return server + (query.empty() ? "" : "x?" + query);
  }
};

void ExportTable(Kel &kel) {
  // Each name resolves, and its ordinal resolves to the same function.
  const struct {
    const char *name;
    WORD ordinal;
  } exports[] = {
#define KEL_ROW(name, ordinal) {"Kel_" #name, ordinal},
      KEL_EXPORTS(KEL_ROW)
#undef KEL_ROW
  };
  for (const auto &e : exports) {
    FARPROC by_name = GetProcAddress(kel.module, e.name);
    FARPROC by_ordinal = GetProcAddress(kel.module, MAKEINTRESOURCEA(e.ordinal));
    EXPECT_TRUE(by_name != nullptr && by_name == by_ordinal) << e.name;
  }
  EXPECT_EQ(GetProcAddress(kel.module, MAKEINTRESOURCEA(15)), nullptr);

  // The export directory of the loaded image: fourteen entries, from 1.
  auto base = reinterpret_cast<const unsigned char *>(kel.module);
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY &entry =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  auto directory = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY *>(base + entry.VirtualAddress);
  EXPECT_EQ(directory->Base, 1u);
  EXPECT_EQ(directory->NumberOfFunctions, 14u);
  EXPECT_EQ(directory->NumberOfNames, 14u);
}

void VerifySeal(Context &c) {
  for (const char *format : {"format=document", "format=framed"}) {
    int status = -1;
    EXPECT_EQ(c.kel.VerifySeal(c.Url(format).c_str(), "Acme", "S-1", "2026-01-02", 1, &status), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(c.kel.LastError(), "valid seal");

    EXPECT_EQ(c.kel.VerifySeal(c.Url(format).c_str(), "Nobody", "S-404", "t", 1, &status), 0);
    EXPECT_EQ(status, 2);
  }
  for (const char *fault : {"fault=bad-signature", "format=framed&fault=frame-bad-signature"}) {
    int status = 7;
    EXPECT_EQ(c.kel.VerifySeal(c.Url(fault).c_str(), "Acme", "S-1", "t", 1, &status), 1);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(c.kel.LastError(), kel::msg::kAnswerNotVerified);
  }
}

void SendSealRecord(Context &c) {
  for (const char *format : {"format=document", "format=framed"}) {
    char *result = nullptr;
    EXPECT_TRUE(c.kel.SendSealRecord("alice", "S-1", "a remark & more", c.Url(format).c_str(),
                                     &result) == 0);
    EXPECT_EQ(c.kel.Take(result), "0,0,recorded");
    EXPECT_EQ(c.kel.LastError(), "");
  }
  char *result = nullptr;
  EXPECT_TRUE(c.kel.SendSealRecord("alice", "S-1", "r", c.Url("fault=bad-signature").c_str(),
                                   &result) == 1);
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(c.kel.LastError(), kel::msg::kAnswerNotVerified);

  EXPECT_EQ(c.kel.SendSealRecord("alice", "S-1", "r", c.Url().c_str(), nullptr), 1);
  EXPECT_EQ(c.kel.LastError(), kel::msg::kBadArgument);
}

// How many lines of the server's record log carry `remark`. A line holds
// the time, user, seal id and remark, tab-separated, with any tab inside a
// field escaped: the remark follows the last tab.
int TimesRecorded(const std::string &records, const std::string &remark) {
  int count = 0;
  for (std::size_t start = 0, end; (end = records.find('\n', start)) != std::string::npos;
       start = end + 1) {
    std::string line = records.substr(start, end - start);
    std::size_t tab = line.rfind('\t');
    if (tab != std::string::npos && line.compare(tab + 1, std::string::npos, remark) == 0) ++count;
  }
  return count;
}

// Through a proxy that closes the connection instead of passing on the
// second answer on it, after the server has written the record: WinINet
// would send the POST again on a fresh connection and the record would be
// written twice. A record of use reaches the server at most once; a call
// whose answer was lost reports the server unreachable.
void RecordsAtMostOnce(Context &c, const std::string &proxy, const std::string &records_file) {
  // Unique to this run: other runs append to the same log.
  const std::string nonce = c.kel.Take(c.kel.GetRadomString());
  struct Call {
    std::string remark;
    int result;
    std::string error;
  };
  std::vector<Call> calls;
  for (int i = 0; i < 4; ++i) {
    Call call;
    call.remark = "at-most-once-" + nonce + "-" + std::to_string(i);
    char *result = nullptr;
    call.result = c.kel.SendSealRecord("alice", "S-1", call.remark.c_str(), proxy.c_str(), &result);
    call.error = c.kel.LastError();
    if (result != nullptr) c.kel.Take(result);
    calls.push_back(call);
  }
  const std::string records = ReadWholeFile(records_file);
  int failed = 0;
  for (const Call &call : calls) {
    int recorded = TimesRecorded(records, call.remark);
    bool sound = call.result == 0 ? recorded == 1
                                  : call.result == 1 &&
                                        call.error == kel::msg::kServerUnreachable && recorded <= 1;
    if (call.result != 0) ++failed;
    EXPECT_TRUE(sound) << call.remark << ": returned " << call.result << ", recorded " << recorded
                       << " times";
  }
  // The proxy did drop an answer.
  EXPECT_GE(failed, 1);
}

// A server on the IPv6 loopback, named by its address in brackets: the host
// reaches WinINet whole, not cut at its first ':'.
void Ipv6Server(Context &c, const std::string &url) {
  const std::string authority = url.substr(url.find("//") + 2);
  for (const std::string &at :
       {url, url + "x?format=framed", "http://user:password@" + authority + "x"}) {
    int status = 7;
    bool verified = c.kel.VerifySeal(at.c_str(), "Acme", "S-1", "t", 1, &status) == 0;
    EXPECT_TRUE(verified && status == 0) << at << ": " << (verified ? "" : c.kel.LastError());
  }
}

void ServerTime(Context &c) {
  const std::string content = "contract #42 \xD6\xD0";  // a GBK byte pair included
  char *time_buffer = nullptr;
  char *signature_buffer = nullptr;
  // A framed answer gives a time too, signed by the server's one key: it
  // verifies against pubkey.key like a document answer's.
  EXPECT_TRUE(c.kel.GetServerTime(&time_buffer, &signature_buffer, content.c_str(),
                                  c.Url("format=framed").c_str()) == 0);
  {
    std::string time = c.kel.Take(time_buffer);
    std::string signature = c.kel.Take(signature_buffer);
    EXPECT_TRUE(IsTimeText(time));
    EXPECT_EQ(c.kel.VerifyTimeStamp(content.c_str(), time.c_str(), signature.c_str()), 0);
  }
  {
    // A document answer's time verifies against pubkey.key.
    EXPECT_TRUE(c.kel.GetServerTime(&time_buffer, &signature_buffer, content.c_str(),
                                    c.Url().c_str()) == 0);
    std::string time = c.kel.Take(time_buffer);
    std::string signature = c.kel.Take(signature_buffer);
    EXPECT_TRUE(IsTimeText(time));
    EXPECT_EQ(c.kel.VerifyTimeStamp(content.c_str(), time.c_str(), signature.c_str()), 0);

    // One changed byte fails, with the timestamp's own message after a
    // clearing call that stored nothing.
    std::string changed = time;
    changed.back() = changed.back() == '0' ? '1' : '0';
    unsigned char byte = 0;
    char hex[3];
    c.kel.BinToHex(&byte, hex, 1);
    EXPECT_EQ(c.kel.VerifyTimeStamp(content.c_str(), changed.c_str(), signature.c_str()), 1);
    EXPECT_EQ(c.kel.LastError(), kel::msg::kTimestampInvalid);
  }

  time_buffer = nullptr;
  signature_buffer = nullptr;
  EXPECT_TRUE(c.kel.GetServerTime(&time_buffer, &signature_buffer, "doc",
                                  c.Url("fault=bad-signature").c_str()) == 1);
  EXPECT_TRUE(time_buffer == nullptr && signature_buffer == nullptr);
  EXPECT_EQ(c.kel.LastError(), kel::msg::kAnswerNotVerified);

  // Without a URL the local clock answers, and no signature is written.
  char sentinel = 0;
  signature_buffer = &sentinel;
  EXPECT_EQ(c.kel.GetServerTime(&time_buffer, &signature_buffer, "doc", nullptr), 0);
  EXPECT_TRUE(IsTimeText(c.kel.Take(time_buffer)));
  EXPECT_EQ(signature_buffer, &sentinel);
}

void UnreachableServer(Context &c) {
  // Port 1 on loopback: nothing listens there.
  int status = 7;
  EXPECT_EQ(c.kel.VerifySeal("http://127.0.0.1:1/", "Acme", "S-1", "t", 1, &status), 1);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(c.kel.LastError(), kel::msg::kServerUnreachable);
}

void Codecs(Kel &kel) {
  char text[16] = {};
  kel.to64frombits(text, reinterpret_cast<const unsigned char *>("hello"), 5);
  EXPECT_EQ(std::string(text), "aGVsbG8=");
  unsigned char bytes[16] = {};
  EXPECT_EQ(kel.from64tobits(bytes, "aGVsbG8=", 0), 5);
  EXPECT_EQ(std::memcmp(bytes, "hello", 5), 0);
  EXPECT_EQ(kel.from64tobits(bytes, "a@b=", 0), -1);

  const unsigned char binary[] = {0x00, 0x7F, 0xA5, 0xFF};
  char hex[9] = {};
  EXPECT_EQ(kel.BinToHex(binary, hex, 4), 0);
  EXPECT_EQ(std::string(hex), "007fa5ff");
  unsigned char back[4] = {};
  EXPECT_EQ(kel.HexToBin(back, "007FA5ff", 8), 0);
  EXPECT_EQ(std::memcmp(back, binary, 4), 0);

  char *copy = nullptr;
  EXPECT_EQ(kel.GetCiphertext("some text", &copy), 0);
  EXPECT_EQ(kel.Take(copy), "some text");
  copy = nullptr;
  EXPECT_EQ(kel.GetCiphertext("", &copy), 0x00FFFFFE);
  EXPECT_EQ(copy, nullptr);
}

void LocalCrypto(Kel &kel) {
  std::string first = kel.Take(kel.GetRadomString());
  std::string second = kel.Take(kel.GetRadomString());
  EXPECT_TRUE(first.size() == 16 && second.size() == 16 && first != second);
  for (char ch : first) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(ch)) != 0);

  const std::string plain = "sealed \xD6\xD0 text";
  const std::string key = "0123456789abcdef0123456789abcdef";
  for (int key_length : {16, 24, 32}) {
    int cipher_length = 0;
    unsigned char *cipher = kel.AESEncryption(
        reinterpret_cast<const unsigned char *>(plain.data()), static_cast<int>(plain.size()),
        reinterpret_cast<const unsigned char *>(key.data()), key_length, &cipher_length);
    EXPECT_NE(cipher, nullptr);
    if (cipher == nullptr) continue;
    EXPECT_EQ(cipher_length, 16 + 16);  // the IV and one padded block
    int plain_length = 0;
    unsigned char *decrypted = kel.AESDecryption(
        cipher, cipher_length, reinterpret_cast<const unsigned char *>(key.data()), key_length,
        &plain_length);
    EXPECT_TRUE(decrypted != nullptr && plain_length == static_cast<int>(plain.size()) &&
                std::memcmp(decrypted, plain.data(), plain.size()) == 0);
    kel.ReleaseBuf(cipher);
    kel.ReleaseBuf(decrypted);
  }

  int length = 0;
  EXPECT_TRUE(kel.AESEncryption(reinterpret_cast<const unsigned char *>("x"), 1,
                                reinterpret_cast<const unsigned char *>("short"), 5,
                                &length) == nullptr);
  EXPECT_EQ(kel.LastError(), kel::msg::kEncryptFailed);
  const unsigned char ragged[20] = {};
  EXPECT_TRUE(kel.AESDecryption(ragged, 20, reinterpret_cast<const unsigned char *>(key.data()), 16,
                                &length) == nullptr);
  EXPECT_EQ(kel.LastError(), kel::msg::kDecryptFailed);
}

void LastErrorAndRelease(Kel &kel) {
  unsigned char byte = 1;
  char hex[3];
  kel.BinToHex(&byte, hex, 1);
  char *empty = kel.GetLastErr();
  EXPECT_TRUE(empty != nullptr && empty[0] == 0);
  EXPECT_EQ(kel.ReleaseBuf(empty), 0);
  EXPECT_EQ(kel.ReleaseBuf(nullptr), 1);

  int length = 0;
  kel.AESDecryption(&byte, 1, &byte, 1, &length);
  char *one = kel.GetLastErr();
  char *two = kel.GetLastErr();
  EXPECT_TRUE(one != two && std::string(one) == kel::msg::kDecryptFailed &&
              std::string(one) == two);
  kel.ReleaseBuf(one);
  kel.ReleaseBuf(two);

  // Neither base64 export touches the text.
  unsigned char out[4];
  EXPECT_EQ(kel.from64tobits(out, "!!!!", 0), -1);
  EXPECT_EQ(kel.LastError(), kel::msg::kDecryptFailed);
}

// Runs this program with --through-proxy in a process of its own (which
// inherits the environment): Kel.dll from `folder` verifies a seal at `url`.
// Its exit code: 0 when the seal verified.
DWORD RunThroughProxy(const std::string &folder, const std::string &url) {
  std::string command = "\"" + ProgramPath() + "\" --through-proxy \"" + folder + "\" " + url;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return GetLastError();
  }
  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(process.hProcess, 60 * 1000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

// Kel.dll alone, Kel.dll with the document key beside it, and current
// directories with the right key, a wrong one (valid, but another key's) and
// none, all in a scratch folder whose name is not ASCII. KESTRO.dll is found
// beside this program.
class KelWindowsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    context_.server = Setting("KEL_TEST_SERVER_URL");
    const std::string document_key = DevelopmentKey();
    const std::string other_key = DevelopmentKey("dev-only-other-server-key.pub");
    if (context_.server.empty() || document_key.empty() || other_key.empty()) {
      problem_ = "KEL_TEST_SERVER_URL unset, or no development keys in KEL_TEST_FIXTURES";
      return;
    }
    const std::string dll = ProgramFolder() + "\\Kel.dll";
    scratch_ = new ScratchFolders;
    bare_ = scratch_->Folder("bare");
    beside_ = scratch_->Folder("beside");
    cwd_good_ = scratch_->Folder("cwd-good");
    cwd_wrong_ = scratch_->Folder("cwd-wrong");
    cwd_none_ = scratch_->Folder("cwd-none");
    traced_ = scratch_->Folder("traced");
    bool ready = scratch_->CopyIn(dll, bare_, "Kel.dll") &&
                 scratch_->CopyIn(dll, beside_, "Kel.dll") &&
                 scratch_->CopyIn(dll, traced_, "Kel.dll") &&
                 scratch_->Put(traced_, "pubkey.key", document_key) &&
                 scratch_->Put(beside_, "pubkey.key", document_key) &&
                 scratch_->Put(cwd_good_, "pubkey.key", document_key) &&
                 scratch_->Put(cwd_wrong_, "pubkey.key", other_key);
    if (!ready) problem_ = "cannot prepare the scratch folders in " + scratch_->Root();
  }
  static void TearDownTestSuite() {
    SetCurrentDirectoryA(ProgramFolder().c_str());
    delete scratch_;
  }
  void SetUp() override { ASSERT_EQ(problem_, ""); }

  // Verifies a document answer with whatever key `kel` loaded.
  static int DocumentVerdict(Kel &kel, int *status) {
    return kel.VerifySeal(context_.Url("format=document").c_str(), "Acme", "S-1", "t", 1, status);
  }
  // The URL in `setting`, which must be set.
  static std::string Server(const char *setting) {
    std::string url = Setting(setting);
    EXPECT_NE(url, "") << setting << " is not set";
    return url;
  }

  static inline Context context_;
  static inline ScratchFolders *scratch_ = nullptr;
  static inline std::string bare_, beside_, cwd_good_, cwd_wrong_, cwd_none_, traced_;
  static inline std::string problem_;
};

// The library loaded from the folder with the key beside it, from a current
// directory without one.
class LoadedKelTest : public KelWindowsTest {
 protected:
  void SetUp() override {
    KelWindowsTest::SetUp();
    SetCurrentDirectoryA(cwd_none_.c_str());
    ASSERT_TRUE(LoadKel(beside_, &context_.kel)) << "cannot load " << beside_ << "\\Kel.dll";
  }
  void TearDown() override {
    if (context_.kel.module != nullptr) UnloadKel(&context_.kel);
  }
};

// The run must have the ANSI code page it was started for, and run from a
// folder whose name is not ASCII in it: a locale that Wine names but cannot
// load would silently test ASCII paths only.
TEST_F(KelWindowsTest, RunsInItsCodePageFromFoldersWhoseNamesAreNotAscii) {
  const std::string expected = Setting("KEL_TEST_CODE_PAGE");
  ASSERT_NE(expected, "") << "KEL_TEST_CODE_PAGE is not set";
  EXPECT_EQ(GetACP(), static_cast<UINT>(std::atoi(expected.c_str())));
  EXPECT_TRUE(HasNonAsciiByte(ProgramFolder())) << ProgramFolder();
  EXPECT_TRUE(HasNonAsciiByte(scratch_->Root())) << scratch_->Root();
}

TEST_F(KelWindowsTest, KeyBesideTheLibraryWinsOverTheCurrentDirectorys) {
  SetCurrentDirectoryA(cwd_wrong_.c_str());
  Kel kel;
  ASSERT_TRUE(LoadKel(beside_, &kel));
  int status = 7;
  EXPECT_EQ(DocumentVerdict(kel, &status), 0);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(UnloadKel(&kel));
}

TEST_F(KelWindowsTest, KeyOnlyInTheCurrentDirectoryIsLoaded) {
  for (const std::string &cwd : {cwd_good_, cwd_wrong_}) {
    SCOPED_TRACE(cwd);
    SetCurrentDirectoryA(cwd.c_str());
    Kel kel;
    ASSERT_TRUE(LoadKel(bare_, &kel));
    int status = 7;
    int result = DocumentVerdict(kel, &status);
    if (cwd == cwd_good_) {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(status, 0);
    } else {
      EXPECT_EQ(result, 1);
      EXPECT_EQ(kel.LastError(), kel::msg::kAnswerNotVerified);
    }
    EXPECT_TRUE(UnloadKel(&kel));
  }
}

TEST_F(KelWindowsTest, NoKeyAnywhereFailsDocumentsAndFramedAnswersUseTheBuiltInKey) {
  SetCurrentDirectoryA(cwd_none_.c_str());
  Kel kel;
  ASSERT_TRUE(LoadKel(bare_, &kel));
  int status = 7;
  EXPECT_EQ(DocumentVerdict(kel, &status), 1);
  EXPECT_EQ(kel.LastError(), kel::msg::kNoPublicKey);
  EXPECT_EQ(kel.VerifySeal(context_.Url("format=framed").c_str(), "Acme", "S-1", "t", 1, &status),
            0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(kel.LastError(), "valid seal");
  unsigned char byte = 0;
  char hex[3];
  kel.BinToHex(&byte, hex, 1);
  EXPECT_EQ(kel.VerifyTimeStamp("content", "2026-01-01 00:00:00", "c2ln"), 1);
  EXPECT_EQ(kel.LastError(), kel::msg::kNoPublicKey);
  EXPECT_TRUE(UnloadKel(&kel));
}

// Through a forward proxy in front of the server, to a host name that does
// not resolve: only the proxy can reach the server. WinINet takes the
// proxy from the system's settings, which under Wine include http_proxy and
// no_proxy (as its bypass list), read once per process: each transaction
// runs in a process started with them.
TEST_F(KelWindowsTest, HttpProxyTakesWinInetThroughTheProxyAndTheTraceNamesIt) {
  const std::string proxy = Server("KEL_TEST_FORWARD_PROXY");  // http://127.0.0.1:PORT/
  ASSERT_NE(proxy, "");
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string trace =
      std::string(temp) + "kel-proxy-trace-" + std::to_string(GetCurrentProcessId()) + ".txt";
  const std::string url =
      "http://seal.invalid" + context_.server.substr(context_.server.rfind(':')) + "x";
  const struct {
    const char *no_proxy;
    DWORD exit_code;  // 0: verified
    std::string shown;
  } rows[] = {
      {nullptr, 0, " proxy=" + proxy.substr(0, proxy.size() - 1) + " "},
      // Bypassed by WinINet's own rules: the name does not resolve.
      {"seal.invalid", 1, " proxy=system "},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.no_proxy == nullptr ? "no_proxy unset" : row.no_proxy);
    SetEnvironmentVariableA("KEL_TRACE", trace.c_str());
    SetEnvironmentVariableA("http_proxy", proxy.c_str());
    SetEnvironmentVariableA("no_proxy", row.no_proxy);
    EXPECT_EQ(RunThroughProxy(traced_, url), row.exit_code);
    for (const char *name : {"KEL_TRACE", "http_proxy", "no_proxy"}) {
      SetEnvironmentVariableA(name, nullptr);
    }
    const std::string text = ReadWholeFile(trace);
    EXPECT_NE(text.find(" exchange "), std::string::npos) << text;
    EXPECT_NE(text.find(row.shown), std::string::npos) << text;
    DeleteFileA(trace.c_str());
  }
}

TEST_F(KelWindowsTest, TraceHasALinePerExchangeWithWinInetsOwnError) {
  // Read as the library starts. The file's path is ASCII: Wine's
  // GetEnvironmentVariableA cuts a value with double-byte characters short
  // (it counts UTF-16 units), which Windows does not.
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string trace =
      std::string(temp) + "kel-trace-" + std::to_string(GetCurrentProcessId()) + ".txt";
  SetEnvironmentVariableA("KEL_TRACE", trace.c_str());
  Kel kel;
  ASSERT_TRUE(LoadKel(traced_, &kel));
  SetEnvironmentVariableA("KEL_TRACE", nullptr);
  int status = 7;
  EXPECT_EQ(kel.VerifySeal(context_.Url().c_str(), "Acme", "S-1", "t", 1, &status), 0);
  kel.VerifySeal(context_.Url("fault=bad-signature").c_str(), "Acme", "S-1", "t", 1, &status);
  kel.VerifySeal("http://127.0.0.1:1/", "Acme", "S-1", "t", 1, &status);
  EXPECT_TRUE(UnloadKel(&kel));
  const std::string text = ReadWholeFile(trace);
  DeleteFileA(trace.c_str());
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  const char *expected[] = {" start key_file=", " exchange result=ok format=document status=200 ",
                            " exchange result=not-verified format=document ",
                            " exchange result=unreachable format=none status=0 "};
  ASSERT_EQ(lines.size(), 4u) << text;
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_NE(lines[i].find(expected[i]), std::string::npos) << lines[i];
  }
  EXPECT_NE(lines[3].find("error=\"HttpSendRequestExA failed: error "), std::string::npos)
      << lines[3];
  // No proxy is configured for this run.
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_NE(lines[i].find(" proxy=none "), std::string::npos) << lines[i];
  }
  EXPECT_EQ(text.find("Acme"), std::string::npos);
}

TEST_F(LoadedKelTest, ExportsByNameAndByOrdinalAndNothingElse) { ExportTable(context_.kel); }
TEST_F(LoadedKelTest, VerifySeal) { VerifySeal(context_); }
TEST_F(LoadedKelTest, SendSealRecord) { SendSealRecord(context_); }

TEST_F(LoadedKelTest, SendSealRecordSendsARecordAtMostOnceAnAnswerLostOrNot) {
  const std::string proxy = Server("KEL_TEST_PROXY_URL");
  const std::string records = Server("KEL_TEST_PROXY_RECORDS");
  ASSERT_FALSE(proxy.empty() || records.empty());
  RecordsAtMostOnce(context_, proxy, records);
}

TEST_F(LoadedKelTest, AServerAtAnIpv6AddressInBrackets) {
  const std::string url = Server("KEL_TEST_IPV6_URL");
  ASSERT_NE(url, "");
  Ipv6Server(context_, url);
}

TEST_F(LoadedKelTest, GetServerTimeAndVerifyTimeStamp) { ServerTime(context_); }
TEST_F(LoadedKelTest, AnUnreachableServer) { UnreachableServer(context_); }
TEST_F(LoadedKelTest, Base64HexAndTextCopy) { Codecs(context_.kel); }
TEST_F(LoadedKelTest, RandomStringsAndAes) { LocalCrypto(context_.kel); }
TEST_F(LoadedKelTest, GetLastErrAndReleaseBuf) { LastErrorAndRelease(context_.kel); }

}  // namespace

int main(int argc, char **argv) {
  // The child of RunThroughProxy.
  if (argc == 4 && std::strcmp(argv[1], "--through-proxy") == 0) {
    Kel kel;
    if (!LoadKel(argv[2], &kel)) return 2;
    int status = 7;
    bool verified = kel.VerifySeal(argv[3], "Acme", "S-1", "t", 1, &status) == 0 && status == 0;
    UnloadKel(&kel);
    return verified ? 0 : 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
