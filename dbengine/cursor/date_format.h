// Date and time texts by a format of the expression functions TOSTRING and TODATE.
// Letters stand for parts (case does not matter): yyyy and yy the year, mm and m the
// month, dd and d the day, hh and h the hour, nn and n the minute, ss and s the second,
// zzz the milliseconds; mm (or m) right after an hour stands for minutes. Text between
// double or single quotes, and every other character, stands for itself.
//
// Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "dbengine/tables/date_time_codec.h"

namespace hdb {

std::string FormatDateTimeBy(std::string_view format, THDBTimeStamp stamp);
// False when the text does not follow the format or names no valid date and time.
bool ParseDateTimeBy(std::string_view format, std::string_view text, THDBTimeStamp& stamp);

}  // namespace hdb
