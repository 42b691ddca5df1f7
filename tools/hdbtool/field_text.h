// The text of a field value in the tool's CSV files. Texts are UTF-8 (single-byte
// fields hold Windows-1252, so only characters it has are accepted), integers decimal,
// floating values the shortest text that reads back to the same value, logicals True
// or False, dates yyyy-mm-dd, times hh:mm:ss with .zzz when there are milliseconds,
// date-times "yyyy-mm-dd hh:mm:ss" likewise, byte arrays and BLOBs as hexadecimal
// digits. NULL is the empty cell and is handled by the caller. Formatting gives the one
// text a value has, so a dump read back and dumped again gives the same bytes; reading
// also takes blanks around numbers and dates, one-digit months, days and hours, and a
// 'T' between date and time.
//
// Pure functions; thread-safe.
#pragma once

#include <string>
#include <string_view>

#include "table_access.h"

namespace hdbtool {

// Appends the text of a value that is not NULL; false with the reason when the stored
// value has none (a day number outside 0001-01-01 to 9999-12-31, say).
bool FormatFieldText(const TFieldInfo& field, const TFieldValue& value, std::string& out, std::string& reason);

// Reads the text of a non-empty cell into value (IsNull false); false with the reason
// when the text is no value of the field or does not fit it.
bool ParseFieldText(const TFieldInfo& field, std::string_view text, TFieldValue& value, std::string& reason);

}  // namespace hdbtool
