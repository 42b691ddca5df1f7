// Repair (and conversion) of a database file that was not closed correctly: every
// table is copied, definitions and records, into a fresh file named after the database
// file + ".tmp", which then takes the original's place. The original stays untouched
// until the copy is complete; a repair that fails removes the copy and leaves the
// original as it was.
//
// Runs on the caller's thread with the file opened exclusively; no other session may
// have it open. Owns nothing beyond the call.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace hdb {

struct THDBRepairOptions {
  // The new file's parameters; 0 takes the original's.
  std::int32_t PageSize = 0;
  std::int32_t ExtentPageCount = 0;
  std::int32_t MaxConnections = 0;
  // Progress in percent of the records copied, with the table being copied; called at
  // the start of each table and whenever the percentage grows.
  std::function<void(int percentDone, const std::string& tableName)> Progress;
};

// Repairs the file. Returns the warnings found on the way (the damage the tables' own
// checks report, one line each), empty when there were none. Raises "There is not
// enough free space on drive..." when the copy cannot fit, and "Cannot repair database
// '%s': %s" for any other failure.
std::string RepairDatabaseFile(const std::string& fileName, const THDBRepairOptions& options);

// The name of the copy a repair makes.
inline std::string RepairCopyName(const std::string& fileName) { return fileName + ".tmp"; }

}  // namespace hdb
