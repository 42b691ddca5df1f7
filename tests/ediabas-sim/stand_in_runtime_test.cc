// The stand-in runtime libapi32.so, loaded the way the program loads it, and called both
// through the binding and through its raw entry points where buffer bounds matter.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "dbengine/platform/dynamic_library.h"
#include "forked_child.h"
#include "headunit/ediabas_api.h"
#include "headunit/ediabas_entry_points.h"
#include "sim_car_files.h"
#include "temp_dir.h"

namespace {

using headunit::TEdiabasApi;
namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every "key = value" line of a state file.
std::map<std::string, std::string> StateEntries(const fs::path& path) {
  std::map<std::string, std::string> entries;
  std::istringstream in(ReadText(path));
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t equals = line.find(" = ");
    if (equals != std::string::npos) entries[line.substr(0, equals)] = line.substr(equals + 3);
  }
  return entries;
}

// A well-formed history entry of its own for every number.
std::string HistoryEntry(int i) {
  return std::to_string(i % 28 + 1) + ";" + std::to_string(i % 12 + 1) + ";" + std::to_string(2000 + i % 20) +
         ";0;" + std::to_string(i * 10) + ";1;A" + std::to_string(i % 1000) + ";0x1;0;";
}

// A state file of the head unit holding `entries` history entries, claiming `count`.
std::string HistoryState(const std::string& count, int entries) {
  std::string text = "[G_MMI]\nNR_HEIMATHAENDLER = 0899999\nHISTORY_COUNT = " + count + "\n";
  for (int i = 1; i <= entries; ++i) text += "HISTORY_" + std::to_string(i) + " = " + HistoryEntry(i) + "\n";
  return text;
}

class StandInRuntime : public ::testing::Test {
 protected:
  void SetUp() override {
    car_.Write();
    ASSERT_TRUE(api_.LoadRuntimeLibrary("libapi32.so"));
  }

  // Runs one job on the head unit and returns its error code.
  int Run(const std::string& job, const std::string& parameter = "") {
    api_.ApiJob("G_MMI", job, parameter, "");
    return api_.ApiErrorCode().code;
  }

  hdbtest::TempDir dir_;
  uitest::TSimCarFiles car_{dir_.Path().string()};
  TEdiabasApi api_;
};

TEST_F(StandInRuntime, AcceptsAWellFormedHistoryEntryAndKeepsItInTheStateFile) {
  ASSERT_TRUE(api_.ApiInit());
  const std::string entry = "5;3;2021;0;45000;1;1234567;0x1;2;1;0x1;0;0;3;0x1;0;0;";
  EXPECT_EQ(Run("steuern_servicehistory_add", entry), 0);
  EXPECT_EQ(api_.ApiResultText("STAT_SH_ADD_TEXT", 1), "Entry 1 stored");
  EXPECT_EQ(Run("steuern_servicehistory_add", "1;1;2020;0;0;0;A;0x3;1;100;0x1;0;0;"), 0);
  api_.ApiEnd();
  EXPECT_EQ(car_.State("HISTORY_COUNT"), "2");
  EXPECT_EQ(car_.State("HISTORY_1"), entry);

  // The next start of the runtime sees what the head unit holds.
  ASSERT_TRUE(api_.ApiInit());
  EXPECT_EQ(Run("steuern_servicehistory_add", "31;12;2021;0;50000;1;1234567;0x2;1;21;0x1;0;0;"), 0);
  EXPECT_EQ(api_.ApiResultText("STAT_SH_ADD_TEXT", 1), "Entry 3 stored");
  EXPECT_EQ(Run("steuern_servicehistory_erase"), 0);
  EXPECT_EQ(car_.State("HISTORY_COUNT"), "0");
}

TEST_F(StandInRuntime, RefusesMalformedHistoryEntriesAndStoresNothing) {
  const char* const malformed[] = {
      "5;3;2021;0;45000;1;1234567;0x1;1;1;0x1;0;0",       // no closing ';'
      "05;3;2021;0;45000;1;1234567;0x1;1;1;0x1;0;0;",     // leading zero in the day
      "5;13;2021;0;45000;1;1234567;0x1;1;1;0x1;0;0;",     // month 13
      "30;2;2021;0;45000;1;1234567;0x1;1;1;0x1;0;0;",     // 30 February
      "5;3;21;0;45000;1;1234567;0x1;1;1;0x1;0;0;",        // two-digit year
      "5;3;2021;1;45000;1;1234567;0x1;1;1;0x1;0;0;",      // fourth field not 0
      "5;3;2021;0;45 000;1;1234567;0x1;1;1;0x1;0;0;",     // mileage with a blank
      "5;3;2021;0;45000;2;1234567;0x1;1;1;0x1;0;0;",      // dealer flag 2
      "5;3;2021;0;45000;1;;0x1;1;1;0x1;0;0;",             // no agent number
      "5;3;2021;0;45000;1;12345678;0x1;1;1;0x1;0;0;",     // agent number of 8
      "5;3;2021;0;45000;1;1234567;0x4;1;1;0x1;0;0;",      // status 4
      "5;3;2021;0;45000;1;1234567;1;1;1;0x1;0;0;",        // status without 0x
      "5;3;2021;0;45000;1;1234567;0x1;2;1;0x1;0;0;",      // two items announced, one sent
      "5;3;2021;0;45000;1;1234567;0x1;1;7;0x1;0;0;",      // unknown item code
      "5;3;2021;0;45000;1;1234567;0x1;1;1;0x2;0;0;",      // item group not 0x1;0;0
      "5;3;2021;0;45000;1;1234567;0x1;1;1;0x1;0;0;9;",    // a field too many
      "",
  };
  ASSERT_TRUE(api_.ApiInit());
  for (const char* entry : malformed) {
    SCOPED_TRACE(entry);
    api_.ApiJob("G_MMI", "steuern_servicehistory_add", entry, "");
    headunit::TApiError error = api_.ApiErrorCode();
    EXPECT_GT(error.code, 0);
    EXPECT_NE(error.text.find("entry refused"), std::string::npos) << error.text;
    EXPECT_EQ(api_.ApiResultText("STAT_SH_ADD_TEXT", 1), "");
  }
  EXPECT_FALSE(car_.HasState());
  EXPECT_EQ(Run("steuern_servicehistory_add", "5;3;2021;0;45000;1;1234567;0x1;0;"), 0);
  EXPECT_EQ(api_.ApiResultText("STAT_SH_ADD_TEXT", 1), "Entry 1 stored");
}

TEST_F(StandInRuntime, AFullHistoryLoadsRoundTripsAndTakesNoMore) {
  constexpr int Full = 4000;
  car_.WriteState(HistoryState(std::to_string(Full), Full));
  ASSERT_TRUE(api_.ApiInit());
  // Any change writes the whole memory back.
  EXPECT_EQ(Run("schreiben_telefonnummern", "1 ;2;3 ;4 ;"), 0);
  std::map<std::string, std::string> state = StateEntries(car_.StatePath());
  EXPECT_EQ(state["HISTORY_COUNT"], "4000");
  EXPECT_EQ(state["NR_HEIMATHAENDLER"], "2");
  for (int i = 1; i <= Full; ++i) ASSERT_EQ(state["HISTORY_" + std::to_string(i)], HistoryEntry(i)) << i;
  EXPECT_EQ(state.count("HISTORY_4001"), 0u);

  // A unit that is full refuses the next entry and keeps what it holds.
  api_.ApiJob("G_MMI", "steuern_servicehistory_add", HistoryEntry(Full + 1), "");
  headunit::TApiError error = api_.ApiErrorCode();
  EXPECT_GT(error.code, 0);
  EXPECT_EQ(error.text, "SIM: service history full (4000 entries)");
  EXPECT_EQ(car_.State("HISTORY_COUNT"), "4000");
  api_.ApiEnd();

  // The next start reads the same memory, and an erase makes room again.
  ASSERT_TRUE(api_.ApiInit());
  EXPECT_EQ(Run("steuern_servicehistory_erase"), 0);
  EXPECT_EQ(Run("steuern_servicehistory_add", HistoryEntry(1)), 0);
  EXPECT_EQ(api_.ApiResultText("STAT_SH_ADD_TEXT", 1), "Entry 1 stored");
}

TEST_F(StandInRuntime, ADamagedStateFileIsRefusedAtInit) {
  struct TCase {
    const char* name;
    std::string state;
    const char* error;
  };
  const TCase cases[] = {
      {"one entry more than a unit holds", HistoryState("4001", 4001),
       "SIM: state file has 4001 history entries, at most 4000"},
      {"a count far beyond", HistoryState("3000000", 2), "SIM: state file has 3000000 history entries, at most 4000"},
      {"a negative count", HistoryState("-1", 0), "SIM: state file has a damaged HISTORY_COUNT"},
      {"a count that is no number", HistoryState("many", 0), "SIM: state file has a damaged HISTORY_COUNT"},
      {"an entry missing", HistoryState("3", 3).replace(HistoryState("3", 3).find("HISTORY_2 ="), 1, "#"),
       "SIM: state file lacks HISTORY_2"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    car_.WriteState(c.state);
    EXPECT_FALSE(api_.ApiInit());
    headunit::TApiError error = api_.ApiErrorCode();
    EXPECT_GT(error.code, 0);
    EXPECT_EQ(error.text, c.error);
    api_.ApiJob("G_MMI", "ident", "", "");
    EXPECT_GT(api_.ApiErrorCode().code, 0);
    EXPECT_EQ(ReadText(car_.StatePath()), c.state);  // left as it was
  }
  // Without a car file the reason is given too.
  ::setenv("EDIABAS_SIM", (dir_.Path() / "absent.ini").c_str(), 1);
  EXPECT_FALSE(api_.ApiInit());
  EXPECT_EQ(api_.ApiErrorCode().text, "SIM: no vehicle file absent.ini");
}

TEST_F(StandInRuntime, RefusesMalformedPartnerRecordsAndNumbers) {
  ASSERT_TRUE(api_.ApiInit());
  EXPECT_GT(Run("steuern", "ID;0xD0D5;Auto Service;Main Street 1;Berlin;Germany;030123;;Other;;;"), 0);
  EXPECT_GT(Run("steuern", "ID;0xD0D6;A;B;C;D;1;;A;;;"), 0);
  EXPECT_GT(Run("steuern", "ID;0xD0D5;A;B;C;D;1;;A;;"), 0);
  EXPECT_GT(Run("schreiben_telefonnummern", "1 ;2;3 ;"), 0);
  EXPECT_GT(Run("status_lesen", "ID;0xD0D6"), 0);
  EXPECT_FALSE(car_.HasState());
  EXPECT_EQ(Run("schreiben_telefonnummern", "1 ;2;3 ;4 ;"), 0);
  EXPECT_EQ(car_.State("NR_BEREITSCHAFTSDIENST"), "1");
  EXPECT_EQ(car_.State("NR_HEIMATHAENDLER"), "2");
  EXPECT_EQ(car_.State("NR_HOTLINE"), "4");
}

TEST_F(StandInRuntime, JobsOnAnEndedOrUnknownHandleFail) {
  EXPECT_GT(Run("ident"), 0);  // never initialised
  ASSERT_TRUE(api_.ApiInit());
  EXPECT_EQ(Run("ident"), 0);
  api_.ApiEnd();
  api_.ApiJob("G_MMI", "cps_lesen", "", "");
  headunit::TApiError error = api_.ApiErrorCode();
  EXPECT_GT(error.code, 0);
  EXPECT_FALSE(error.text.empty());
  EXPECT_EQ(api_.ApiResultText("CPS", 1), "");
}

TEST_F(StandInRuntime, UnknownControlUnitsAndJobsFail) {
  ASSERT_TRUE(api_.ApiInit());
  api_.ApiJob("G_XYZ", "ident", "", "");
  EXPECT_GT(api_.ApiErrorCode().code, 0);
  EXPECT_GT(Run("no_such_job"), 0);
  api_.ApiJob("G_CAS", "cps_lesen", "", "");
  EXPECT_GT(api_.ApiErrorCode().code, 0);
}

TEST_F(StandInRuntime, WillNotInitialiseWithoutACarOrWhenToldSo) {
  ::setenv("EDIABAS_SIM", (dir_.Path() / "absent.ini").c_str(), 1);
  EXPECT_FALSE(api_.ApiInit());
  car_.Write("[RUNTIME]\nINIT = fail\n");
  EXPECT_FALSE(api_.ApiInit());
  EXPECT_EQ(api_.ApiErrorCode().text, "SIM: runtime told not to start (INIT = fail)");
  car_.Write();
  EXPECT_TRUE(api_.ApiInit());
  EXPECT_EQ(api_.ApiErrorCode().code, 0);
}

// Where the library looks for its car: the file EDIABAS_SIM names, else ediabas-sim.ini
// beside the library, else in the current folder; the state file lands beside the car
// file that was used. Each case runs in a process of its own, started in a folder of its
// own, with its own copy of the library.
TEST(StandInRuntimeCarFile, IsFoundThroughTheEnvironmentBesideTheLibraryOrInTheCurrentFolder) {
  enum TWhere { Env, Beside, Here, Nowhere };
  struct TCase {
    const char* name;
    bool env;        // EDIABAS_SIM names env/car.ini
    bool envExists;  // ... which exists
    bool beside;     // lib/ediabas-sim.ini
    bool here;       // ediabas-sim.ini in the folder the program runs in
    bool relativeLoad;  // the library is loaded by a relative path, then the folder changes
    TWhere used;
  };
  const TCase cases[] = {
      {"the environment comes first", true, true, true, true, false, Env},
      {"a named file that is absent is not replaced", true, false, true, true, false, Nowhere},
      {"beside the library before the current folder", false, false, true, true, false, Beside},
      {"started from another folder", false, false, true, false, false, Beside},
      {"loaded by a relative path, then the folder changes", false, false, true, false, true, Beside},
      {"the current folder last", false, false, false, true, false, Here},
      {"no car anywhere", false, false, false, false, false, Nowhere},
  };
  const fs::path builtLibrary = fs::read_symlink("/proc/self/exe").parent_path() / headunit::RuntimeLibraryName;
  ASSERT_TRUE(fs::exists(builtLibrary));
  const char* const vins[] = {"WBAENV00000000001", "WBABESIDE00000002", "WBAHERE0000000003"};

  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    hdbtest::TempDir dir;
    const fs::path lib = dir.Path() / "lib", env = dir.Path() / "env", here = dir.Path() / "work";
    for (const fs::path& folder : {lib, env, here}) fs::create_directory(folder);
    fs::copy_file(builtLibrary, lib / headunit::RuntimeLibraryName);
    const fs::path carFiles[] = {env / "car.ini", lib / "ediabas-sim.ini", here / "ediabas-sim.ini"};
    const fs::path stateFiles[] = {env / "car.state", lib / "ediabas-sim.state", here / "ediabas-sim.state"};
    const bool present[] = {c.envExists, c.beside, c.here};
    for (int i = 0; i < 3; ++i)
      if (present[i]) std::ofstream(carFiles[i]) << "[G_CAS]\nFGNR = " << vins[i] << "\n";

    hdbtest::ForkedChild child([&](hdbtest::ForkedChild&) {
      if (c.env)
        ::setenv("EDIABAS_SIM", carFiles[Env].c_str(), 1);
      else
        ::unsetenv("EDIABAS_SIM");
      fs::current_path(c.relativeLoad ? dir.Path() : here);
      TEdiabasApi api;
      const std::string library = c.relativeLoad ? std::string("lib/") + headunit::RuntimeLibraryName
                                                 : (lib / headunit::RuntimeLibraryName).string();
      if (!api.LoadRuntimeLibrary(library) || !api.RuntimeLoaded()) return 10;
      if (c.relativeLoad) fs::current_path(here);
      if (!api.ApiInit()) return c.used == Nowhere ? 0 : 11;
      if (c.used == Nowhere) return 12;
      api.ApiJob("G_CAS", "status_fahrgestellnummer", "", "");
      if (api.ApiResultText("STAT_FGNR17_WERT", 1) != vins[c.used]) return 13;
      api.ApiJob("G_MMI", "schreiben_telefonnummern", "1 ;2;3 ;4 ;", "");
      if (api.ApiErrorCode().code != 0) return 14;
      api.ApiEnd();
      return 0;
    });
    EXPECT_EQ(child.Wait(), 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(fs::exists(stateFiles[i]), i == c.used) << stateFiles[i];
    EXPECT_FALSE(fs::exists(dir.Path() / "ediabas-sim.state"));
  }
}

TEST_F(StandInRuntime, InjectsFailuresByAttempt) {
  car_.Write("[G_MMI]\ncps_lesen.fail_first = 2\ncps_lesen.fail_code = 133\ncps_lesen.fail_text = IFH: timeout\n"
             "ident.fail_after = 1\n");
  ASSERT_TRUE(api_.ApiInit());
  for (int attempt = 1; attempt <= 2; ++attempt) {
    api_.ApiJob("G_MMI", "cps_lesen", "", "");
    headunit::TApiError error = api_.ApiErrorCode();
    EXPECT_EQ(error.code, 133);
    EXPECT_EQ(error.text, "IFH: timeout");
  }
  EXPECT_EQ(Run("cps_lesen"), 0);
  EXPECT_EQ(api_.ApiResultText("CPS", 1), "A123456");
  EXPECT_EQ(api_.ApiResultText("VARIANTE", 0), "CIC_R");
  EXPECT_EQ(Run("ident"), 0);
  EXPECT_GT(Run("ident"), 0);
  EXPECT_GT(Run("ident"), 0);
  // A new start of the runtime counts afresh.
  ASSERT_TRUE(api_.ApiInit());
  EXPECT_EQ(Run("ident"), 0);
}

TEST_F(StandInRuntime, HeadUnitStaysSilentAfterAResetAcrossRuntimeStarts) {
  car_.Write("[G_MMI]\nIDENT_SILENT_AFTER_RESET = 2\n");
  ASSERT_TRUE(api_.ApiInit());
  EXPECT_EQ(Run("ident"), 0);
  api_.ApiJob("G_MMI", "steuergeraete_reset", "", "");
  EXPECT_EQ(api_.ApiResultBinary("_RESPONSE", 1), std::vector<unsigned char>{0x51});
  api_.ApiEnd();
  ASSERT_TRUE(api_.ApiInit());
  EXPECT_EQ(Run("ident"), 111);
  EXPECT_GT(Run("ident"), 0);
  EXPECT_EQ(Run("ident"), 0);
}

TEST_F(StandInRuntime, NeverWritesPastTheBuffers) {
  const std::string longText(3000, 'C');
  const std::string longError(200, 'E');
  car_.Write("[G_MMI]\nCPS = " + longText + "\nident.fail_first = 9\nident.fail_text = " + longError + "\n");
  std::string reason;
  auto library = hdb::platform::DynamicLibrary::Open("libapi32.so", reason);
  ASSERT_TRUE(library) << reason;
  auto* init = reinterpret_cast<ApiInitFunc*>(library->FindSymbol(headunit::ApiInitName));
  auto* job = reinterpret_cast<ApiJobFunc*>(library->FindSymbol(headunit::ApiJobName));
  auto* text = reinterpret_cast<ApiResultTextFunc*>(library->FindSymbol(headunit::ApiResultTextName));
  auto* binary = reinterpret_cast<ApiResultBinaryFunc*>(library->FindSymbol(headunit::ApiResultBinaryName));
  auto* errorText = reinterpret_cast<ApiErrorTextFunc*>(library->FindSymbol(headunit::ApiErrorTextName));
  ASSERT_TRUE(init && job && text && binary && errorText);

  std::uint32_t handle = 0;
  ASSERT_EQ(init(&handle), 1);
  constexpr char Guard = '\x5A';
  std::vector<char> buffer(headunit::ResultTextBufferSize + 64, Guard);
  job(handle, "G_MMI", "cps_lesen", "", "");
  ASSERT_EQ(text(handle, buffer.data(), "CPS", 1, ""), 1);
  EXPECT_EQ(std::strlen(buffer.data()), headunit::ResultTextBufferSize - 1);
  for (std::size_t i = headunit::ResultTextBufferSize; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], Guard) << i;

  job(handle, "G_MMI", "ident", "", "");
  for (int capacity : {63, 10, 0, 500}) {
    SCOPED_TRACE(capacity);
    std::vector<char> error(600, Guard);
    errorText(handle, error.data(), capacity);
    const std::size_t expected = std::min(capacity, headunit::ErrorTextCapacity);
    EXPECT_EQ(std::strlen(error.data()), expected);
    for (std::size_t i = expected + 1; i < error.size(); ++i) ASSERT_EQ(error[i], Guard) << i;
  }

  job(handle, "G_MMI", "steuergeraete_reset", "", "");
  std::vector<unsigned char> bytes(headunit::ResultBinaryBufferSize + 16, 0xEE);
  std::uint16_t length = 0;
  ASSERT_EQ(binary(handle, bytes.data(), &length, "_RESPONSE", 1), 1);
  EXPECT_EQ(length, 1);
  EXPECT_EQ(bytes[0], 0x51);
  EXPECT_EQ(bytes[1], 0xEE);
}

}  // namespace
