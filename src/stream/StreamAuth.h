// CStreamAuth: who may use the stream server, and which accounts they may
// read. A request is served only when it bears the key the web server was
// given (compared in constant time); its caller is the user the web server
// authenticated, which must be a name of the grants grammar. Rights come
// from the grants file (CAccessFile, the program's own reader), looked at
// no more than once a second and read again only when it changed; without
// a file every caller may read every account; with one, as the program
// does, a caller the file does not know is refused everything, and a file
// that cannot be taken (or an empty path) refuses every caller.
#ifndef ZELVORA_STREAM_STREAMAUTH_H_
#define ZELVORA_STREAM_STREAMAUTH_H_

#include <cstdint>
#include <string>

#include "desk/AccessFile.h"

class CStreamAuth {
 public:
  // `accessPath` null: no grants file.
  CStreamAuth(const std::string& key, const std::string* accessPath);

  // True when `given` (null: no header) is the key.
  bool KeyMatches(const char* given) const;

  // True when `user` (null: no header) may be a caller.
  static bool IsUser(const char* user);

  // Looks at the grants file (one stat; read again only when it changed)
  // when a second has passed since the last look. True when it looked: the
  // open streams' rights are then checked again.
  bool Refresh(int64_t nowMillis);

  // True when `user` may have streams at all: known to the grants file, or no file.
  bool Admits(const std::string& user) const;

  bool MayRead(const std::string& user, const std::string& account) const;

 private:
  void Load();

  std::string key_;
  bool hasAccess_;
  std::string path_;
  CAccessFile file_;
  const CAccessRules* rules_ = nullptr;  // null with a file: every caller refused
  std::string error_;                    // why the file was refused, said once
  int64_t lookedAt_ = 0;
};

#endif  // ZELVORA_STREAM_STREAMAUTH_H_
