// The Windows test host: loads Kel.dll with LoadLibraryA, as a host
// application does, and runs its exports end to end against a reference seal
// server. It exercises what only the Windows build has: DllMain start-up, the
// key file found through GetModuleFileNameA and GetFileAttributesA, WinINet
// and UrlGetPartA, and the export table itself.
//
// Usage: kel_windows_tests SERVER_URL FIXTURES_DIR
//   SERVER_URL    the reference server, e.g. http://127.0.0.1:4711/, started
//                 with the development keys and --valid-seal S-1=Acme
//   FIXTURES_DIR  the folder with the development public keys
// Kel.dll and KESTRO.dll lie beside this program. The last line of output is
// "N passed, N failed"; the exit code is 0 only when nothing failed. Started
// as "kel_windows_tests --through-proxy FOLDER URL" it runs one transaction
// only (RunThroughProxy).
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "api/messages.h"
#include "harness.h"
#include "kel/kel.h"

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
    return WriteFile(files_.back(), content);
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
    if (by_name == nullptr || by_name != by_ordinal) std::printf("    %s\n", e.name);
    CHECK(by_name != nullptr && by_name == by_ordinal);
  }
  CHECK(GetProcAddress(kel.module, MAKEINTRESOURCEA(15)) == nullptr);

  // The export directory of the loaded image: fourteen entries, from 1.
  auto base = reinterpret_cast<const unsigned char *>(kel.module);
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY &entry =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  auto directory = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY *>(base + entry.VirtualAddress);
  CHECK(directory->Base == 1);
  CHECK(directory->NumberOfFunctions == 14);
  CHECK(directory->NumberOfNames == 14);
}

void VerifySeal(Context &c) {
  for (const char *format : {"format=document", "format=framed"}) {
    int status = -1;
    CHECK(c.kel.VerifySeal(c.Url(format).c_str(), "Acme", "S-1", "2026-01-02", 1, &status) == 0);
    CHECK(status == 0);
    CHECK(c.kel.LastError() == "valid seal");

    CHECK(c.kel.VerifySeal(c.Url(format).c_str(), "Nobody", "S-404", "t", 1, &status) == 0);
    CHECK(status == 2);
  }
  for (const char *fault : {"fault=bad-signature", "format=framed&fault=frame-bad-signature"}) {
    int status = 7;
    CHECK(c.kel.VerifySeal(c.Url(fault).c_str(), "Acme", "S-1", "t", 1, &status) == 1);
    CHECK(status == 1);
    CHECK(c.kel.LastError() == kel::msg::kAnswerNotVerified);
  }
}

void SendSealRecord(Context &c) {
  for (const char *format : {"format=document", "format=framed"}) {
    char *result = nullptr;
    CHECK(c.kel.SendSealRecord("alice", "S-1", "a remark & more", c.Url(format).c_str(), &result) ==
          0);
    CHECK(c.kel.Take(result) == "0,0,recorded");
    CHECK(c.kel.LastError().empty());
  }
  char *result = nullptr;
  CHECK(c.kel.SendSealRecord("alice", "S-1", "r", c.Url("fault=bad-signature").c_str(), &result) ==
        1);
  CHECK(result == nullptr);
  CHECK(c.kel.LastError() == kel::msg::kAnswerNotVerified);

  CHECK(c.kel.SendSealRecord("alice", "S-1", "r", c.Url().c_str(), nullptr) == 1);
  CHECK(c.kel.LastError() == kel::msg::kBadArgument);
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
  const std::string records = ReadFile(records_file);
  int failed = 0;
  for (const Call &call : calls) {
    int recorded = TimesRecorded(records, call.remark);
    bool sound = call.result == 0 ? recorded == 1
                                  : call.result == 1 &&
                                        call.error == kel::msg::kServerUnreachable && recorded <= 1;
    if (call.result != 0) ++failed;
    if (!sound) {
      std::printf("    %s: returned %d, recorded %d times\n", call.remark.c_str(), call.result,
                  recorded);
    }
    CHECK(sound);
  }
  // The proxy did drop an answer.
  CHECK(failed >= 1);
}

// A server on the IPv6 loopback, named by its address in brackets: the host
// reaches WinINet whole, not cut at its first ':'.
void Ipv6Server(Context &c, const std::string &url) {
  const std::string authority = url.substr(url.find("//") + 2);
  for (const std::string &at :
       {url, url + "x?format=framed", "http://user:password@" + authority + "x"}) {
    int status = 7;
    bool verified = c.kel.VerifySeal(at.c_str(), "Acme", "S-1", "t", 1, &status) == 0;
    if (!verified) std::printf("    %s: %s\n", at.c_str(), c.kel.LastError().c_str());
    CHECK(verified && status == 0);
  }
}

void ServerTime(Context &c) {
  const std::string content = "contract #42 \xD6\xD0";  // a GBK byte pair included
  char *time_buffer = nullptr;
  char *signature_buffer = nullptr;
  // A framed answer gives a time too, signed by the server's one key: it
  // verifies against pubkey.key like a document answer's.
  CHECK(c.kel.GetServerTime(&time_buffer, &signature_buffer, content.c_str(),
                            c.Url("format=framed").c_str()) == 0);
  {
    std::string time = c.kel.Take(time_buffer);
    std::string signature = c.kel.Take(signature_buffer);
    CHECK(IsTimeText(time));
    CHECK(c.kel.VerifyTimeStamp(content.c_str(), time.c_str(), signature.c_str()) == 0);
  }
  {
    // A document answer's time verifies against pubkey.key.
    CHECK(c.kel.GetServerTime(&time_buffer, &signature_buffer, content.c_str(), c.Url().c_str()) ==
          0);
    std::string time = c.kel.Take(time_buffer);
    std::string signature = c.kel.Take(signature_buffer);
    CHECK(IsTimeText(time));
    CHECK(c.kel.VerifyTimeStamp(content.c_str(), time.c_str(), signature.c_str()) == 0);

    // One changed byte fails, with the timestamp's own message after a
    // clearing call that stored nothing.
    std::string changed = time;
    changed.back() = changed.back() == '0' ? '1' : '0';
    unsigned char byte = 0;
    char hex[3];
    c.kel.BinToHex(&byte, hex, 1);
    CHECK(c.kel.VerifyTimeStamp(content.c_str(), changed.c_str(), signature.c_str()) == 1);
    CHECK(c.kel.LastError() == kel::msg::kTimestampInvalid);
  }

  time_buffer = nullptr;
  signature_buffer = nullptr;
  CHECK(c.kel.GetServerTime(&time_buffer, &signature_buffer, "doc",
                            c.Url("fault=bad-signature").c_str()) == 1);
  CHECK(time_buffer == nullptr && signature_buffer == nullptr);
  CHECK(c.kel.LastError() == kel::msg::kAnswerNotVerified);

  // Without a URL the local clock answers, and no signature is written.
  char sentinel = 0;
  signature_buffer = &sentinel;
  CHECK(c.kel.GetServerTime(&time_buffer, &signature_buffer, "doc", nullptr) == 0);
  CHECK(IsTimeText(c.kel.Take(time_buffer)));
  CHECK(signature_buffer == &sentinel);
}

void UnreachableServer(Context &c) {
  // Port 1 on loopback: nothing listens there.
  int status = 7;
  CHECK(c.kel.VerifySeal("http://127.0.0.1:1/", "Acme", "S-1", "t", 1, &status) == 1);
  CHECK(status == 1);
  CHECK(c.kel.LastError() == kel::msg::kServerUnreachable);
}

void Codecs(Kel &kel) {
  char text[16] = {};
  kel.to64frombits(text, reinterpret_cast<const unsigned char *>("hello"), 5);
  CHECK(std::string(text) == "aGVsbG8=");
  unsigned char bytes[16] = {};
  CHECK(kel.from64tobits(bytes, "aGVsbG8=", 0) == 5);
  CHECK(std::memcmp(bytes, "hello", 5) == 0);
  CHECK(kel.from64tobits(bytes, "a@b=", 0) == -1);

  const unsigned char binary[] = {0x00, 0x7F, 0xA5, 0xFF};
  char hex[9] = {};
  CHECK(kel.BinToHex(binary, hex, 4) == 0);
  CHECK(std::string(hex) == "007fa5ff");
  unsigned char back[4] = {};
  CHECK(kel.HexToBin(back, "007FA5ff", 8) == 0);
  CHECK(std::memcmp(back, binary, 4) == 0);

  char *copy = nullptr;
  CHECK(kel.GetCiphertext("some text", &copy) == 0);
  CHECK(kel.Take(copy) == "some text");
  copy = nullptr;
  CHECK(kel.GetCiphertext("", &copy) == 0x00FFFFFE);
  CHECK(copy == nullptr);
}

void LocalCrypto(Kel &kel) {
  std::string first = kel.Take(kel.GetRadomString());
  std::string second = kel.Take(kel.GetRadomString());
  CHECK(first.size() == 16 && second.size() == 16 && first != second);
  for (char ch : first) CHECK(std::isalnum(static_cast<unsigned char>(ch)) != 0);

  const std::string plain = "sealed \xD6\xD0 text";
  const std::string key = "0123456789abcdef0123456789abcdef";
  for (int key_length : {16, 24, 32}) {
    int cipher_length = 0;
    unsigned char *cipher = kel.AESEncryption(
        reinterpret_cast<const unsigned char *>(plain.data()), static_cast<int>(plain.size()),
        reinterpret_cast<const unsigned char *>(key.data()), key_length, &cipher_length);
    CHECK(cipher != nullptr);
    if (cipher == nullptr) continue;
    CHECK(cipher_length == 16 + 16);  // the IV and one padded block
    int plain_length = 0;
    unsigned char *decrypted = kel.AESDecryption(
        cipher, cipher_length, reinterpret_cast<const unsigned char *>(key.data()), key_length,
        &plain_length);
    CHECK(decrypted != nullptr && plain_length == static_cast<int>(plain.size()) &&
          std::memcmp(decrypted, plain.data(), plain.size()) == 0);
    kel.ReleaseBuf(cipher);
    kel.ReleaseBuf(decrypted);
  }

  int length = 0;
  CHECK(kel.AESEncryption(reinterpret_cast<const unsigned char *>("x"), 1,
                          reinterpret_cast<const unsigned char *>("short"), 5, &length) == nullptr);
  CHECK(kel.LastError() == kel::msg::kEncryptFailed);
  const unsigned char ragged[20] = {};
  CHECK(kel.AESDecryption(ragged, 20, reinterpret_cast<const unsigned char *>(key.data()), 16,
                          &length) == nullptr);
  CHECK(kel.LastError() == kel::msg::kDecryptFailed);
}

void LastErrorAndRelease(Kel &kel) {
  unsigned char byte = 1;
  char hex[3];
  kel.BinToHex(&byte, hex, 1);
  char *empty = kel.GetLastErr();
  CHECK(empty != nullptr && empty[0] == 0);
  CHECK(kel.ReleaseBuf(empty) == 0);
  CHECK(kel.ReleaseBuf(nullptr) == 1);

  int length = 0;
  kel.AESDecryption(&byte, 1, &byte, 1, &length);
  char *one = kel.GetLastErr();
  char *two = kel.GetLastErr();
  CHECK(one != two && std::string(one) == kel::msg::kDecryptFailed && std::string(one) == two);
  kel.ReleaseBuf(one);
  kel.ReleaseBuf(two);

  // Neither base64 export touches the text.
  unsigned char out[4];
  CHECK(kel.from64tobits(out, "!!!!", 0) == -1);
  CHECK(kel.LastError() == kel::msg::kDecryptFailed);
}

// Runs this program with --through-proxy in a process of its own (which
// inherits the environment): Kel.dll from `folder` verifies a seal at `url`.
// Its exit code: 0 when the seal verified.
DWORD RunThroughProxy(const std::string &folder, const std::string &url) {
  std::string command = "\"" + OwnPath() + "\" --through-proxy \"" + folder + "\" " + url;
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

}  // namespace

int main(int argc, char **argv) {
  // The child of RunThroughProxy.
  if (argc == 4 && std::strcmp(argv[1], "--through-proxy") == 0) {
    Kel kel;
    if (!Load(argv[2], &kel)) return 2;
    int status = 7;
    bool verified = kel.VerifySeal(argv[3], "Acme", "S-1", "t", 1, &status) == 0 && status == 0;
    Unload(&kel);
    return verified ? 0 : 1;
  }
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: kel_windows_tests SERVER_URL FIXTURES_DIR [CODE_PAGE]\n");
    return 2;
  }
  // With an expected ANSI code page, the run must have it, and must run from
  // a folder whose name is not ASCII in it: a locale that Wine names but
  // cannot load would silently test ASCII paths only.
  const UINT expected_codepage = argc == 4 ? static_cast<UINT>(std::atoi(argv[3])) : 0;
  Context context;
  context.server = argv[1];
  const std::string fixtures = argv[2];
  const std::string document_key = ReadFile(fixtures + "\\dev-only-document-server-key.pub");
  const std::string other_key = ReadFile(fixtures + "\\dev-only-other-server-key.pub");
  const std::string dll = OwnFolder() + "\\Kel.dll";
  if (document_key.empty() || other_key.empty()) {
    std::fprintf(stderr, "cannot read the development keys in %s\n", fixtures.c_str());
    return 2;
  }

  // Kel.dll alone, Kel.dll with the document key beside it, and current
  // directories with the right key, a wrong one (valid, but another key's)
  // and none. KESTRO.dll is found beside this program.
  ScratchFolders scratch;
  std::string bare = scratch.Folder("bare");
  std::string beside = scratch.Folder("beside");
  std::string cwd_good = scratch.Folder("cwd-good");
  std::string cwd_wrong = scratch.Folder("cwd-wrong");
  std::string cwd_none = scratch.Folder("cwd-none");
  std::string traced = scratch.Folder("traced");
  bool ready = scratch.CopyIn(dll, bare, "Kel.dll") && scratch.CopyIn(dll, beside, "Kel.dll") &&
               scratch.CopyIn(dll, traced, "Kel.dll") &&
               scratch.Put(traced, "pubkey.key", document_key) &&
               scratch.Put(beside, "pubkey.key", document_key) &&
               scratch.Put(cwd_good, "pubkey.key", document_key) &&
               scratch.Put(cwd_wrong, "pubkey.key", other_key);
  if (!ready) {
    std::fprintf(stderr, "cannot prepare the scratch folders\n");
    return 2;
  }

  Tally tally;
  if (expected_codepage != 0) {
    RunCase(&tally, "the run's ANSI code page, and folders whose names are not ASCII in it", [&] {
      CHECK(GetACP() == expected_codepage);
      CHECK(HasNonAsciiByte(OwnFolder()));
      CHECK(HasNonAsciiByte(scratch.Root()));
    });
  }
  // Verifies a document answer with whatever key the library loaded.
  auto document_verdict = [&](Kel &kel, int *status) {
    return kel.VerifySeal(context.Url("format=document").c_str(), "Acme", "S-1", "t", 1, status);
  };

  RunCase(&tally, "pubkey.key beside the library wins over the current directory's", [&] {
    SetCurrentDirectoryA(cwd_wrong.c_str());
    Kel kel;
    CHECK(Load(beside, &kel));
    int status = 7;
    CHECK(document_verdict(kel, &status) == 0 && status == 0);
    CHECK(Unload(&kel));
  });
  RunCase(&tally, "pubkey.key only in the current directory is loaded", [&] {
    for (const std::string &cwd : {cwd_good, cwd_wrong}) {
      SetCurrentDirectoryA(cwd.c_str());
      Kel kel;
      CHECK(Load(bare, &kel));
      int status = 7;
      int result = document_verdict(kel, &status);
      if (cwd == cwd_good) {
        CHECK(result == 0 && status == 0);
      } else {
        CHECK(result == 1 && kel.LastError() == kel::msg::kAnswerNotVerified);
      }
      CHECK(Unload(&kel));
    }
  });
  RunCase(&tally, "no key anywhere: documents fail, framed answers use the built-in key", [&] {
    SetCurrentDirectoryA(cwd_none.c_str());
    Kel kel;
    CHECK(Load(bare, &kel));
    int status = 7;
    CHECK(document_verdict(kel, &status) == 1);
    CHECK(kel.LastError() == kel::msg::kNoPublicKey);
    CHECK(kel.VerifySeal(context.Url("format=framed").c_str(), "Acme", "S-1", "t", 1, &status) ==
          0);
    CHECK(status == 0 && kel.LastError() == "valid seal");
    unsigned char byte = 0;
    char hex[3];
    kel.BinToHex(&byte, hex, 1);
    CHECK(kel.VerifyTimeStamp("content", "2026-01-01 00:00:00", "c2ln") == 1);
    CHECK(kel.LastError() == kel::msg::kNoPublicKey);
    CHECK(Unload(&kel));
  });

  // Through a forward proxy in front of the server, to a host name that does
  // not resolve: only the proxy can reach the server. WinINet takes the
  // proxy from the system's settings, which under Wine include http_proxy and
  // no_proxy (as its bypass list), read once per process: each transaction
  // runs in a process started with them.
  if (const char *forward = std::getenv("KEL_TEST_FORWARD_PROXY")) {
    RunCase(&tally, "http_proxy: WinINet goes through the proxy, and the trace names it", [&] {
      char temp[MAX_PATH] = {};
      GetTempPathA(MAX_PATH, temp);
      const std::string trace =
          std::string(temp) + "kel-proxy-trace-" + std::to_string(GetCurrentProcessId()) + ".txt";
      const std::string proxy = forward;  // http://127.0.0.1:PORT/
      const std::string url =
          "http://seal.invalid" + context.server.substr(context.server.rfind(':')) + "x";
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
        SetEnvironmentVariableA("KEL_TRACE", trace.c_str());
        SetEnvironmentVariableA("http_proxy", proxy.c_str());
        SetEnvironmentVariableA("no_proxy", row.no_proxy);
        CHECK(RunThroughProxy(traced, url) == row.exit_code);
        for (const char *name : {"KEL_TRACE", "http_proxy", "no_proxy"}) {
          SetEnvironmentVariableA(name, nullptr);
        }
        const std::string text = ReadFile(trace);
        bool named = text.find(" exchange ") != std::string::npos &&
                     text.find(row.shown) != std::string::npos;
        if (!named) std::printf("    %s\n", text.c_str());
        CHECK(named);
        DeleteFileA(trace.c_str());
      }
    });
  }

  RunCase(&tally, "KEL_TRACE: a line per exchange, with WinINet's own error", [&] {
    // Read as the library starts. The file's path is ASCII: Wine's
    // GetEnvironmentVariableA cuts a value with double-byte characters short
    // (it counts UTF-16 units), which Windows does not.
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string trace =
        std::string(temp) + "kel-trace-" + std::to_string(GetCurrentProcessId()) + ".txt";
    SetEnvironmentVariableA("KEL_TRACE", trace.c_str());
    Kel kel;
    CHECK(Load(traced, &kel));
    SetEnvironmentVariableA("KEL_TRACE", nullptr);
    int status = 7;
    CHECK(kel.VerifySeal(context.Url().c_str(), "Acme", "S-1", "t", 1, &status) == 0);
    kel.VerifySeal(context.Url("fault=bad-signature").c_str(), "Acme", "S-1", "t", 1, &status);
    kel.VerifySeal("http://127.0.0.1:1/", "Acme", "S-1", "t", 1, &status);
    CHECK(Unload(&kel));
    const std::string text = ReadFile(trace);
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
      lines.push_back(text.substr(start, end - start));
    }
    const char *expected[] = {" start key_file=", " exchange result=ok format=document status=200 ",
                              " exchange result=not-verified format=document ",
                              " exchange result=unreachable format=none status=0 "};
    CHECK(lines.size() == 4);
    for (std::size_t i = 0; i < lines.size() && i < 4; ++i) {
      bool found = lines[i].find(expected[i]) != std::string::npos;
      if (!found) std::printf("    %s\n", lines[i].c_str());
      CHECK(found);
    }
    CHECK(lines.size() == 4 &&
          lines[3].find("error=\"HttpSendRequestExA failed: error ") != std::string::npos);
    // No proxy is configured for this run.
    for (std::size_t i = 1; i < lines.size(); ++i) {
      CHECK(lines[i].find(" proxy=none ") != std::string::npos);
    }
    CHECK(text.find("Acme") == std::string::npos);
    DeleteFileA(trace.c_str());
  });

  SetCurrentDirectoryA(cwd_none.c_str());
  if (!Load(beside, &context.kel)) {
    std::fprintf(stderr, "cannot load %s\\Kel.dll\n", beside.c_str());
    return 2;
  }
  RunCase(&tally, "exports by name and by ordinal, and nothing else",
          [&] { ExportTable(context.kel); });
  RunCase(&tally, "Kel_VerifySeal", [&] { VerifySeal(context); });
  RunCase(&tally, "Kel_SendSealRecord", [&] { SendSealRecord(context); });
  const char *proxy = std::getenv("KEL_TEST_PROXY_URL");
  const char *proxy_records = std::getenv("KEL_TEST_PROXY_RECORDS");
  if (proxy != nullptr && proxy_records != nullptr) {
    RunCase(&tally, "Kel_SendSealRecord sends a record at most once, an answer lost or not",
            [&] { RecordsAtMostOnce(context, proxy, proxy_records); });
  } else {
    std::printf(
        "[SKIP] records at most once: KEL_TEST_PROXY_URL or KEL_TEST_PROXY_RECORDS unset\n");
  }
  if (const char *ipv6 = std::getenv("KEL_TEST_IPV6_URL")) {
    RunCase(&tally, "a server at an IPv6 address in brackets", [&] { Ipv6Server(context, ipv6); });
  } else {
    std::printf("[SKIP] IPv6: KEL_TEST_IPV6_URL unset\n");
  }
  RunCase(&tally, "Kel_GetServerTime and Kel_VerifyTimeStamp", [&] { ServerTime(context); });
  RunCase(&tally, "an unreachable server", [&] { UnreachableServer(context); });
  RunCase(&tally, "base64, hex and text copy", [&] { Codecs(context.kel); });
  RunCase(&tally, "random strings and AES", [&] { LocalCrypto(context.kel); });
  RunCase(&tally, "Kel_GetLastErr and Kel_ReleaseBuf", [&] { LastErrorAndRelease(context.kel); });
  Unload(&context.kel);

  std::printf("%d passed, %d failed\n", tally.passed, tally.failed);
  return tally.failed == 0 ? 0 : 1;
}
