// CAccessRules: which accounts each trader may read and trade, from the
// grants file that ZELVORA_ACCESS names. One grant a line:
//
//   # comment; blank lines are allowed
//   USER read ACCOUNT...     may read these accounts
//   USER trade ACCOUNT...    may read them and write their plans  # a comment
//
// ACCOUNT "*" means every account. A user named on several lines has every
// grant of them all; a user named on no line is unknown, and is refused
// everything. Users are the names the web server authenticates (letters,
// digits and ". _ @ -"); account ids are letters, digits and ". _ -"; both
// at most kMaxName bytes, the width of the tables' account and updater
// columns. Anything else on a line, a text over kMaxBytes or kMaxGrants, or
// one whose last line has no line end (a file caught half written) makes
// the whole text malformed: the program then refuses every request rather
// than guess.
//
// Plain data: filled by Parse, read by the request; no I/O here.
#ifndef ZELVORA_DESK_ACCESSRULES_H_
#define ZELVORA_DESK_ACCESSRULES_H_

#include <cstddef>
#include <set>
#include <string>
#include <unordered_map>

class CAccessRules {
 public:
  static constexpr size_t kMaxBytes = 4 << 20;
  static constexpr size_t kMaxName = 32;
  // What the kept grants may cost: a few hundred bytes of memory each.
  static constexpr size_t kMaxGrants = 100000;

  // Replaces the rules with those of `text`: of every user, or of `only`
  // when that is not null (a process that serves one caller need not keep
  // the others'; every line is checked all the same). 0, or -1 with the
  // rules empty and `error` saying "line N: reason" for the first line that
  // breaks the format (or why the text as a whole is refused).
  int Parse(const std::string& text, std::string& error, const std::string* only = nullptr);

  // True when `name` is a user name, or an account id, of the grammar
  // above: not empty, at most kMaxName bytes.
  static bool IsUserName(const std::string& name);
  static bool IsAccountId(const std::string& name);

  bool Knows(const std::string& user) const { return users_.count(user) != 0; }
  bool MayRead(const std::string& user, const std::string& account) const;
  bool MayTrade(const std::string& user, const std::string& account) const;

  // The accounts `user` may read or trade as the file names them, "*"
  // among them when granted; empty for an unknown user.
  std::set<std::string> Readable(const std::string& user) const;
  std::set<std::string> Tradable(const std::string& user) const;

 private:
  struct CGrants {
    std::set<std::string> read, trade;
  };
  static bool Holds(const std::set<std::string>& accounts, const std::string& account) {
    return accounts.count("*") != 0 || accounts.count(account) != 0;
  }
  std::unordered_map<std::string, CGrants> users_;
};

#endif  // ZELVORA_DESK_ACCESSRULES_H_
