#include "store/service_store.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <unordered_set>

#include "dbengine/components/database_error.h"
#include "dbengine/platform/collation.h"
#include "dbengine/storage/error_messages.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/date_time_codec.h"
#include "store/service_table.h"

namespace store {

namespace {

int CollateIgnoringCase(const std::string& a, const std::string& b) {
  return hdb::platform::CollateAnsi(a.data(), a.size(), b.data(), b.size(), true);
}

}  // namespace

std::int32_t MileageFromText(const std::string& text) {
  std::string_view digits(text);
  while (!digits.empty() && digits.front() == ' ') digits.remove_prefix(1);
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  // A second sign after '+' is no number either.
  const bool signTwice = digits.size() != text.size() && text[text.size() - digits.size() - 1] == '+' &&
                         !digits.empty() && digits.front() == '-';
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || signTwice)
    throw hdb::EDatabaseError(hdb::Format(hdb::DatasetTexts::InvalidIntegerValue, text));
  return value;
}

std::string VehicleFilter(const std::string& vin) {
  std::string filter = "FG='";
  for (char c : vin) {
    filter.push_back(c);
    if (c == '\'') filter.push_back('\'');
  }
  filter.push_back('\'');
  return filter;
}

TServiceStore::TServiceStore() : HDBDatabase1(this) {
  HDBDatabase1.SetDatabaseName("Dataset");
  HDBDatabase1.Exclusive = false;
  HDBDatabase1.MultiUser = false;
  HDBDatabase1.MaxConnections = 500;
  HDBDatabase1.SetSessionName("Default");

  HDBTable1.Owner = this;
  HDBTable1.SetDatabaseName("Dataset");
  HDBTable1.SetTableName(ServiceTableName);
  HDBTable1.SetInMemory(false);
  HDBTable1.SetReadOnly(false);
  HDBTable1.SetExclusive(false);
  HDBTable1.StoreDefs = true;
  HDBTable1FG = &HDBTable1.CreateField<hdb::THDBStringField>(ServiceFieldNames[FieldFG], VinLength, hdb::ftString);
  HDBTable1DAT = &HDBTable1.CreateField<hdb::THDBDateField>(ServiceFieldNames[FieldDAT]);
  HDBTable1MLG = &HDBTable1.CreateField<hdb::THDBLargeintField>(ServiceFieldNames[FieldMLG]);
  HDBTable1THND = &HDBTable1.CreateField<hdb::THDBWordField>(ServiceFieldNames[FieldTHND]);
  HDBTable1NHND =
      &HDBTable1.CreateField<hdb::THDBStringField>(ServiceFieldNames[FieldNHND], AgentNumberLength, hdb::ftString);
  HDBTable1SSTAT = &HDBTable1.CreateField<hdb::THDBWordField>(ServiceFieldNames[FieldSSTAT]);
  for (int i = 0; i < HDBTable1.FieldCount(); ++i) HDBTable1.Fields(i).Required = true;
}

TServiceStore::~TServiceStore() { Close(); }

void TServiceStore::Open(const std::string& fileName) {
  HDBDatabase1.SetDatabaseFileName(fileName);
  try {
    HDBDatabase1.SetConnected(true);
    HDBTable1.SetActive(true);
  } catch (...) {
    Close();
    throw;
  }
}

void TServiceStore::Close() {
  // The table lets go of its cursor before the database it runs on disconnects.
  if (HDBTable1.Active()) {
    HDBTable1.CancelRecord();
    HDBTable1.Close();
  }
  if (HDBDatabase1.Connected()) HDBDatabase1.SetConnected(false);
}

std::vector<std::string> TServiceStore::ReloadVinList() {
  HDBTable1.SetFiltered(false);
  // Most records repeat a VIN already met: the exact text is checked first, and only
  // the distinct ones are ordered by the collation.
  std::vector<std::string> vins;
  std::unordered_set<std::string> seen;
  for (HDBTable1.GoFirst(); !HDBTable1.IsAtEnd(); HDBTable1.GoNext()) {
    std::string vin = HDBTable1FG->AsString();
    if (seen.insert(vin).second) vins.push_back(std::move(vin));
  }
  std::stable_sort(vins.begin(), vins.end(),
                   [](const std::string& a, const std::string& b) { return CollateIgnoringCase(a, b) < 0; });
  vins.erase(std::unique(vins.begin(), vins.end(),
                         [](const std::string& a, const std::string& b) { return CollateIgnoringCase(a, b) == 0; }),
             vins.end());
  return vins;
}

void TServiceStore::FilterVehicle(const std::string& vin) {
  HDBTable1.SetFilter(VehicleFilter(vin));
  HDBTable1.SetFiltered(true);
  HDBTable1.SetIndexFieldNames(ServiceIndexFields);
}

void TServiceStore::ClearFilter() { HDBTable1.SetFiltered(false); }

std::vector<TServiceRecord> TServiceStore::NewestFirst() {
  std::vector<TServiceRecord> records;
  for (HDBTable1.GoLast(); !HDBTable1.IsAtStart(); HDBTable1.GoPrior()) records.push_back(CurrentRecord());
  return records;
}

std::string TServiceStore::ShowVehicle(const std::string& vin, std::vector<TServiceRecord>& records) {
  FilterVehicle(vin);
  std::string root = HDBTable1.IsEmpty() ? std::string() : HDBTable1FG->AsString();
  records = NewestFirst();
  return root;
}

bool TServiceStore::LocateRecord(const std::string& vin, std::int32_t day) {
  HDBTable1.SetIndexName(ServiceIndexName);
  HDBTable1.BeginKeyEntry();
  HDBTable1.Fields(FieldFG).SetAsString(vin);
  HDBTable1.Fields(FieldDAT).SetAsDateTime(static_cast<double>(day - hdb::DateDelta));
  return HDBTable1.SeekKey();
}

TServiceRecord TServiceStore::CurrentRecord() const {
  TServiceRecord record;
  record.FG = HDBTable1FG->AsString();
  record.DAT = static_cast<std::int32_t>(std::floor(HDBTable1DAT->AsDateTime())) + hdb::DateDelta;
  record.MLG = HDBTable1MLG->AsLargeInt();
  record.THND = static_cast<std::uint16_t>(HDBTable1THND->AsInteger());
  record.NHND = HDBTable1NHND->AsString();
  record.SSTAT = static_cast<std::uint16_t>(HDBTable1SSTAT->AsInteger());
  return record;
}

TAddScan TServiceStore::ScanVehicle(const std::string& vin, std::int32_t day) {
  FilterVehicle(vin);
  TAddScan scan;
  for (HDBTable1.GoFirst(); !HDBTable1.IsAtEnd(); HDBTable1.GoNext()) {
    const TServiceRecord record = CurrentRecord();
    if (record.DAT == day) {
      scan.collision = true;
      return scan;
    }
    scan.highest = std::max(scan.highest, record.MLG);
  }
  if (!HDBTable1.IsEmpty()) scan.newestMileage = HDBTable1MLG->AsLargeInt();
  return scan;
}

void TServiceStore::AssignFields(const TServiceRecord& record) {
  HDBTable1FG->SetAsString(record.FG);
  HDBTable1DAT->SetAsDateTime(static_cast<double>(record.DAT - hdb::DateDelta));
  HDBTable1MLG->SetAsLargeInt(record.MLG);
  HDBTable1THND->SetAsInteger(record.THND);
  HDBTable1NHND->SetAsString(record.NHND);
  HDBTable1SSTAT->SetAsInteger(record.SSTAT);
}

void TServiceStore::PostOrCancel() {
  try {
    HDBTable1.PostRecord();
  } catch (...) {
    HDBTable1.CancelRecord();
    throw;
  }
  assert(HDBTable1.State() == hdb::dsBrowse);
}

void TServiceStore::Insert(const TServiceRecord& record) {
  HDBTable1.BeginInsert();
  try {
    AssignFields(record);
  } catch (...) {
    HDBTable1.CancelRecord();
    throw;
  }
  PostOrCancel();
}

void TServiceStore::Update(const hdb::THDBBookmark& bookmark, const TServiceRecord& record) {
  // Whatever view was set since the record was loaded, the record itself is edited.
  HDBTable1.SetFiltered(false);
  HDBTable1.GotoBookmark(bookmark);
  HDBTable1.BeginEdit();
  try {
    AssignFields(record);
  } catch (...) {
    HDBTable1.CancelRecord();
    throw;
  }
  PostOrCancel();
}

void TServiceStore::DeleteCurrent() { HDBTable1.DeleteCurrent(); }

void TServiceStore::CancelRecord() {
  if (HDBTable1.Active()) HDBTable1.CancelRecord();
}

}  // namespace store
