// What the reference server knows of seals: a registry of verdicts, and the
// file that records of seal use are appended to.
//
// Registry file: one seal a line, four fields separated by tabs:
//   seal-id <TAB> name <TAB> status <TAB> description
// Empty lines and lines starting with '#' are skipped. The status is sent as
// written (0 means valid); the description may hold any bytes but tabs and
// line ends (GBK text included).
#ifndef KEL_SERVER_SEAL_REGISTRY_H_
#define KEL_SERVER_SEAL_REGISTRY_H_

#include <map>
#include <mutex>
#include <string>

namespace kel::server {

struct SealEntry {
  std::string name;
  std::string status;
  std::string description;
};

struct VerdictFields {
  std::string status;
  std::string description;
};

class SealRegistry {
 public:
  // Adds the seals of a registry file. False (with `error` set) when the
  // file cannot be read or a line is malformed.
  bool LoadFile(const std::string &path, std::string *error);

  void Add(const std::string &id, SealEntry entry) { seals_[id] = std::move(entry); }

  // The verdict for a seal: the registry's for a known id and name; status 2
  // for an unknown id and status 3 when the name does not match.
  VerdictFields Verdict(const std::string &id, const std::string &name) const;

 private:
  std::map<std::string, SealEntry> seals_;
};

// Appends one line per record of use, tab-separated: the server's local
// time, user name, seal id and remark (tabs, line ends and backslashes
// escaped as \t, \n, \r and \\). An empty path keeps no file.
class RecordLog {
 public:
  explicit RecordLog(std::string path) : path_(std::move(path)) {}
  bool Append(const std::string &time, const std::string &user, const std::string &seal_id,
              const std::string &remark);

 private:
  std::string path_;
  std::mutex mutex_;
};

}  // namespace kel::server

#endif  // KEL_SERVER_SEAL_REGISTRY_H_
