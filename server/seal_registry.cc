#include "seal_registry.h"

#include <fstream>
#include <sstream>
#include <vector>

namespace kel::server {
namespace {

std::vector<std::string> SplitTabs(const std::string &line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

std::string EscapeRecordField(const std::string &text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '\t':
        escaped += "\\t";
        break;
      case '\n':
        escaped += "\\n";
        break;
      case '\r':
        escaped += "\\r";
        break;
      case '\\':
        escaped += "\\\\";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

}  // namespace

bool SealRegistry::LoadFile(const std::string &path, std::string *error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read the seal registry " + path;
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields = SplitTabs(line);
    if (fields.size() != 4 || fields[0].empty()) {
      *error = path + ":" + std::to_string(number) + ": expected 4 tab-separated fields";
      return false;
    }
    Add(fields[0], SealEntry{fields[1], fields[2], fields[3]});
  }
  return true;
}

VerdictFields SealRegistry::Verdict(const std::string &id, const std::string &name) const {
  auto found = seals_.find(id);
  if (found == seals_.end()) return {"2", "unknown seal"};
  if (found->second.name != name) return {"3", "the name does not match the seal"};
  return {found->second.status, found->second.description};
}

bool RecordLog::Append(const std::string &time, const std::string &user, const std::string &seal_id,
                       const std::string &remark) {
  if (path_.empty()) return true;
  std::ostringstream line;
  line << EscapeRecordField(time) << '\t' << EscapeRecordField(user) << '\t'
       << EscapeRecordField(seal_id) << '\t' << EscapeRecordField(remark) << '\n';
  std::lock_guard<std::mutex> lock(mutex_);
  std::ofstream out(path_, std::ios::binary | std::ios::app);
  out << line.str();
  return static_cast<bool>(out);
}

}  // namespace kel::server
