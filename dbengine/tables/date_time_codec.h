// Dates and times as the engine stores them, and their text forms.
//
// A date is a day number (int32): 0001-01-01 is day 1 of the proleptic Gregorian
// calendar. A time is the number of milliseconds since midnight (int32). A date-time is
// the two of them. The dataset layer speaks in date-time values (double): days counted
// from 1899-12-30 (day number 693594), the fraction being the time of day; for values
// before that day the whole part counts back and the fraction still runs forward.
//
// Text: dates are written and read in the fixed short date format dd.MM.yyyy, times as
// hh:mm:ss. All functions are pure and thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hdb {

inline constexpr std::int32_t DateDelta = 693594;  // day number of 1899-12-30
inline constexpr std::int32_t MSecsPerDay = 86400000;

struct THDBTimeStamp {
  std::int32_t Date = DateDelta;
  std::int32_t Time = 0;
};

bool IsValidDate(int year, int month, int day);
// False (and day untouched) for an invalid date.
bool TryEncodeDayNumber(int year, int month, int day, std::int32_t& dayNumber);
// The date must be valid.
std::int32_t EncodeDayNumber(int year, int month, int day);
// Day numbers below 1 decode to 0-0-0.
void DecodeDayNumber(std::int32_t dayNumber, int& year, int& month, int& day);
std::int32_t EncodeTimeMs(int hour, int minute, int second, int millisecond);

// Date = whole days + 693594; time = the fraction of the day x 86400000, rounded; a
// time that rounds to a whole day moves to midnight of the next day. The value must
// have a time stamp (HasTimeStamp).
THDBTimeStamp DateTimeToTimeStamp(double dateTime);
// Whether the value is finite and its day number fits the stored int32.
bool HasTimeStamp(double dateTime);
double TimeStampToDateTime(THDBTimeStamp stamp);

// Text forms. The Format functions write into out (room for at least 32 characters)
// and return the number of characters written; no terminating zero.
inline constexpr std::size_t DateTimeTextRoom = 32;
std::size_t FormatDateText(std::int32_t dayNumber, char* out);
std::size_t FormatTimeText(std::int32_t milliseconds, char* out);
// The date, then a blank and the time unless the time is midnight.
std::size_t FormatDateTimeText(THDBTimeStamp stamp, char* out);
std::string DateText(std::int32_t dayNumber);

// Blanks around the text are ignored. Dates: d.M.yyyy with one or two digits for day
// and month and four for the year. Times: h:mm, h:mm:ss or h:mm:ss.zzz. Date-times: a
// date, a time, or a date and a time separated by blanks.
bool ParseDateText(std::string_view text, std::int32_t& dayNumber);
bool ParseTimeText(std::string_view text, std::int32_t& milliseconds);
bool ParseDateTimeText(std::string_view text, THDBTimeStamp& stamp);

}  // namespace hdb
