// Upper and lower case of UTF-16 text: ICU simple case mapping, one unit at a time
// (surrogates are left as they are), the wide counterpart of the Windows-1252 tables.
// Stateless; thread-safe; allocation-free.
#pragma once

namespace hdb::platform {

char16_t WideUpperChar(char16_t c);
char16_t WideLowerChar(char16_t c);

}  // namespace hdb::platform
