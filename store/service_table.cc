#include "store/service_table.h"

#include <memory>

#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/field_defs.h"
#include "dbengine/tables/index_defs.h"

namespace store {

void ServiceTableDefinitions(hdb::THDBFieldDefs& fields, hdb::THDBIndexDefs& indexes,
                             hdb::THDBConstraintDefs& constraints) {
  fields.Clear();
  indexes.Clear();
  constraints.Clear();
  fields.AddField(ServiceFieldNames[FieldFG], hdb::dtString, VinLength);
  fields.AddField(ServiceFieldNames[FieldDAT], hdb::dtDate);
  fields.AddField(ServiceFieldNames[FieldMLG], hdb::dtLargeInt);
  fields.AddField(ServiceFieldNames[FieldTHND], hdb::dtWord);
  fields.AddField(ServiceFieldNames[FieldNHND], hdb::dtString, AgentNumberLength);
  fields.AddField(ServiceFieldNames[FieldSSTAT], hdb::dtWord);
  fields.RecalcOffsets();

  hdb::THDBIndexDef& index = indexes.AddNew();
  index.Name = ServiceIndexName;
  index.SetColumns({ServiceFieldNames[FieldFG], ServiceFieldNames[FieldDAT]}, {"", ""}, {"", ""});

  for (const char* name : ServiceFieldNames) {
    auto required = std::make_unique<hdb::THDBConstraintDefNotNull>();
    required->FieldRef.Name = name;
    constraints.Add(std::move(required));
  }
}

void CreateServiceTable(hdb::THDBLocalSession& session) {
  hdb::THDBFieldDefs fields;
  hdb::THDBIndexDefs indexes;
  hdb::THDBConstraintDefs constraints;
  ServiceTableDefinitions(fields, indexes, constraints);
  hdb::THDBLocalCursor maker(session);
  maker.TableName = ServiceTableName;
  maker.CreateTable(fields, indexes, constraints);
}

}  // namespace store
