// A consistency check of a database file's free-space maps: every PFS and EAM page
// is where it belongs and has its type, every map page is marked used, no page beyond
// the end is marked, each extent's EAM code agrees with the PFS bits of its pages,
// LastUsedPageNo is the highest used page that is not a map page, and the file size
// matches TotalPageCount. Reads under HeaderLock; changes nothing.
#pragma once

#include <string>
#include <vector>

namespace hdb {

class THDBDiskPageManager;

// One line per problem found; empty when the maps are consistent.
std::vector<std::string> CheckFreeSpaceMaps(THDBDiskPageManager& manager);

}  // namespace hdb
