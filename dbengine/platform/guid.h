// Globally unique identifiers in their braced text form, made from 16 random bytes of
// the system's random source (version 4, RFC 4122 variant), for names that must not
// collide such as those of temporary indexes. Thread-safe.
#pragma once

#include <string>

namespace hdb::platform {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hexadecimal digits.
std::string NewGuidText();

}  // namespace hdb::platform
