// Text arguments of the server transactions. Callers pass non-null texts; a
// null one is read as the empty text rather than dereferenced.
#ifndef KEL_SEAL_TEXT_ARGUMENTS_H_
#define KEL_SEAL_TEXT_ARGUMENTS_H_

namespace kel {

inline const char *TextOrEmpty(const char *text) { return text != nullptr ? text : ""; }

}  // namespace kel

#endif  // KEL_SEAL_TEXT_ARGUMENTS_H_
