// TSimCar: the simulated car behind the stand-in runtime, an access system (G_CAS) and
// a head unit (G_MMI) described by the car file. It answers the jobs the program runs,
// checks what it receives like a real control unit, injects the faults the car file
// asks for and keeps the head unit's memory (history entries, telephone numbers,
// partner record, restart state) in the state file beside the car file, written after
// every change. The history holds at most MaxHistoryEntries, like a real unit; a state
// file that claims more is refused when the car is loaded. Not locked; the runtime
// serialises the calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ediabas-sim/ini_file.h"
#include "ediabas-sim/message_formats.h"

namespace ediabas_sim {

// Error codes the simulated runtime reports (all greater than 0).
enum TSimError : int {
  ErrHandle = 101,        // job on a handle that is not initialised or already ended
  ErrSgbd = 102,          // unknown control unit description
  ErrJob = 103,           // unknown job
  ErrParameter = 104,     // parameter refused by the control unit
  ErrState = 105,         // the head unit's memory could not be written
  ErrInit = 106,          // the runtime did not start (no car, a damaged state file, INIT = fail)
  ErrHistoryFull = 107,   // the head unit's service history holds no more entries
  ErrRestarting = 111,    // the head unit is restarting after a reset
  ErrInjected = 110,      // default code of an injected fault
};

// The service history entries a head unit holds.
inline constexpr std::size_t MaxHistoryEntries = 4000;
// The car file's name beside the library or in the current folder.
inline constexpr char CarFileName[] = "ediabas-sim.ini";

struct TResultValue {
  bool binary = false;
  std::string bytes;
};

struct TJobOutcome {
  int code = 0;
  std::string errorText;
  // Keyed by result set and lower-case result name.
  std::map<std::pair<std::uint16_t, std::string>, TResultValue> results;
};

class TSimCar {
 public:
  // Reads the car file and, when present, the state file beside it. nullptr with a
  // short reason (at most an error text's length) when there is no car file or the
  // state file is damaged.
  static std::unique_ptr<TSimCar> Load(const std::string& carFile, std::string& error);
  // The car file named by EDIABAS_SIM, else ediabas-sim.ini beside this library, else
  // ediabas-sim.ini in the current folder (as an absolute path).
  static std::string CarFilePath();
  // The state file that belongs to a car file: same folder and name, extension ".state",
  // as an absolute path.
  static std::string StatePathFor(const std::string& carFile);

  // False when the car file asks for a runtime that will not initialise.
  bool InitAllowed() const;
  int JobDelayMs() const;

  TJobOutcome RunJob(const std::string& sgbd, const std::string& job, const std::string& parameter);

 private:
  TSimCar() = default;
  // False with a reason when the state is damaged; the car then keeps nothing of it.
  bool LoadState(const TIniFile& state, std::string& error);
  bool SaveState();
  TJobOutcome InjectedFault(const std::string& section, const std::string& job, int attempt) const;
  TJobOutcome RunAccessSystemJob(const std::string& job);
  TJobOutcome RunHeadUnitJob(const std::string& job, const std::string& parameter);
  TJobOutcome Refuse(int code, const std::string& text) const;

  TIniFile car_;
  std::string statePath_;
  std::map<std::string, int> attempts_;  // per "sgbd/job" since this car was loaded

  // The head unit's memory.
  std::vector<std::string> history_;
  TPhoneNumbers numbers_;
  TPartnerRecord partner_;
  int identSilent_ = 0;
};

}  // namespace ediabas_sim
