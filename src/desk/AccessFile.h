// CAccessFile: the grants file that ZELVORA_ACCESS names, read when it
// changes. A CGI process reads it once, for its one request and caller; a
// worker keeps what it read and reads the file again only when its
// identity, size or times differ (one stat per request), or when it was
// written less than two seconds before it was read. Only a regular file
// that root or the process's user owns and that no one else may write is
// taken. A file is read whole from one open
// descriptor, so a file replaced by rename is seen either old or new; one
// rewritten in place may be caught half written (and then most likely
// refused as malformed): replace it by rename.
#ifndef ZELVORA_DESK_ACCESSFILE_H_
#define ZELVORA_DESK_ACCESSFILE_H_

#include <sys/stat.h>

#include <string>

#include "desk/AccessRules.h"

class CAccessFile {
 public:
  // The rules of the file at `path`, or null with `error` saying why (the
  // path, and the line that breaks the format), for a file that cannot be
  // opened or read, may be written by others, is larger than
  // CAccessRules::kMaxBytes, is malformed, or does not fit in memory. The rules stay valid until
  // the next call. `only` not null: the file is read now, and only that user's grants are kept (a
  // CGI process serves one caller; parsing everyone's would be most of its cost); null: everyone's,
  // read again only when the file changed.
  const CAccessRules* Rules(const std::string& path, const std::string* only, std::string& error);

 private:
  // Reads and parses the file anew; 0, or -1 with error_ set.
  int Load(const std::string& path, const std::string* only);

  std::string path_;
  struct stat seen_ = {};  // of the file last read; st_ino 0: read it at the next request
  CAccessRules rules_;
  std::string error_;  // empty when rules_ holds the file's rules
};

#endif  // ZELVORA_DESK_ACCESSFILE_H_
