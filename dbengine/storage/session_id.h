// The session on whose behalf pages are read and changed: 0 in single-user mode, a
// connection slot in multi-user mode, and the system session that performs structure
// changes (creating the database and tables).
#pragma once

#include <cstdint>

namespace hdb {

using TSessionID = std::int32_t;
inline constexpr TSessionID SystemSessionID = -2;

}  // namespace hdb
