#include "seal_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <system_error>
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

std::string ErrnoText(int error) { return std::generic_category().message(error); }

// Writes all of `text` to `fd`; false with errno set when a write fails.
bool WriteAll(int fd, const std::string &text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t written = write(fd, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

bool SealRegistry::LoadFile(const std::string &path, TextEncoding encoding, std::string *error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read the seal registry " + path;
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    // A UTF-8 file may start with a byte order mark.
    if (number == 1 && encoding == TextEncoding::kUtf8 && line.rfind("\xEF\xBB\xBF", 0) == 0) {
      line.erase(0, 3);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields = SplitTabs(line);
    std::string where = path + ":" + std::to_string(number) + ": ";
    if (fields.size() != 4 || fields[0].empty()) {
      *error = where + "expected 4 tab-separated fields";
      return false;
    }
    for (std::string &field : fields) {
      if (!ToGbk(field, encoding, &field)) {
        *error = where + "not valid " + EncodingName(encoding) +
                 " text, or a character that GBK cannot write (a GBK file needs --encoding gbk)";
        return false;
      }
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
                       const std::string &remark, std::string *error) {
  if (path_.empty()) return true;
  std::string line = FieldFromGbk(time, encoding_) + '\t' + FieldFromGbk(user, encoding_) + '\t' +
                     FieldFromGbk(seal_id, encoding_) + '\t' + FieldFromGbk(remark, encoding_) +
                     '\n';
  std::lock_guard<std::mutex> lock(mutex_);
  int fd = open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = ErrnoText(errno);
    return false;
  }
  struct stat before {};
  bool sized = fstat(fd, &before) == 0 && S_ISREG(before.st_mode);
  bool written = WriteAll(fd, line) && (!sync_ || fsync(fd) == 0);
  int failure = errno;
  // Take back a partial line, so that the next record starts a line.
  bool taken_back = written || !sized || ftruncate(fd, before.st_size) == 0;
  // close() can report a failed write of data buffered until then.
  if (close(fd) != 0 && written) {
    written = false;
    failure = errno;
  }
  if (!written) {
    *error = ErrnoText(failure);
    if (!taken_back) *error += " (part of the line may remain)";
  }
  return written;
}

void RecordLog::Freeze() {
  // Never unlocked: the process ends with the log in a whole state.
  mutex_.lock();
}

bool RecordLog::PrepareExisting(std::size_t *cut, std::string *error) const {
  *cut = 0;
  if (path_.empty()) return true;
  // Only a file holds records to keep (/dev/null, say, holds none).
  struct stat file {};
  if (stat(path_.c_str(), &file) != 0 || !S_ISREG(file.st_mode)) return true;
  std::ifstream in(path_, std::ios::binary);
  if (!in) return true;  // Append reports what is wrong
  std::string text(static_cast<std::size_t>(file.st_size), '\0');
  text.resize(static_cast<std::size_t>(in.read(&text[0], file.st_size).gcount()));
  in.close();
  std::size_t whole = text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1;
  if (whole < text.size()) {
    if (truncate(path_.c_str(), static_cast<off_t>(whole)) != 0) {
      *error = "cannot cut the unfinished last line of the record log " + path_ + ": " +
               ErrnoText(errno);
      return false;
    }
    *cut = text.size() - whole;
    text.resize(whole);
  }
  if (encoding_ != TextEncoding::kUtf8 || IsUtf8(text)) return true;
  *error = "the record log " + path_ +
           " holds text that is not UTF-8; start with --encoding gbk to append to it";
  return false;
}

}  // namespace kel::server
