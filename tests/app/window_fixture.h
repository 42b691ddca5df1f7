// The main window as the tests open it: in a folder of its own, with its App.cfg, an
// empty Data.hdb, a simulated car behind the real libapi32.so, scripted dialogs and a
// recording clock.
#pragma once

#include <QPlainTextEdit>
#include <QStringList>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "recording_clock.h"
#include "scripted_dialogs.h"
#include "settings/app_settings.h"
#include "sim_car_files.h"
#include "store_files.h"
#include "temp_dir.h"

namespace uitest {

class TWindowFixture {
 public:
  // The standard car and an App.cfg with every text empty and every switch off.
  TWindowFixture() {
    car.Write();
    WriteSettings(settings::TAppSettings());
    CreateStore(StorePath());
  }

  void WriteSettings(const settings::TAppSettings& record) const {
    std::ofstream(SettingsPath(), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(record.Bytes().data()), static_cast<std::streamsize>(record.Bytes().size()));
  }
  std::string SettingsPath() const { return dir.File("App.cfg"); }
  std::string StorePath() const { return dir.File("Data.hdb"); }

  app::TForm1& Open(const std::string& runtimeLibrary = "libapi32.so") {
    app::TFormEnvironment environment;
    environment.programFolder = dir.Path().string() + "/";
    environment.runtimeLibrary = runtimeLibrary;
    environment.dialogs = &dialogs;
    environment.clock = &clock;
    form = std::make_unique<app::TForm1>(environment);
    form->ediabasApi().SetCallTrace([this](const headunit::TApiCall& call) {
      if (beforeCall) beforeCall(call);
      switch (call.kind) {
        case headunit::TApiCallKind::Init: calls.push_back("init"); break;
        case headunit::TApiCallKind::End: calls.push_back("end"); break;
        case headunit::TApiCallKind::Job:
          calls.push_back(call.job);
          jobs.push_back(call.job + " " + call.parameter);
          break;
      }
    });
    return *form;
  }

  // The log lines without their time stamps, e.g. "[Process] - Reboot - OK".
  QStringList Log() const {
    QStringList lines;
    const QString text = form->LogMemo->toPlainText();
    if (text.isEmpty()) return lines;
    for (const QString& line : text.split('\n')) lines << line.mid(15);
    return lines;
  }
  // The lines added since `mark` (a count from an earlier Log()).
  QStringList LogSince(qsizetype mark) const { return Log().mid(mark); }

  hdbtest::TempDir dir;
  TSimCarFiles car{dir.Path().string()};
  TScriptedDialogs dialogs;
  TRecordingClock clock;
  std::vector<std::string> jobs;   // "job parameter", in the order issued
  std::vector<std::string> calls;  // "init", the job's name or "end", in the order issued
  std::function<void(const headunit::TApiCall&)> beforeCall;
  std::unique_ptr<app::TForm1> form;
};

}  // namespace uitest
