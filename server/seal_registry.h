// What the reference server knows of seals: a registry of verdicts, and the
// file that records of seal use are appended to.
//
// Registry file: one seal a line, four fields separated by tabs:
//   seal-id <TAB> name <TAB> status <TAB> description
// Empty lines and lines starting with '#' are skipped. The status is sent as
// written (0 means valid); the description may hold any text but tabs and
// line ends. The file is in UTF-8 or GBK (see TextEncoding); the registry
// keeps every text in GBK, the encoding clients send and read.
#ifndef KEL_SERVER_SEAL_REGISTRY_H_
#define KEL_SERVER_SEAL_REGISTRY_H_

#include <cstddef>
#include <map>
#include <mutex>
#include <string>

#include "text_encoding.h"

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
  // Adds the seals of a registry file written in `encoding`. False (with
  // `error` set) when the file cannot be read, a line is malformed or a text
  // is not valid in `encoding` or cannot be written in GBK.
  bool LoadFile(const std::string &path, TextEncoding encoding, std::string *error);

  // Adds a seal whose texts are GBK.
  void Add(const std::string &id, SealEntry entry) { seals_[id] = std::move(entry); }

  // The verdict for a seal: the registry's for a known id and name; status 2
  // for an unknown id and status 3 when the name does not match.
  VerdictFields Verdict(const std::string &id, const std::string &name) const;

 private:
  std::map<std::string, SealEntry> seals_;
};

// Appends one line per record of use, tab-separated: the server's local
// time, user name, seal id and remark, written in the log's encoding (see
// FieldFromGbk for the escapes). An empty path keeps no file.
class RecordLog {
 public:
  // With `sync`, every record is also forced to the disk before it counts
  // as written.
  RecordLog(std::string path, TextEncoding encoding, bool sync)
      : path_(std::move(path)), encoding_(encoding), sync_(sync) {}

  // The record's texts are GBK, as the client sent them. True once the whole
  // line is written (and, with `sync`, on the disk); false with `error` set
  // otherwise, and then no part of the line stays in the file.
  bool Append(const std::string &time, const std::string &user, const std::string &seal_id,
              const std::string &remark, std::string *error);

  // Waits for a record being written and keeps any other from starting, for
  // good: for a process that is about to end without waiting for its
  // requests.
  void Freeze();

  // Readies an existing file for appending, at start-up. A last line without
  // its line end was being written when the server stopped (killed, say) and
  // was never confirmed to the client: it is cut off, and `cut` says how many
  // bytes that took (0 when none). Then false (with `error` set) when the
  // file holds text that is not valid in the log's encoding, since records in
  // another encoding would be appended to it.
  bool PrepareExisting(std::size_t *cut, std::string *error) const;

 private:
  std::string path_;
  TextEncoding encoding_;
  bool sync_;
  std::mutex mutex_;
};

}  // namespace kel::server

#endif  // KEL_SERVER_SEAL_REGISTRY_H_
