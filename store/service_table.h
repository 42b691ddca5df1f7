// The service record table: every service the workshop records lives in dsTable of
// Data.hdb, six required fields in a fixed order (the program addresses FG and DAT by
// position) and the index FGDAT over FG then DAT, which orders one vehicle's records
// oldest first. The program only opens this table; ServiceTableDefinitions and
// CreateServiceTable are what a tool uses to make it.
//
// Constants, a pure function, and CreateServiceTable, which works through the caller's
// session and is guarded by that session's locks.
#pragma once

#include <cstdint>

namespace hdb {
class THDBFieldDefs;
class THDBIndexDefs;
class THDBConstraintDefs;
class THDBLocalSession;
}  // namespace hdb

namespace store {

inline constexpr char DataFileName[] = "Data.hdb";
inline constexpr char ServiceTableName[] = "dsTable";

// Field positions.
enum TServiceField : std::int32_t {
  FieldFG = 0,     // VIN
  FieldDAT = 1,    // date of the service
  FieldMLG = 2,    // mileage in kilometres
  FieldTHND = 3,   // 1 = official dealer, 0 = independent workshop
  FieldNHND = 4,   // dealer or agent number
  FieldSSTAT = 5,  // status and maintenance items (service_status.h)
  ServiceFieldCount = 6,
};

inline constexpr const char* ServiceFieldNames[ServiceFieldCount] = {"FG", "DAT", "MLG", "THND", "NHND", "SSTAT"};

inline constexpr std::int32_t VinLength = 17;
inline constexpr std::int32_t AgentNumberLength = 7;

// The index as it is selected by name and by its field list.
inline constexpr char ServiceIndexName[] = "FGDAT";
inline constexpr char ServiceIndexFields[] = "FG;DAT";

// The definitions of dsTable: the six fields, each required (a NOT NULL constraint of
// the generated name), and FGDAT, ascending and not unique (the program checks a new
// record's VIN and date itself, and an edit may move a record onto another's date).
// The lists are cleared first.
void ServiceTableDefinitions(hdb::THDBFieldDefs& fields, hdb::THDBIndexDefs& indexes,
                             hdb::THDBConstraintDefs& constraints);

// Makes dsTable with these definitions in the database of a connected session.
void CreateServiceTable(hdb::THDBLocalSession& session);

}  // namespace store
