#include "runtime_answers_target.h"

#include <map>
#include <memory>
#include <vector>

#include "dbengine/platform/dynamic_library.h"
#include "headunit/ediabas_api.h"
#include "headunit/ediabas_entry_points.h"
#include "headunit/head_unit_commands.h"
#include "headunit/partner_data.h"
#include "headunit/vehicle_connect.h"

namespace hdbfuzz {

namespace {

using SetAnswersFunc = void(const std::uint8_t*, std::size_t);

void Require(bool rule, const char* what) {
  if (!rule) throw TargetFault(what);
}

// The longest log line an operation can write: a fixed text and one result.
constexpr std::size_t LongestLogLine = 64 + headunit::ResultTextBufferSize;

struct Log : headunit::TLogSink {
  void AddLog(headunit::LogKind, const std::string& message) override {
    Require(message.size() <= LongestLogLine, "a log line is longer than any result");
    ++lines;
  }
  int lines = 0;
};

struct Dialogs : headunit::TDialogs {
  void ShowMessage(const std::string&, const std::string&, headunit::TMessageIcon) override {}
  headunit::TDialogAnswer Ask(const std::string&, const std::string&, headunit::TMessageIcon,
                              headunit::TDialogButtons) override {
    return transfer ? headunit::TDialogAnswer::Ok : headunit::TDialogAnswer::Cancel;
  }
  bool transfer = false;
};

struct Clock : headunit::TClock {
  void Sleep(std::uint32_t) override {}
  headunit::TTimeOfDay Now() override { return {}; }
};

struct View : headunit::TConnectView {
  void SetProgressMaximum(int m) override { maximum = m; }
  void SetProgressPosition(int p) override {
    Require(p >= 0 && p <= maximum, "the progress left its range");
    position = p;
  }
  int ProgressPosition() override { return position; }
  void ProcessEvents() override {}
  void ShowVin(const std::string& vin) override { Shown(vin); }
  void ShowMileage(const std::string& mileage) override { Shown(mileage); }
  void ShowHeadUnitType(const std::string& variant) override { Shown(variant); }
  static void Shown(const std::string& text) {
    Require(text.size() < headunit::ResultTextBufferSize, "a shown text is longer than a result");
  }
  int maximum = 0, position = 0;
};

// The scripted runtime, loaded once per path for the whole run.
SetAnswersFunc* SetAnswersOf(const std::string& runtimePath) {
  static std::map<std::string, std::unique_ptr<hdb::platform::DynamicLibrary>> loaded;
  auto& library = loaded[runtimePath];
  if (!library) {
    std::string error;
    library = hdb::platform::DynamicLibrary::Open(runtimePath, error);
    if (!library) throw TargetFault("the scripted runtime does not load: " + error);
  }
  auto* set = reinterpret_cast<SetAnswersFunc*>(library->FindSymbol("ScriptedRuntimeSetAnswers"));
  if (!set) throw TargetFault("the scripted runtime has no ScriptedRuntimeSetAnswers");
  return set;
}

// The wrappers on their own: whatever the runtime does, what they return fits the
// buffers of the contract.
void CallWrappers(headunit::TEdiabasApi& api) {
  api.ApiInit();
  api.ApiJob(headunit::HeadUnitSgbd, "ident", "", "");
  for (std::uint16_t set : {0, 1, 65535}) {
    const std::string text = api.ApiResultText("JOB_STATUS", set);
    Require(text.size() < headunit::ResultTextBufferSize, "a result text overran its buffer");
    Require(api.ApiResultBinary("_RESPONSE", set).size() <= headunit::ResultBinaryBufferSize,
            "a binary result overran its buffer");
  }
  const headunit::TApiError error = api.ApiErrorCode();
  Require(error.text.size() <= static_cast<std::size_t>(headunit::ErrorTextCapacity),
          "an error text overran its buffer");
  api.ApiEnd();
}

}  // namespace

void RunOnRuntimeAnswers(const std::uint8_t* data, std::size_t size, const std::string& runtimePath) {
  SetAnswersFunc* setAnswers = SetAnswersOf(runtimePath);
  const std::uint8_t choice = size > 0 ? data[0] : 0;
  if (size > 0) {
    ++data;
    --size;
  }
  setAnswers(data, size);

  // One binding for the whole run, as the program keeps one: loading the library for
  // every input would make the loader, not the answers, the work of a run.
  static std::map<std::string, std::unique_ptr<headunit::TEdiabasApi>> bindings;
  std::unique_ptr<headunit::TEdiabasApi>& binding = bindings[runtimePath];
  if (!binding) {
    binding = std::make_unique<headunit::TEdiabasApi>();
    Require(binding->LoadRuntimeLibrary(runtimePath) && binding->RuntimeLoaded(),
            "the binding does not take the runtime");
  }
  headunit::TEdiabasApi& api = *binding;
  Log log;
  Dialogs dialogs;
  dialogs.transfer = choice & 0x20;
  Clock clock;
  headunit::THeadUnitContext context{api, log, dialogs, clock};

  if (choice & 0x01) CallWrappers(api);
  if (choice & 0x02) {
    View view;
    const headunit::TConnectResult result = headunit::ConnectVehicle(context, view);
    Require(result.vin.size() < headunit::ResultTextBufferSize, "the VIN is longer than a result");
  }
  if (choice & 0x04) {
    const headunit::TPartnerData partner{"Auto Service", "030123", "Germany", "Berlin", "Main Street 1"};
    headunit::SyncPartnerData(context, partner);
  }
  if (choice & 0x08) headunit::RebootHeadUnit(context);
  if (choice & 0x10) headunit::EraseServiceHistory(context, choice & 0x40);
  // Every operation writes a handful of lines per try, whatever the answers.
  Require(log.lines <= 64, "the operations wrote more log lines than their tries allow");
  setAnswers(nullptr, 0);
}

}  // namespace hdbfuzz
