// TServiceStore: the program's hold on the service history. It owns the one database
// component (HDBDatabase1, alias "Dataset") and the one table component (HDBTable1 on
// dsTable) with a persistent field object per field, configured once for the whole run,
// and offers the few walks and writes the window and the history transfer make on them:
// the VIN list, one vehicle's history newest first, the lookup of a record by VIN and
// date, the scan before an add, and insert, edit and delete of one record.
//
// Every operation leaves the table in browse state: a write is assigned and posted (or
// cancelled) within one call, so nothing pending is left for a later filter or index
// change to post by accident. Used on the user-interface thread only; the components
// take the engine's locks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dbengine/components/hdb_database.h"
#include "dbengine/components/hdb_field.h"
#include "dbengine/components/hdb_table.h"
#include "store/service_record.h"

namespace store {

// What the scan of a vehicle's records before an add found.
struct TAddScan {
  // A record of the vehicle already has the date (the scan stopped there).
  bool collision = false;
  // The highest mileage of the vehicle's records (0 without records).
  std::int64_t highest = 0;
  // The mileage of the record the scan ended on, the vehicle's newest (0 without records).
  std::int64_t newestMileage = 0;
};

// The editor's mileage text as a whole number (32-bit, optional sign, leading blanks
// allowed); anything else raises EDatabaseError "'%s' is not a valid integer value".
std::int32_t MileageFromText(const std::string& text);

// The filter text that selects one vehicle: FG='...' with embedded quotes doubled.
std::string VehicleFilter(const std::string& vin);

class TServiceStore {
 public:
  TServiceStore();
  ~TServiceStore();
  TServiceStore(const TServiceStore&) = delete;
  TServiceStore& operator=(const TServiceStore&) = delete;

  // Names the file, connects the database component and opens dsTable. Whatever fails
  // raises the components' error and leaves the table closed.
  void Open(const std::string& fileName);
  bool IsOpen() const { return HDBTable1.Active(); }
  // Closes the table and disconnects; nothing when closed.
  void Close();

  // Every VIN of the table with the filter switched off: sorted and without duplicates,
  // both ignoring case by the locale's collation; of VINs that differ only in case the
  // first one met is kept.
  std::vector<std::string> ReloadVinList();

  // Filters the table to one vehicle and orders it by FG;DAT.
  void FilterVehicle(const std::string& vin);
  // Switches the vehicle filter off.
  void ClearFilter();
  // The records of the current view from the newest (GoLast) back to the oldest.
  std::vector<TServiceRecord> NewestFirst();
  // FilterVehicle, then the FG of the current record (empty when the vehicle has no
  // record) and the vehicle's records newest first.
  std::string ShowVehicle(const std::string& vin, std::vector<TServiceRecord>& records);

  // Makes the record with exactly this VIN and date current (index FGDAT); false, and
  // nothing moves, when there is none.
  bool LocateRecord(const std::string& vin, std::int32_t day);
  // The current record's values.
  TServiceRecord CurrentRecord() const;
  // Identifies the current record for a later return to it.
  hdb::THDBBookmark CurrentBookmark() const { return HDBTable1.GetBookmark(); }

  // Walks the vehicle's records oldest first: the date collision and the mileages an
  // add is checked against. Leaves the vehicle filter on.
  TAddScan ScanVehicle(const std::string& vin, std::int32_t day);

  // Stores a new record; an error of the post cancels it and is raised.
  void Insert(const TServiceRecord& record);
  // Overwrites the record of the bookmark; "Record not found" when it is gone.
  void Update(const hdb::THDBBookmark& bookmark, const TServiceRecord& record);
  // Deletes the current record.
  void DeleteCurrent();
  // Discards a pending insert or edit; nothing when none is pending.
  void CancelRecord();

  hdb::THDBDatabase HDBDatabase1;
  hdb::THDBTable HDBTable1;
  hdb::THDBStringField* HDBTable1FG = nullptr;
  hdb::THDBDateField* HDBTable1DAT = nullptr;
  hdb::THDBLargeintField* HDBTable1MLG = nullptr;
  hdb::THDBWordField* HDBTable1THND = nullptr;
  hdb::THDBStringField* HDBTable1NHND = nullptr;
  hdb::THDBWordField* HDBTable1SSTAT = nullptr;

 private:
  void AssignFields(const TServiceRecord& record);
  // Posts the pending record; an error cancels it before it is raised again.
  void PostOrCancel();
};

}  // namespace store
