#include "ediabas-sim/sim_car.h"

#include <cstdlib>
#include <filesystem>

#include "dbengine/platform/dynamic_library.h"

namespace ediabas_sim {

namespace {

constexpr char Cas[] = "G_CAS";
constexpr char Mmi[] = "G_MMI";
constexpr char Runtime[] = "RUNTIME";

// The folder of the library this code is part of, taken when the library is loaded,
// before the program could change its current folder (the loader may name the library
// by a relative path). Empty when the loader does not know the file.
const char LibraryAnchor = 0;
const std::filesystem::path LibraryFolder = [] {
  const std::string file = hdb::platform::DynamicLibrary::FileContaining(&LibraryAnchor);
  if (file.empty()) return std::filesystem::path();
  std::error_code ec;
  std::filesystem::path path = std::filesystem::absolute(file, ec);
  return ec ? std::filesystem::path() : path.parent_path();
}();

std::string PartnerBlockOf(const TPartnerRecord& p) {
  return "ID;0xD0D5;" + p.name + ";" + p.street + ";" + p.city + ";" + p.country + ";" + p.telephone + ";;" +
         p.name + ";;;";
}

void AddText(TJobOutcome& outcome, std::uint16_t set, const std::string& name, const std::string& value) {
  outcome.results[{set, LowerAscii(name)}] = TResultValue{false, value};
}

}  // namespace

std::string TSimCar::CarFilePath() {
  const char* configured = std::getenv("EDIABAS_SIM");
  if (configured != nullptr && *configured != '\0') return configured;
  std::error_code ec;
  if (!LibraryFolder.empty()) {
    const std::filesystem::path beside = LibraryFolder / CarFileName;
    if (std::filesystem::is_regular_file(beside, ec)) return beside.string();
  }
  const std::filesystem::path here = std::filesystem::absolute(CarFileName, ec);
  return ec ? std::string(CarFileName) : here.string();
}

std::string TSimCar::StatePathFor(const std::string& carFile) {
  std::error_code ec;
  std::filesystem::path path = std::filesystem::absolute(carFile, ec);
  if (ec) path = carFile;
  path.replace_extension(".state");
  return path.string();
}

std::unique_ptr<TSimCar> TSimCar::Load(const std::string& carFile, std::string& error) {
  std::optional<TIniFile> car = TIniFile::Load(carFile);
  if (!car) {
    error = "SIM: no vehicle file " + std::filesystem::path(carFile).filename().string();
    return nullptr;
  }
  std::unique_ptr<TSimCar> sim(new TSimCar);
  sim->car_ = std::move(*car);
  sim->statePath_ = StatePathFor(carFile);
  if (std::optional<TIniFile> state = TIniFile::Load(sim->statePath_)) {
    if (!sim->LoadState(*state, error)) return nullptr;
  } else {
    TIniFile fromCar;
    for (const char* key : {"NR_BEREITSCHAFTSDIENST", "NR_HEIMATHAENDLER", "NR_PASSO", "NR_HOTLINE"})
      fromCar.Set(Mmi, key, sim->car_.GetOr(Mmi, key, ""));
    TPartnerRecord partner{sim->car_.GetOr(Mmi, "PARTNER_NAME", ""), sim->car_.GetOr(Mmi, "PARTNER_STREET", ""),
                           sim->car_.GetOr(Mmi, "PARTNER_CITY", ""), sim->car_.GetOr(Mmi, "PARTNER_COUNTRY", ""),
                           sim->car_.GetOr(Mmi, "PARTNER_TELEPHONE", "")};
    fromCar.Set(Mmi, "PARTNER_BLOCK", PartnerBlockOf(partner));
    sim->LoadState(fromCar, error);
  }
  return sim;
}

bool TSimCar::LoadState(const TIniFile& state, std::string& error) {
  // The count is checked before anything is read: a damaged count must neither make
  // the car hold more than a unit can nor let a later save drop what the file holds.
  long long count = 0;
  if (std::optional<std::string> text = state.Get(Mmi, "HISTORY_COUNT")) {
    std::optional<long long> parsed = ParseInteger(*text);
    if (!parsed || *parsed < 0) {
      error = "SIM: state file has a damaged HISTORY_COUNT";
      return false;
    }
    if (static_cast<unsigned long long>(*parsed) > MaxHistoryEntries) {
      error = "SIM: state file has " + std::to_string(*parsed) + " history entries, at most " +
              std::to_string(MaxHistoryEntries);
      return false;
    }
    count = *parsed;
  }
  std::vector<std::string> history;
  history.reserve(static_cast<std::size_t>(count));
  for (long long i = 1; i <= count; ++i) {
    const std::string key = "HISTORY_" + std::to_string(i);
    std::optional<std::string> entry = state.Get(Mmi, key);
    if (!entry) {
      error = "SIM: state file lacks " + key;
      return false;
    }
    history.push_back(std::move(*entry));
  }
  history_ = std::move(history);
  numbers_.standby = state.GetOr(Mmi, "NR_BEREITSCHAFTSDIENST", "");
  numbers_.homeDealer = state.GetOr(Mmi, "NR_HEIMATHAENDLER", "");
  numbers_.passo = state.GetOr(Mmi, "NR_PASSO", "");
  numbers_.hotline = state.GetOr(Mmi, "NR_HOTLINE", "");
  std::string reason;
  if (std::optional<TPartnerRecord> partner = ParsePartnerBlock(state.GetOr(Mmi, "PARTNER_BLOCK", ""), reason))
    partner_ = *partner;
  identSilent_ = static_cast<int>(state.GetInt(Mmi, "IDENT_SILENT", 0));
  return true;
}

bool TSimCar::SaveState() {
  TIniFile state;
  state.Set(Mmi, "NR_BEREITSCHAFTSDIENST", numbers_.standby);
  state.Set(Mmi, "NR_HEIMATHAENDLER", numbers_.homeDealer);
  state.Set(Mmi, "NR_PASSO", numbers_.passo);
  state.Set(Mmi, "NR_HOTLINE", numbers_.hotline);
  state.Set(Mmi, "PARTNER_BLOCK", PartnerBlockOf(partner_));
  state.Set(Mmi, "IDENT_SILENT", std::to_string(identSilent_));
  state.Set(Mmi, "HISTORY_COUNT", std::to_string(history_.size()));
  for (std::size_t i = 0; i < history_.size(); ++i) state.Set(Mmi, "HISTORY_" + std::to_string(i + 1), history_[i]);
  return state.Save(statePath_, "Memory of the simulated head unit, written after every change.");
}

bool TSimCar::InitAllowed() const { return LowerAscii(car_.GetOr(Runtime, "INIT", "ok")) != "fail"; }

int TSimCar::JobDelayMs() const { return static_cast<int>(car_.GetInt(Runtime, "JOB_DELAY_MS", 0)); }

TJobOutcome TSimCar::Refuse(int code, const std::string& text) const {
  TJobOutcome outcome;
  outcome.code = code;
  outcome.errorText = text;
  return outcome;
}

// "<job>.fail_first = N" fails attempts 1..N, "<job>.fail_after = M" every attempt after
// the first M; "<job>.fail_code" and "<job>.fail_text" say how.
TJobOutcome TSimCar::InjectedFault(const std::string& section, const std::string& job, int attempt) const {
  const long long failFirst = car_.GetInt(section, job + ".fail_first", 0);
  const long long failAfter = car_.GetInt(section, job + ".fail_after", -1);
  if (attempt > failFirst && (failAfter < 0 || attempt <= failAfter)) return {};
  return Refuse(static_cast<int>(car_.GetInt(section, job + ".fail_code", ErrInjected)),
                car_.GetOr(section, job + ".fail_text", "SIM: no response from control unit"));
}

TJobOutcome TSimCar::RunJob(const std::string& sgbd, const std::string& job, const std::string& parameter) {
  const std::string unit = LowerAscii(sgbd);
  const std::string name = LowerAscii(job);
  if (unit != "g_cas" && unit != "g_mmi") return Refuse(ErrSgbd, "SIM: unknown SGBD " + sgbd);
  const std::string section = unit == "g_cas" ? Cas : Mmi;

  static const char* const casJobs[] = {"ident", "status_fahrgestellnummer", "status_kilometerstand"};
  static const char* const mmiJobs[] = {"ident",           "cps_lesen",
                                        "steuergeraete_reset", "steuern_servicehistory_erase",
                                        "steuern_servicehistory_add", "status_lesen",
                                        "lesen_telefonnummern", "schreiben_telefonnummern",
                                        "steuern"};
  bool known = false;
  if (unit == "g_cas") {
    for (const char* j : casJobs) known = known || name == j;
  } else {
    for (const char* j : mmiJobs) known = known || name == j;
  }
  if (!known) return Refuse(ErrJob, "SIM: unknown job " + job);

  const int attempt = ++attempts_[unit + "/" + name];
  TJobOutcome fault = InjectedFault(section, name, attempt);
  if (fault.code != 0) return fault;

  TJobOutcome outcome = unit == "g_cas" ? RunAccessSystemJob(name) : RunHeadUnitJob(name, parameter);
  if (outcome.code == 0) {
    AddText(outcome, 0, "VARIANTE", car_.GetOr(section, "VARIANTE", section));
    AddText(outcome, 1, "JOB_STATUS", "OKAY");
  }
  return outcome;
}

TJobOutcome TSimCar::RunAccessSystemJob(const std::string& job) {
  TJobOutcome outcome;
  if (job == "status_fahrgestellnummer") {
    AddText(outcome, 1, "STAT_FGNR17_WERT", car_.GetOr(Cas, "FGNR", ""));
  } else if (job == "status_kilometerstand") {
    AddText(outcome, 1, "STAT_KILOMETERSTAND_WERT", car_.GetOr(Cas, "KILOMETERSTAND", ""));
    AddText(outcome, 1, "STAT_KILOMETERSTAND_EINH", "km");
  }
  return outcome;
}

TJobOutcome TSimCar::RunHeadUnitJob(const std::string& job, const std::string& parameter) {
  TJobOutcome outcome;
  std::string reason;
  if (job == "ident") {
    if (identSilent_ > 0) {
      --identSilent_;
      SaveState();
      return Refuse(ErrRestarting, "SIM: no response, control unit restarting");
    }
  } else if (job == "cps_lesen") {
    AddText(outcome, 1, "CPS", car_.GetOr(Mmi, "CPS", ""));
  } else if (job == "steuergeraete_reset") {
    const std::string response = LowerAscii(car_.GetOr(Mmi, "RESET_RESPONSE", "0x51"));
    if (response != "none") {
      const long long byte = ParseInteger(response).value_or(0x51);
      outcome.results[{1, "_response"}] = TResultValue{true, std::string(1, static_cast<char>(byte & 0xFF))};
      if ((byte & 0xFF) == 0x51) {
        identSilent_ = static_cast<int>(car_.GetInt(Mmi, "IDENT_SILENT_AFTER_RESET", 0));
        if (!SaveState()) return Refuse(ErrState, "SIM: cannot write the head unit state");
      }
    }
  } else if (job == "steuern_servicehistory_erase") {
    history_.clear();
    if (!SaveState()) return Refuse(ErrState, "SIM: cannot write the head unit state");
  } else if (job == "steuern_servicehistory_add") {
    if (!CheckHistoryEntry(parameter, reason)) return Refuse(ErrParameter, "SIM: entry refused, " + reason);
    if (history_.size() >= MaxHistoryEntries)
      return Refuse(ErrHistoryFull, "SIM: service history full (" + std::to_string(MaxHistoryEntries) + " entries)");
    history_.push_back(parameter);
    if (!SaveState()) {
      history_.pop_back();
      return Refuse(ErrState, "SIM: cannot write the head unit state");
    }
    AddText(outcome, 1, "STAT_SH_ADD_TEXT", "Entry " + std::to_string(history_.size()) + " stored");
  } else if (job == "status_lesen") {
    if (parameter != "ID;0xD0D5") return Refuse(ErrParameter, "SIM: unknown record " + parameter);
    AddText(outcome, 1, "STAT_NAME_TEXT", partner_.name);
    AddText(outcome, 1, "STAT_STREET_TEXT", partner_.street);
    AddText(outcome, 1, "STAT_CITY_TEXT", partner_.city);
    AddText(outcome, 1, "STAT_COUNTRY_TEXT", partner_.country);
    AddText(outcome, 1, "STAT_TELEPHONE_NUMBER_TEXT", partner_.telephone);
  } else if (job == "lesen_telefonnummern") {
    AddText(outcome, 1, "STAT_NR_BEREITSCHAFTSDIENST", numbers_.standby);
    AddText(outcome, 1, "STAT_NR_HEIMATHAENDLER", numbers_.homeDealer);
    AddText(outcome, 1, "STAT_NR_PASSO", numbers_.passo);
    AddText(outcome, 1, "STAT_NR_HOTLINE", numbers_.hotline);
  } else if (job == "schreiben_telefonnummern") {
    std::optional<TPhoneNumbers> numbers = ParsePhoneNumbers(parameter, reason);
    if (!numbers) return Refuse(ErrParameter, "SIM: numbers refused, " + reason);
    numbers_ = *numbers;
    if (!SaveState()) return Refuse(ErrState, "SIM: cannot write the head unit state");
  } else if (job == "steuern") {
    std::optional<TPartnerRecord> partner = ParsePartnerBlock(parameter, reason);
    if (!partner) return Refuse(ErrParameter, "SIM: record refused, " + reason);
    partner_ = *partner;
    if (!SaveState()) return Refuse(ErrState, "SIM: cannot write the head unit state");
  }
  return outcome;
}

}  // namespace ediabas_sim
