// The small identifiers every table structure passes around: the session on whose
// behalf an operation runs and the file-wide object ids of tables, fields, indexes and
// constraints.
#pragma once

#include <cstdint>

#include "dbengine/storage/session_id.h"

namespace hdb {

// 0 in single-user mode; -2 is the system session that performs structure changes.
using SessionID = TSessionID;

// Drawn from the file-wide NextObjectID counter; -1 until assigned.
using ObjectID = std::int32_t;
inline constexpr ObjectID NoObjectID = -1;

}  // namespace hdb
