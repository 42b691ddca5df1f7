// What a user waits for in the history view, on a store of 100 000 service records over
// 10 000 VINs: the start of the main window up to its filled VIN list (the store opened,
// dsTable walked, the list sorted and put into the VIN box), and ShowHistory of one
// vehicle (its filter set, its ten records walked newest first, the tree rebuilt). The
// store's own share of both is measured beside them. Runs the window offscreen.
//
//   QT_QPA_PLATFORM=offscreen build/bin/history_view_bench
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/date_time_codec.h"
#include "dbengine/tables/field_defs.h"
#include "dbengine/tables/index_defs.h"
#include "settings/app_settings.h"
#include "settings/settings_file.h"
#include "store/service_store.h"
#include "store/service_table.h"

namespace {

constexpr int RecordCount = 100000;
constexpr int VinCount = 10000;

std::string Vin(int n) {
  char text[18];
  std::snprintf(text, sizeof text, "WBA%014d", n);
  return text;
}

class TQuietDialogs : public headunit::TDialogs {
 public:
  void ShowMessage(const std::string& text, const std::string&, headunit::TMessageIcon) override {
    std::fprintf(stderr, "unexpected message: %s\n", text.c_str());
  }
  headunit::TDialogAnswer Ask(const std::string&, const std::string&, headunit::TMessageIcon,
                              headunit::TDialogButtons) override {
    return headunit::TDialogAnswer::Cancel;
  }
};

class TNoClock : public headunit::TClock {
 public:
  void Sleep(std::uint32_t) override {}
  headunit::TTimeOfDay Now() override { return {}; }
};

// A program folder with Data.hdb (each VIN serviced ten times, records put in date
// order across the fleet) and an App.cfg, made once.
const std::string& ProgramFolder() {
  static const std::string folder = [] {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "halvarin-history-bench";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string path = (dir / store::DataFileName).string();
    hdb::THDBLocalSession session;
    session.DatabaseName = "Bench";
    session.DatabaseFileName = path;
    session.CreateDatabase();
    session.SetConnected(true);
    store::CreateServiceTable(session);
    hdb::THDBLocalCursor cursor(session);
    cursor.TableName = store::ServiceTableName;
    cursor.OpenTable();
    std::vector<std::uint8_t> buffer = cursor.AllocRecordBuffer();
    cursor.BeginBatchUpdate();
    for (int i = 0; i < RecordCount; ++i) {
      cursor.InitRecordBuffer(buffer.data(), true);
      char fg[18] = {}, nhnd[8] = "4711001";
      std::memcpy(fg, Vin((i * 7919) % VinCount).c_str(), 17);
      const std::int32_t dat = hdb::EncodeDayNumber(2005, 1, 1) + i / 20;
      const std::int64_t mlg = 1000 + i;
      const std::uint16_t thnd = 1, sstat = 16385 | 128;
      cursor.WriteField(store::FieldFG, buffer.data(), fg);
      cursor.WriteField(store::FieldDAT, buffer.data(), &dat);
      cursor.WriteField(store::FieldMLG, buffer.data(), &mlg);
      cursor.WriteField(store::FieldTHND, buffer.data(), &thnd);
      cursor.WriteField(store::FieldNHND, buffer.data(), nhnd);
      cursor.WriteField(store::FieldSSTAT, buffer.data(), &sstat);
      cursor.CurrentRecord = buffer.data();
      cursor.WriteRecord(true);
    }
    cursor.EndBatchUpdate();
    TQuietDialogs dialogs;
    settings::WriteSettings((dir / settings::SettingsFileName).string(), settings::TAppSettings(), dialogs);
    return dir.string() + "/";
  }();
  return folder;
}

app::TFormEnvironment Environment() {
  static TQuietDialogs dialogs;
  static TNoClock clock;
  app::TFormEnvironment environment;
  environment.programFolder = ProgramFolder();
  environment.dialogs = &dialogs;
  environment.clock = &clock;
  return environment;
}

void BM_StartUpToFilledVinList(benchmark::State& state) {
  const app::TFormEnvironment environment = Environment();
  for (auto _ : state) {
    app::TForm1 form(environment);
    if (form.FGListCB->count() != VinCount) state.SkipWithError("the VIN list is not filled");
    benchmark::DoNotOptimize(form.FGListCB->count());
  }
}
BENCHMARK(BM_StartUpToFilledVinList)->Unit(benchmark::kMillisecond);

void BM_StoreOpenAndVinList(benchmark::State& state) {
  const std::string file = ProgramFolder() + store::DataFileName;
  for (auto _ : state) {
    store::TServiceStore store;
    store.Open(file);
    benchmark::DoNotOptimize(store.ReloadVinList().size());
  }
}
BENCHMARK(BM_StoreOpenAndVinList)->Unit(benchmark::kMillisecond);

void BM_ShowHistory(benchmark::State& state) {
  app::TForm1 form(Environment());
  int n = 0;
  for (auto _ : state) {
    form.FGListCB->setEditText(QString::fromStdString(Vin(n++ * 37 % VinCount)));
    if (form.ShowHistory() != RecordCount / VinCount) state.SkipWithError("a vehicle without its ten records");
  }
}
BENCHMARK(BM_ShowHistory)->Unit(benchmark::kMicrosecond);

void BM_StoreShowVehicle(benchmark::State& state) {
  store::TServiceStore store;
  store.Open(ProgramFolder() + store::DataFileName);
  std::vector<store::TServiceRecord> records;
  int n = 0;
  for (auto _ : state) {
    store.ShowVehicle(Vin(n++ * 37 % VinCount), records);
    benchmark::DoNotOptimize(records.size());
  }
}
BENCHMARK(BM_StoreShowVehicle)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ProgramFolder();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
