// Reading a command's input: a file, or standard input.
#ifndef KEL_TOOLS_KEL_INPUT_H_
#define KEL_TOOLS_KEL_INPUT_H_

#include <string>

namespace kel::cli {

// Reads the whole file at `path`, or standard input when `path` is empty or
// "-". False, with `error` set, when it cannot be read.
bool ReadInput(const std::string &path, std::string *data, std::string *error);

// `text` without the ASCII white space at its end.
std::string TrimTrailingSpace(std::string text);

}  // namespace kel::cli

#endif  // KEL_TOOLS_KEL_INPUT_H_
