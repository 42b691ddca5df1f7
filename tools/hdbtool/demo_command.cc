// demo: a program folder with a filled store, the workshop's settings and a simulated
// car, so that a first start shows the program at work.
#include <filesystem>
#include <fstream>
#include <optional>

#include "dbengine/platform/codepage.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/field_defs.h"
#include "dbengine/tables/index_defs.h"
#include "demo_data.h"
#include "headunit/dialogs.h"
#include "settings/app_settings.h"
#include "settings/settings_file.h"
#include "store/service_table.h"
#include "table_access.h"
#include "tool_commands.h"
#include "tool_errors.h"

namespace hdbtool {

namespace {

namespace fs = std::filesystem;

constexpr char CarFileName[] = "ediabas-sim.ini";
// The head unit's memory beside the car file; a new car starts without one.
constexpr char CarStateFileName[] = "ediabas-sim.state";

// The settings file layer reports its failures as message boxes; the tool keeps the
// text and refuses with it.
class TKeptMessage : public headunit::TDialogs {
 public:
  void ShowMessage(const std::string& text, const std::string&, headunit::TMessageIcon) override { text_ = text; }
  headunit::TDialogAnswer Ask(const std::string&, const std::string&, headunit::TMessageIcon,
                              headunit::TDialogButtons) override {
    return headunit::TDialogAnswer::Cancel;
  }
  const std::optional<std::string>& Text() const { return text_; }

 private:
  std::optional<std::string> text_;
};

void WriteStore(const std::string& file, const TDemoData& data) {
  TDatabaseAccess::CreateDatabase(file);
  TDatabaseAccess db(file, TAccessMode::Write);
  hdb::THDBFieldDefs fields;
  hdb::THDBIndexDefs indexes;
  hdb::THDBConstraintDefs constraints;
  store::ServiceTableDefinitions(fields, indexes, constraints);
  db.CreateTable(store::ServiceTableName, fields, indexes, constraints);
  TTableInserter inserter(db, store::ServiceTableName);
  std::vector<std::optional<TFieldValue>> values(store::ServiceFieldCount, TFieldValue{});
  for (auto& v : values) v->IsNull = false;
  for (const TDemoRecord& r : data.Records) {
    values[store::FieldFG]->Bytes = r.Vin;
    values[store::FieldDAT]->Integer = r.Date;
    values[store::FieldMLG]->Integer = r.Mileage;
    values[store::FieldTHND]->Integer = r.Dealer;
    values[store::FieldNHND]->Bytes = r.Agent;
    values[store::FieldSSTAT]->Integer = r.Status;
    const std::string refused = inserter.Insert(values);
    if (!refused.empty()) throw TRefused{file + ": a demo record was refused: " + refused};
  }
  inserter.Commit();
}

void WriteSettingsFile(const std::string& file, const TDemoData& data) {
  settings::TAppSettings s;
  using settings::TSettingsText;
  const TDemoPartner& w = data.Workshop;
  s.SetText(TSettingsText::Name, w.Name);
  s.SetText(TSettingsText::Telephone, w.Telephone);
  s.SetText(TSettingsText::Country, w.Country);
  s.SetText(TSettingsText::City, w.City);
  s.SetText(TSettingsText::Street, w.Street);
  s.SetText(TSettingsText::AliasName, w.AliasName);
  s.SetText(TSettingsText::EMail, w.EMail);
  s.SetText(TSettingsText::Url, w.Url);
  s.SetFlag(settings::TSettingsFlag::RebootAfterClean, true);
  s.SetFlag(settings::TSettingsFlag::RebootAfterLast, true);
  TKeptMessage failure;
  settings::WriteSettings(file, s, failure);
  if (failure.Text()) throw TRefused{hdb::platform::Win1252ToUtf8(*failure.Text())};
}

void WriteCarFile(const std::string& file, const TDemoData& data) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << DemoCarFile(data);
  out.close();
  if (!out) throw TRefused{file + ": cannot be written"};
}

}  // namespace

int RunDemo(const TParsedArgs& args, TToolStreams& streams) {
  const fs::path dir = args.Operands[0];
  const std::string storeFile = (dir / store::DataFileName).string();
  const std::string settingsFile = (dir / settings::SettingsFileName).string();
  const std::string carFile = (dir / CarFileName).string();
  std::error_code ec;
  if (!args.Flag("--force"))
    for (const std::string& file : {storeFile, settingsFile, carFile})
      if (fs::exists(file, ec)) throw TRefused{file + " exists; give --force to replace the demo files"};
  fs::create_directories(dir, ec);
  if (ec) throw TRefused{dir.string() + ": " + ec.message()};

  const TDemoData data = MakeDemoData();
  WriteStore(storeFile, data);
  WriteSettingsFile(settingsFile, data);
  fs::remove(dir / CarStateFileName, ec);
  WriteCarFile(carFile, data);
  streams.Out << "Demo in " << dir.string() << ": " << store::DataFileName << " (" << data.Vins.size() << " vehicles, "
              << data.Records.size() << " service records), " << settings::SettingsFileName << ", " << CarFileName
              << " (the car " << data.Vins[data.CarVehicle] << " at " << data.CarMileage << " km)\n";
  return ExitDone;
}

}  // namespace hdbtool
