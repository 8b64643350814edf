#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform.h"

namespace kel::cli {
namespace {

// The Windows code page of a character-set name: UTF-8, GBK or CP<number>.
UINT CodePage(const std::string &name) {
  if (name == "UTF-8") return CP_UTF8;
  if (name == "GBK") return 936;
  if (name.rfind("CP", 0) == 0)
    return static_cast<UINT>(std::strtoul(name.c_str() + 2, nullptr, 10));
  return 0;
}

std::string CodesetName(UINT code_page) {
  if (code_page == CP_UTF8) return "UTF-8";
  return "CP" + std::to_string(code_page);
}

bool ToWide(UINT code_page, const char *bytes, int count, std::wstring *wide) {
  wide->clear();
  if (count == 0) return true;
  int size = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes, count, nullptr, 0);
  if (size <= 0) return false;
  wide->resize(static_cast<std::size_t>(size));
  return MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes, count, wide->data(), size) ==
         size;
}

// Like ToWide, but a byte that starts no valid character becomes \xNN.
void ToWideEscaping(UINT code_page, const std::string &text, std::wstring *wide) {
  if (ToWide(code_page, text.data(), static_cast<int>(text.size()), wide)) return;
  wide->clear();
  std::size_t at = 0;
  while (at < text.size()) {
    std::wstring character;
    bool converted = false;
    // A character is one to four bytes long in the code pages kel meets.
    for (std::size_t length = 1; length <= 4 && at + length <= text.size(); ++length) {
      if (ToWide(code_page, text.data() + at, static_cast<int>(length), &character)) {
        wide->append(character);
        at += length;
        converted = true;
        break;
      }
    }
    if (!converted) {
      wchar_t escape[8];
      std::swprintf(escape, 8, L"\\x%02X", static_cast<unsigned char>(text[at]));
      wide->append(escape);
      ++at;
    }
  }
}

bool FromWide(UINT code_page, const std::wstring &wide, bool lenient, std::string *out) {
  out->clear();
  if (wide.empty()) return true;
  const int count = static_cast<int>(wide.size());
  DWORD flags = 0;
  BOOL used_default = FALSE;
  BOOL *used_default_out = nullptr;
  if (code_page == CP_UTF8) {
    if (!lenient) flags = WC_ERR_INVALID_CHARS;
  } else if (!lenient) {
    // No best-fit look-alikes: a character the code page has not got fails.
    flags = WC_NO_BEST_FIT_CHARS;
    used_default_out = &used_default;
  }
  int size =
      WideCharToMultiByte(code_page, flags, wide.data(), count, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  out->resize(static_cast<std::size_t>(size));
  if (WideCharToMultiByte(code_page, flags, wide.data(), count, out->data(), size, nullptr,
                          used_default_out) != size) {
    return false;
  }
  return !used_default;
}

std::string WideToUtf8(const std::wstring &wide) {
  std::string utf8;
  FromWide(CP_UTF8, wide, true, &utf8);
  return utf8;
}

bool IsConsole(DWORD handle) {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(handle), &mode) != 0;
}

ModuleVersion LoadedVersion(const wchar_t *module_name) {
  ModuleVersion result{"unknown", ""};
  HMODULE module = GetModuleHandleW(module_name);
  if (module == nullptr) return result;
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return result;
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  result.path = WideToUtf8(path);
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return result;
  std::unique_ptr<char[]> data(new char[size]);
  VS_FIXEDFILEINFO *info = nullptr;
  UINT info_size = 0;
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.get()) ||
      !VerQueryValueW(data.get(), L"\\", reinterpret_cast<void **>(&info), &info_size) ||
      info == nullptr || info_size < sizeof *info) {
    return result;
  }
  result.version = std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
                   std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
                   std::to_string(HIWORD(info->dwFileVersionLS));
  return result;
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char **argv) {
  int count = 0;
  LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(WideToUtf8(wide[i]));
  LocalFree(wide);
  return arguments;
}

std::string ArgumentCodeset() { return "UTF-8"; }

std::string OutputCodeset() {
  UINT code_page = IsConsole(STD_OUTPUT_HANDLE) ? GetConsoleOutputCP() : GetACP();
  return CodesetName(code_page == 0 ? GetACP() : code_page);
}

void UseBinaryStandardStreams() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

bool ConvertText(const std::string &from, const std::string &to, const std::string &text,
                 bool lenient, std::string *out) {
  UINT from_page = CodePage(from);
  UINT to_page = CodePage(to);
  if (from_page == 0 || to_page == 0) return false;
  std::wstring wide;
  if (lenient) {
    ToWideEscaping(from_page, text, &wide);
  } else if (!ToWide(from_page, text.data(), static_cast<int>(text.size()), &wide)) {
    return false;
  }
  return FromWide(to_page, wide, lenient, out);
}

ModuleVersion LibraryVersion() { return LoadedVersion(L"Kel.dll"); }

ModuleVersion ProviderVersion() { return LoadedVersion(L"KESTRO.dll"); }

std::string NarrowCodeset() { return CodesetName(GetACP()); }

bool SetEnvironment(const char *name, const char *value) {
  return SetEnvironmentVariableA(name, value) != 0;
}

std::string NewPrivateFile() {
  char folder[MAX_PATH + 1] = {};
  char path[MAX_PATH + 1] = {};
  DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length > MAX_PATH || GetTempFileNameA(folder, "kel", 0, path) == 0) return "";
  return path;
}

int RunAgainWith(const char *name, const char *value, char ** /*argv*/) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || !SetEnvironmentVariableA(name, value)) return -1;
  // The command line as this run got it, quoting and all; CreateProcessW may
  // write to it.
  std::wstring command_line = GetCommandLineW();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(path, &command_line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return -1;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exit_code = 1;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hProcess);
  return static_cast<int>(exit_code);
}

}  // namespace kel::cli
