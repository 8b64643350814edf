// Reading the library's trace: the lines it appended to a file, each split
// into its event and name=value fields, with quoted values unescaped.
#ifndef KEL_TOOLS_KEL_TRACE_READER_H_
#define KEL_TOOLS_KEL_TRACE_READER_H_

#include <map>
#include <string>
#include <vector>

namespace kel::cli {

struct TraceLine {
  std::string text;   // the line as written
  std::string event;  // "start", "exchange", ...
  // The values as the library had them, before escaping: bytes in the
  // narrow character set of the library's texts (platform.h).
  std::map<std::string, std::string> fields;

  // The field's value, or `absent` when the line has no such field.
  std::string Field(const std::string &name, const std::string &absent = "") const;
  bool Has(const std::string &name) const { return fields.count(name) != 0; }
};

// Splits one trace line: "<time> pid=N tid=N <event> name=value ...". False
// for a line without an event.
bool ParseTraceLine(const std::string &text, TraceLine *line);

// The lines of one trace file, read as they are appended.
class TraceReader {
 public:
  explicit TraceReader(std::string path) : path_(std::move(path)) {}

  // The whole lines appended since the last call (a line still being
  // written is left for the next one).
  std::vector<TraceLine> NewLines();

 private:
  std::string path_;
  std::size_t consumed_ = 0;  // bytes of the file already read
};

}  // namespace kel::cli

#endif  // KEL_TOOLS_KEL_TRACE_READER_H_
