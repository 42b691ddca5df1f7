// Shared fixtures of the tables-layer tests: the service record table's field list and
// small helpers to read raised engine errors and stream bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/record_id.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/field_defs.h"

namespace hdb::test {

// FG string(17), DAT date, MLG largeint, THND word, NHND string(7), SSTAT word.
inline void AddServiceRecordFields(THDBFieldDefs& defs) {
  defs.AddField("FG", dtString, 17);
  defs.AddField("DAT", dtDate);
  defs.AddField("MLG", dtLargeInt);
  defs.AddField("THND", dtWord);
  defs.AddField("NHND", dtString, 7);
  defs.AddField("SSTAT", dtWord);
  for (int i = 0; i < defs.Count(); ++i) defs[i].ObjectID = 100 + i;
  defs.RecalcOffsets();
}

// Natural order of records, for maps keyed by RecordID.
struct RecordIDLess {
  bool operator()(RecordID a, RecordID b) const { return CompareRecordIDs(a, b) < 0; }
};

struct RaisedError {
  int code = 0;
  std::string what;
};

// The engine error fn raises; code 0 when it raises none.
inline RaisedError Raised(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const EHDBException& e) {
    return {e.NativeError(), e.what()};
  }
  return {};
}

inline std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

inline void Append(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& more) {
  out.insert(out.end(), more.begin(), more.end());
}

}  // namespace hdb::test
