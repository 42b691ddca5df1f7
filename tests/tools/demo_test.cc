// demo: a program folder whose store is consistent and valid the way the record editor
// keeps it, whose settings hold partner data, and whose simulated car is one of the
// vehicles; the same every time, and never over existing files unless forced.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "headunit/dialogs.h"
#include "settings/app_settings.h"
#include "settings/settings_file.h"
#include "store/service_status.h"
#include "tool_run.h"

namespace {

using hdbtest::OneLineError;
using hdbtest::Slurp;
using hdbtest::ToolRun;
using hdbtest::Write;

class NoDialogs : public headunit::TDialogs {
 public:
  void ShowMessage(const std::string& text, const std::string&, headunit::TMessageIcon) override { shown += text; }
  headunit::TDialogAnswer Ask(const std::string&, const std::string&, headunit::TMessageIcon,
                              headunit::TDialogButtons) override {
    return headunit::TDialogAnswer::Cancel;
  }
  std::string shown;
};

std::vector<std::string> Split(const std::string& line, char by) {
  std::vector<std::string> parts;
  std::istringstream in(line);
  std::string part;
  while (std::getline(in, part, by)) parts.push_back(part);
  return parts;
}

// A key's value in the car file.
std::string CarValue(const std::string& car, const std::string& key) {
  std::istringstream in(car);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key + " = ", 0) == 0) return line.substr(key.size() + 3);
  return {};
}

class DemoTest : public hdbtest::ToolTest {};

TEST_F(DemoTest, TheDemoFolderHoldsAValidStoreSettingsAndACarFromIt) {
  const std::string folder = dir_.File("program");
  ToolRun demo = Run("demo " + folder);
  ASSERT_EQ(demo.exitCode, 0) << demo.err;
  const std::string store = folder + "/Data.hdb";
  ToolRun check = Run("check " + store);
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;

  ToolRun dump = Run("dump " + store + " dsTable");
  ASSERT_EQ(dump.exitCode, 0) << dump.err;
  std::istringstream lines(dump.out);
  std::string line;
  std::getline(lines, line);
  ASSERT_EQ(line, "FG,DAT,MLG,THND,NHND,SSTAT\r");
  std::map<std::string, std::int64_t> lastMileage;
  std::set<std::pair<std::string, std::string>> keys;
  std::size_t records = 0;
  while (std::getline(lines, line)) {
    ++records;
    const std::vector<std::string> f = Split(line.substr(0, line.size() - 1), ',');
    ASSERT_EQ(f.size(), 6u) << line;
    // What the record editor lets a user store.
    EXPECT_EQ(f[0].size(), 17u) << line;
    for (char ch : f[0]) EXPECT_TRUE((ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9')) << line;
    EXPECT_FALSE(f[4].empty()) << line;
    EXPECT_LE(f[4].size(), 7u) << line;
    EXPECT_TRUE(f[3] == "0" || f[3] == "1") << line;
    EXPECT_TRUE(store::IsStorableStatus(static_cast<std::uint16_t>(std::stoi(f[5])))) << line;
    EXPECT_TRUE(keys.insert({f[0], f[1]}).second) << "one record per vehicle and date: " << line;
    // Natural order keeps each vehicle's records together, oldest first.
    const std::int64_t mileage = std::stoll(f[2]);
    if (lastMileage.count(f[0])) EXPECT_GT(mileage, lastMileage[f[0]]) << line;
    lastMileage[f[0]] = mileage;
  }
  EXPECT_GE(lastMileage.size(), 24u) << "a few dozen vehicles";
  EXPECT_LE(lastMileage.size(), 60u);
  EXPECT_GE(records, 200u) << "a few hundred records";
  EXPECT_LE(records, 900u);

  const std::string car = Slurp(folder + "/ediabas-sim.ini");
  const std::string vin = CarValue(car, "FGNR");
  ASSERT_TRUE(lastMileage.count(vin)) << "the car is one of the vehicles: " << vin;
  EXPECT_GE(std::stoll(CarValue(car, "KILOMETERSTAND")), lastMileage[vin]) << "its odometer is past its last service";
  const std::string cps = CarValue(car, "CPS");
  EXPECT_FALSE(cps.empty());
  EXPECT_NE(vin.find(cps), std::string::npos) << "the head unit's coding stamp belongs to the VIN";

  settings::TAppSettings settings;
  NoDialogs dialogs;
  settings::ReadSettings(folder + "/App.cfg", settings, dialogs);
  EXPECT_EQ(dialogs.shown, "");
  EXPECT_EQ(Slurp(folder + "/App.cfg").size(), settings::AppSettingsSize);
  EXPECT_FALSE(settings.Name().empty());
  EXPECT_FALSE(settings.Telephone().empty());
  EXPECT_FALSE(settings.AliasName().empty());
  EXPECT_NE(dump.out.find("," + settings.AliasName() + ","), std::string::npos)
      << "the workshop's own agent number stands in some records";

  // A dump is a backup: read into a fresh store it dumps to the same bytes.
  const std::string restored = dir_.File("Restored.hdb");
  ASSERT_EQ(Run("create-store " + restored).exitCode, 0);
  ASSERT_EQ(Run("import " + restored + " dsTable -", dump.out).exitCode, 0);
  EXPECT_EQ(Run("dump " + restored + " dsTable").out, dump.out);

  // The same every time: a second folder holds the same records, settings and car.
  const std::string second = dir_.File("second");
  ASSERT_EQ(Run("demo " + second).exitCode, 0);
  EXPECT_EQ(Run("dump " + second + "/Data.hdb dsTable").out, dump.out);
  EXPECT_EQ(Slurp(second + "/App.cfg"), Slurp(folder + "/App.cfg"));
  EXPECT_EQ(Slurp(second + "/ediabas-sim.ini"), car);
}

TEST_F(DemoTest, ExistingFilesAreReplacedOnlyWhenForced) {
  const std::string folder = dir_.File("program");
  ASSERT_EQ(Run("demo " + folder).exitCode, 0);
  Write(folder + "/App.cfg", "mine");
  const std::string store = Slurp(folder + "/Data.hdb");
  ToolRun refused = Run("demo " + folder);
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(OneLineError(refused)) << refused.err;
  EXPECT_NE(refused.err.find(folder + "/Data.hdb exists"), std::string::npos) << refused.err;
  EXPECT_EQ(Slurp(folder + "/App.cfg"), "mine");
  EXPECT_EQ(Slurp(folder + "/Data.hdb"), store);

  // A forced demo also forgets what an earlier car's head unit was sent.
  Write(folder + "/ediabas-sim.state", "[G_MMI]\nHISTORY_COUNT = 1\n");
  ASSERT_EQ(Run("demo --force " + folder).exitCode, 0);
  EXPECT_EQ(Slurp(folder + "/App.cfg").size(), settings::AppSettingsSize);
  EXPECT_FALSE(std::ifstream(folder + "/ediabas-sim.state").good());
  EXPECT_EQ(Run("check " + folder + "/Data.hdb").exitCode, 0);
}

}  // namespace
