// Repair (and conversion) of a database file that was not closed correctly: every
// table is copied, definitions and records, into a fresh file named after the database
// file + ".tmp", which then takes the original's place (the indexes of the copy are
// built anew from its records). The original stays untouched until the copy is
// complete and has passed every consistency check; a repair that fails removes the
// copy and leaves the original as it was. A salvaging repair reads the records page by
// page and keeps going past the pages it cannot read, reporting them.
//
// Runs on the caller's thread with the file opened exclusively; no other session may
// have it open. Owns nothing beyond the call.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace hdb {

struct THDBRepairOptions {
  // The new file's parameters; 0 takes the original's.
  std::int32_t PageSize = 0;
  std::int32_t ExtentPageCount = 0;
  std::int32_t MaxConnections = 0;
  // Progress in percent of the records copied, with the table being copied; called at
  // the start of each table and whenever the percentage grows.
  std::function<void(int percentDone, const std::string& tableName)> Progress;
  // Read the records page by page and save those of every readable page, instead of
  // failing at the first record that cannot be read.
  bool Salvage = false;
  // When set, the original is kept under this name instead of being replaced.
  std::string BackupName;
};

// What a repair saved of one table.
struct THDBRepairTableReport {
  std::string Name;
  // The records copied, and the count the table's state file held.
  std::int64_t Saved = 0;
  std::int64_t Counted = 0;
  // Record pages that could not be read (salvage), ascending.
  std::vector<std::int32_t> UnreadablePages;
  // Records read but refused by the copy (a damaged record no longer passing the
  // table's checks), each with its reason.
  std::vector<std::string> Refused;
};

struct THDBRepairReport {
  std::vector<THDBRepairTableReport> Tables;
  // The damage the tables' own checks found in the original, one line each.
  std::string Warnings;
};

// Repairs the file. Returns the warnings found on the way (the damage the tables' own
// checks report, one line each), empty when there were none. Raises "There is not
// enough free space on drive..." when the copy cannot fit, and "Cannot repair database
// '%s': %s" for any other failure.
std::string RepairDatabaseFile(const std::string& fileName, const THDBRepairOptions& options);
// The same, with what was saved of each table.
void RepairDatabaseFile(const std::string& fileName, const THDBRepairOptions& options, THDBRepairReport& report);

// The name of the copy a repair makes.
inline std::string RepairCopyName(const std::string& fileName) { return fileName + ".tmp"; }

}  // namespace hdb
