// CDateTime: a time value with its local calendar fields. Only the desk's
// other programs use it; zelvora.cgi does not link it.
#ifndef ZELVORA_RECORDS_DATETIME_H_
#define ZELVORA_RECORDS_DATETIME_H_

#include <cstdint>
#include <ctime>

// Kept in step: the fields always follow the value.
class CDateTime {
 public:
  // The given value, or the current time when it is negative.
  explicit CDateTime(int64_t value = -1);

  int WeekDay() const { return local_.tm_wday; }  // 0 = Sunday
  int Hour() const { return local_.tm_hour; }

  // Moves the value; a result below 0 becomes the current time instead.
  void AddSeconds(int64_t seconds);

  // The UTC calendar fields of the value.
  void UtcFields(struct tm& fields) const;

  // The value; with mode 1 the current local offset from UTC is added.
  int64_t Seconds(int mode = 0) const;

 private:
  void Set(int64_t value);

  int64_t value_;
  struct tm local_;
};

#endif  // ZELVORA_RECORDS_DATETIME_H_
