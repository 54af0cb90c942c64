// Statements built from fixed texts and values: the one place where a value
// enters SQL, for the handlers' statements and the records' builders alike.
//
// A value stands between single quotes exactly as given, never escaped.
// A value that could end its literal or change the statement under any
// quoting mode of the server (with or without NO_BACKSLASH_ESCAPES) is
// refused instead: one holding a single quote, a backslash, a NUL or any
// other control byte (below 0x20, or 0x7F). A statement with a refused value
// is not built at all (Text() is empty), so no statement the desk sends can
// differ in structure from the one its builder writes. The desk's ids,
// symbols, dates and numbers never hold such bytes.
//
// Unquoted numbers (a report's profit bounds) must be plain decimals:
// optional sign, digits, at most one point with digits on at least one
// side. Anything else is refused the same way.
#ifndef ZELVORA_DB_SQLTEXT_H_
#define ZELVORA_DB_SQLTEXT_H_

#include <cstdint>
#include <string>

// The diagnostic for a statement that was not built.
extern const char kRefusedSqlMessage[];

// True when `value` may stand between quotes.
bool IsSqlValue(const std::string& value);

// True when `text` may stand unquoted as a number.
bool IsSqlNumber(const std::string& text);

class CSqlText {
 public:
  CSqlText() = default;
  explicit CSqlText(const char* fixed) : text_(fixed) {}

  // A fixed text, as it stands.
  CSqlText& Add(const char* fixed);
  CSqlText& Add(const std::string& fixed);
  // "'" + value + "'", or refusal.
  CSqlText& Quoted(const std::string& value);
  // "'" + the time as text + "'" (local text unless `local` is 0).
  CSqlText& QuotedTime(int64_t value, int local = 1);
  // "'" + the current local time text + "'".
  CSqlText& QuotedNow();
  // printf "%lf" and "%d", unquoted.
  CSqlText& Number(double value);
  CSqlText& Integer(int32_t value);
  // The text unquoted when it is a plain decimal, or refusal.
  CSqlText& UnquotedNumber(const std::string& text);

  // Lists: List() starts one; Item() writes "," before every item but the
  // first; Column(name) is Item() + "`name`=".
  CSqlText& List();
  CSqlText& Item();
  CSqlText& Column(const char* name);

  // Appends another statement part, refusal included.
  CSqlText& Append(const CSqlText& part);

  bool Refused() const { return refused_; }
  // The statement, or "" when a value was refused.
  std::string Text() const { return refused_ ? std::string() : text_; }

 private:
  std::string text_;
  bool refused_ = false;
  bool firstItem_ = true;
};

// `head` followed by the key condition that `record.KeyCondition` writes;
// "" when a value is refused.
template <typename Record>
std::string KeyedSql(const char* head, const Record& record) {
  CSqlText sql(head);
  record.KeyCondition(sql);
  return sql.Text();
}

#endif  // ZELVORA_DB_SQLTEXT_H_
