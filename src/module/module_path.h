// The platform seam of module start-up: where the library's own file is, and
// what kind of entry a path names. module_posix.cc and module_windows.cc
// implement it; everything above is portable.
#ifndef KEL_MODULE_MODULE_PATH_H_
#define KEL_MODULE_MODULE_PATH_H_

namespace kel {

// Identifies a loaded module: the instance handle on Windows, an address
// inside the module elsewhere. Null names no module.
using ModuleHandle = const void *;

// The handle of this library itself (never the host executable).
ModuleHandle OwnModule();

// The separator that ends a directory in module paths.
extern const char kPathSeparator;

// The size of the buffer that start-up joins the module's directory and the
// key file's name in.
extern const unsigned kModulePathBufferSize;

// Writes the full path of the file `module` was loaded from into `buffer`,
// zero-terminated. False when there is none or it does not fit in `size`
// bytes with its terminator (a truncated path is never reported as found).
bool ModuleFileName(ModuleHandle module, char *buffer, unsigned size);

// True when `path` names an existing file-system entry that is not a directory.
bool FileExists(const char *path);

// True when `path` names an existing regular file (no directory, device or
// pipe).
bool IsRegularFile(const char *path);

// Copies the value of the environment variable `name` into `buffer`,
// zero-terminated. False when it is unset or does not fit in `size` bytes;
// an empty value may give either answer.
// On POSIX systems a process running with raised privileges (setuid) reads
// no variable, so that its caller cannot choose files for it to write.
bool EnvironmentValue(const char *name, char *buffer, unsigned size);

// Writes into `buffer` the directory of the file `module` was loaded from
// (with its trailing separator) followed by `name`. False when `module` is
// null (buffer untouched), when the module path is unknown, or when the
// joined path does not fit in `size` bytes; the buffer then holds at most the
// directory.
bool GetModuleFilePath(ModuleHandle module, const char *name, char *buffer, unsigned size);

}  // namespace kel

#endif  // KEL_MODULE_MODULE_PATH_H_
