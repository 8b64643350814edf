// What kel needs from the operating system, behind one interface: its
// arguments and the character sets it reads and prints, conversion between
// character sets, binary standard streams, and the versions of the libraries
// it loaded. platform_posix.cc uses iconv and the dynamic loader,
// platform_windows.cc the Win32 API.
#ifndef KEL_TOOLS_KEL_PLATFORM_H_
#define KEL_TOOLS_KEL_PLATFORM_H_

#include <string>
#include <vector>

namespace kel::cli {

// The arguments kel was started with (the program name first), in
// ArgumentCodeset(). On Windows they are read from the wide command line, so
// that no character is lost to the ANSI code page.
std::vector<std::string> ProgramArguments(int argc, char **argv);

// The character set of the arguments: the locale's on POSIX (call setlocale
// first), UTF-8 on Windows.
std::string ArgumentCodeset();

// The character set kel prints in: the locale's on POSIX; on Windows the
// console's output code page, or the ANSI code page when standard output is
// not a console. The C and POSIX locales, whose character set is plain ASCII,
// and character sets the platform cannot convert are taken as UTF-8.
std::string OutputCodeset();

// Standard input and output carry bytes as they are (Windows would otherwise
// turn line feeds into CR LF and stop reading at a Ctrl-Z).
void UseBinaryStandardStreams();

// Converts `text` from the character set `from` to `to` ("UTF-8", "GBK" or a
// name from ArgumentCodeset or OutputCodeset). Strict (lenient false), a byte
// that is not valid in `from` or a character that `to` has not got fails the
// conversion. Lenient, such a byte is written as \xNN and such a character
// approximated, and the conversion goes on.
bool ConvertText(const std::string &from, const std::string &to, const std::string &text,
                 bool lenient, std::string *out);

// The character set of the narrow texts that the library takes from the
// system and shows in its trace (file paths, the transport's error texts):
// the locale's on POSIX, the ANSI code page on Windows.
std::string NarrowCodeset();

// Sets the environment variable `name` of this process, and so of the
// runs it starts.
bool SetEnvironment(const char *name, const char *value);

// Creates a new, empty file in the system's folder for temporary files,
// readable by its owner only where the system has such rights, and returns
// its path (in NarrowCodeset()); "" when none can be created.
std::string NewPrivateFile();

// Runs kel again with the same arguments and the environment variable `name`
// set to `value`, and returns that run's exit code. On POSIX the new run
// replaces this process, so the call returns only when it cannot start (-1);
// on Windows it waits for the new run, which shares the console and standard
// handles, and returns -1 when it cannot start.
int RunAgainWith(const char *name, const char *value, char **argv);

// The version and file of a library this process loaded.
struct ModuleVersion {
  std::string version;  // "1.0.0", or "unknown"
  std::string path;     // in ArgumentCodeset(); empty when not found
};

// libkel / Kel.dll and its provider libkestro / KESTRO.dll: on Windows from
// their version resources, on POSIX from the versioned file names the
// sonames lead to (libkel.so.1 -> libkel.so.1.0.0).
ModuleVersion LibraryVersion();
ModuleVersion ProviderVersion();

}  // namespace kel::cli

#endif  // KEL_TOOLS_KEL_PLATFORM_H_
