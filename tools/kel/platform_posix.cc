#include <iconv.h>
#include <langinfo.h>
#include <link.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform.h"

namespace kel::cli {
namespace {

class Iconv {
 public:
  Iconv(const std::string &to, const std::string &from)
      : handle_(iconv_open(to.c_str(), from.c_str())) {}
  ~Iconv() {
    if (ok()) iconv_close(handle_);
  }
  Iconv(const Iconv &) = delete;
  Iconv &operator=(const Iconv &) = delete;

  bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // Converts all of `in`. With `escape_invalid`, a byte that does not
  // convert is written as \xNN and conversion goes on; without, the first
  // such byte fails the conversion.
  bool Convert(const std::string &in, bool escape_invalid, std::string *out) {
    out->clear();
    std::string input = in;  // iconv's input pointer is not const on every platform
    char *next_in = input.data();
    std::size_t left_in = input.size();
    char chunk[256];
    while (left_in > 0) {
      char *next_out = chunk;
      std::size_t left_out = sizeof chunk;
      std::size_t done = iconv(handle_, &next_in, &left_in, &next_out, &left_out);
      out->append(chunk, next_out - chunk);
      if (done != static_cast<std::size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (a character cut off at the end): one byte that
      // does not belong to the source character set.
      if (!escape_invalid) return false;
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(*next_in));
      out->append(escape);
      ++next_in;
      --left_in;
      iconv(handle_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    }
    char *next_out = chunk;
    std::size_t left_out = sizeof chunk;
    iconv(handle_, nullptr, nullptr, &next_out, &left_out);  // flush a shift state
    out->append(chunk, next_out - chunk);
    return true;
  }

 private:
  iconv_t handle_;
};

std::string LocaleCodeset() {
  const char *codeset = nl_langinfo(CODESET);
  std::string name = codeset != nullptr ? codeset : "";
  if (name.empty() || name == "ANSI_X3.4-1968" || name == "ASCII" || name == "US-ASCII") {
    return "UTF-8";
  }
  Iconv probe(name, "GBK");
  return probe.ok() ? name : "UTF-8";
}

// The loaded object whose file name starts with `prefix` ("libkel.so").
struct Search {
  const char *prefix;
  std::string path;
};

int FindObject(struct dl_phdr_info *info, std::size_t, void *data) {
  auto *search = static_cast<Search *>(data);
  const char *name = info->dlpi_name;
  if (name == nullptr || name[0] == '\0') return 0;
  const char *slash = std::strrchr(name, '/');
  const char *base = slash != nullptr ? slash + 1 : name;
  if (std::strncmp(base, search->prefix, std::strlen(search->prefix)) != 0) return 0;
  search->path = name;
  return 1;
}

ModuleVersion LoadedVersion(const char *prefix) {
  Search search{prefix, ""};
  dl_iterate_phdr(FindObject, &search);
  ModuleVersion result{"unknown", search.path};
  if (search.path.empty()) return result;
  // The soname is a link to the file named with the full version.
  char resolved[PATH_MAX];
  if (realpath(search.path.c_str(), resolved) != nullptr) result.path = resolved;
  std::string::size_type at = result.path.rfind(".so.");
  if (at != std::string::npos) {
    std::string version = result.path.substr(at + 4);
    if (!version.empty() && version.find_first_not_of("0123456789.") == std::string::npos) {
      result.version = version;
    }
  }
  return result;
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char **argv) {
  return std::vector<std::string>(argv, argv + argc);
}

std::string ArgumentCodeset() { return LocaleCodeset(); }

std::string OutputCodeset() { return LocaleCodeset(); }

void UseBinaryStandardStreams() {}

bool ConvertText(const std::string &from, const std::string &to, const std::string &text,
                 bool lenient, std::string *out) {
  Iconv converter(lenient ? to + "//TRANSLIT" : to, from);
  return converter.ok() && converter.Convert(text, lenient, out);
}

ModuleVersion LibraryVersion() { return LoadedVersion("libkel.so"); }

ModuleVersion ProviderVersion() { return LoadedVersion("libkestro.so"); }

std::string NarrowCodeset() { return LocaleCodeset(); }

bool SetEnvironment(const char *name, const char *value) { return setenv(name, value, 1) == 0; }

std::string NewPrivateFile() {
  const char *folder = std::getenv("TMPDIR");
  std::string path =
      std::string(folder != nullptr && folder[0] != '\0' ? folder : "/tmp") + "/kel-doctor-XXXXXX";
  int fd = mkstemp(path.data());  // mode 0600
  if (fd < 0) return "";
  close(fd);
  return path;
}

int RunAgainWith(const char *name, const char *value, char **argv) {
  if (setenv(name, value, 1) != 0) return -1;
  // The program's own path rather than /proc/self/exe, which names the
  // emulator's binary when kel runs under one (valgrind follows the path to
  // the new run; it cannot start itself as its own client).
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length > 0) {
    path[length] = '\0';
    execv(path, argv);
  }
  execv("/proc/self/exe", argv);
  return -1;
}

}  // namespace kel::cli
