#include "dbengine/components/hdb_database.h"

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <new>

#include "dbengine/components/database_prompts.h"
#include "dbengine/components/database_repair.h"
#include "dbengine/components/hdb_dataset.h"
#include "dbengine/components/hdb_session.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/platform/ansi_charset.h"
#include "dbengine/storage/disk_database.h"
#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/file_header.h"
#include "dbengine/storage/hdb_exception.h"

namespace hdb {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

constexpr char RepairQuestion[] = "Database file was not correctly closed last time. Do you want to repair it?";
constexpr char ConversionNotice[] =
    "Database file '%s' is of old format and will be converted to the new format now. "
    "It is recommended to make a backup copy of the file before the conversion.";
constexpr char RepairWaitCaption[] = "Repairing Database...";

bool IsPasswordError(const EHDBException& e) {
  return e.NativeError() == Errors::IncorrectPassword.Code || e.NativeError() == Errors::InvalidDatabasePassword.Code;
}

}  // namespace

THDBDatabase::THDBDatabase(const void* owner) : owner_(owner), sessionName_(DefaultSessionName) {
  THDBSessions& list = THDBSessions::Instance();
  Guard guard(list.Lock());
  session_ = &list.DefaultSession();
  session_->AddDatabase(*this);
}

THDBDatabase::~THDBDatabase() {
  try {
    SetConnected(false);
  } catch (const std::exception&) {
    // Destroyed on the way out: nothing can be reported.
  }
  if (session_) session_->RemoveDatabase(*this);
}

std::string THDBDatabase::CurrentVersion() {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f ", CurrentFormatVersion);
  return text;
}

THDBSession& THDBDatabase::Session() const {
  if (!session_) RaiseHDB(Errors::InvalidSessionName, sessionName_);
  return *session_;
}

THDBLocalSession& THDBDatabase::EngineSession() const {
  if (!engineSession_) RaiseHDB(Errors::DatabaseIsClosed);
  return *engineSession_;
}

bool THDBDatabase::Connected() const { return engineSession_ && engineSession_->IsConnected(); }

void THDBDatabase::CheckInactive() const {
  if (!Connected()) return;
  if (designing_) {
    const_cast<THDBDatabase*>(this)->SetConnected(false);
    return;
  }
  RaiseHDB(Errors::DatabaseIsOpen);
}

void THDBDatabase::SetDatabaseName(const std::string& name) {
  if (name == databaseName_) return;
  CheckInactive();
  if (session_) session_->CheckDuplicateName(name, *this);
  databaseName_ = name;
}

void THDBDatabase::SetDatabaseFileName(const std::string& fileName) {
  if (fileName == databaseFileName_) return;
  if (Connected()) DoDisconnect();
  databaseFileName_ = fileName;
}

void THDBDatabase::SetSessionName(const std::string& name) {
  CheckInactive();
  THDBSessions& list = THDBSessions::Instance();
  Guard guard(list.Lock());
  THDBSession* target = list.FindSession(name);
  if (target && target != session_) target->CheckDuplicateName(databaseName_, *this);
  if (session_ != target) {
    if (session_) session_->RemoveDatabase(*this);
    session_ = target;
    if (session_) session_->AddDatabase(*this);
  }
  sessionName_ = name.empty() ? DefaultSessionName : name;
}

void THDBDatabase::SetKeepConnection(bool value) {
  keepConnection_ = value;
  if (!value && useCount_ == 0 && datasets_.empty()) SetConnected(false);
}

void THDBDatabase::SetConnected(bool value) {
  if (loading_) {
    streamedConnected_ = value;
    return;
  }
  if (value == Connected()) return;
  if (!value) {
    DoDisconnect();
    return;
  }
  try {
    DoConnect();
  } catch (const std::exception& e) {
    if (!designing_) throw;
    DatabasePrompts().ShowError(e.what());
  }
}

void THDBDatabase::EndLoading() {
  loading_ = false;
  if (streamedConnected_) SetConnected(true);
}

void THDBDatabase::RegisterDataset(THDBDataSet& dataset) {
  for (THDBDataSet* ds : datasets_)
    if (ds == &dataset) return;
  datasets_.push_back(&dataset);
}

void THDBDatabase::UnregisterDataset(THDBDataSet& dataset) { std::erase(datasets_, &dataset); }

void THDBDatabase::DoConnect() {
  THDBSessions& list = THDBSessions::Instance();
  Guard guard(list.Lock());
  if (databaseName_.empty()) RaiseHDB(Errors::DatabaseNameMissing);
  THDBSession& session = list.GetSession(sessionName_ == DefaultSessionName ? "" : sessionName_);
  if (&session != session_) {
    session.CheckDuplicateName(databaseName_, *this);
    if (session_) session_->RemoveDatabase(*this);
    session_ = &session;
    session_->AddDatabase(*this);
  }
  session.SetActive(true);

  if (HandleShared) {
    for (THDBDatabase* other : session.Databases()) {
      if (other == this || !other->HandleShared || !other->Connected() ||
          !platform::AnsiSameText(other->databaseName_, databaseName_))
        continue;
      engineSession_ = other->engineSession_;
      pageSize_ = other->pageSize_;
      extentPageCount_ = other->extentPageCount_;
      MaxConnections = other->MaxConnections;
      if (!designing_) ReadOnly = other->ReadOnly;
      return;
    }
  }

  std::error_code ec;
  if (!std::filesystem::is_regular_file(databaseFileName_, ec)) RaiseHDB(Errors::DatabaseFileNotFound, databaseFileName_);
  ConnectEngineSession();
  if (!designing_) ReadOnly = engineSession_->ReadOnly;
  pageSize_ = engineSession_->PageSize;
  extentPageCount_ = engineSession_->ExtentPageCount;
  MaxConnections = engineSession_->MaxConnections;
}

void THDBDatabase::ConnectEngineSession() {
  for (;;) {
    std::shared_ptr<THDBLocalSession> session;
    try {
      session = std::make_shared<THDBLocalSession>();
    } catch (const std::bad_alloc&) {
      RaiseHDB(Errors::DatabaseOpenError);
    }
    session->DatabaseName = databaseName_;
    session->DatabaseFileName = databaseFileName_;
    session->Password.Text = Password;
    session->PageSize = pageSize_;
    session->ExtentPageCount = extentPageCount_;
    session->MaxConnections = MaxConnections;
    session->ReadOnly = ReadOnly;
    session->Exclusive = Exclusive;
    session->MultiUser = MultiUser;
    session->SessionName = MultiUser ? sessionName_ : std::string();
    try {
      session->SetConnected(true);
    } catch (const EHDBException& e) {
      if (IsPasswordError(e) && AskPassword()) continue;
      throw;
    }
    if (session->NeedsRepair && !SilentMode && !designing_) {
      THDBDiskDatabaseData* data = session->DatabaseData();
      const double version =
          data && data->PageManager() ? data->PageManager()->Header().FormatVersion() : CurrentFormatVersion;
      if (AskRepair(version)) {
        session->SetConnected(false);
        session.reset();
        const bool conversion = version < OldFormatLimit;
        try {
          Repair();
        } catch (const EHDBException& e) {
          if (conversion && e.NativeError() != Errors::NotEnoughDiskSpace.Code)
            RaiseHDB(Errors::CannotConvertDatabase, databaseFileName_, e.Message());
          throw;
        }
        continue;
      }
    }
    engineSession_ = std::move(session);
    return;
  }
}

bool THDBDatabase::AskRepair(double formatVersion) {
  if (formatVersion >= OldFormatLimit) {
    if (OnNeedRepair) return OnNeedRepair(*this);
    return DatabasePrompts().Confirm(RepairQuestion);
  }
  DatabasePrompts().Inform(Format(ConversionNotice, databaseFileName_));
  return true;
}

void THDBDatabase::Repair() {
  if (BeforeRepair) BeforeRepair(*this);
  THDBRepairOptions options;
  options.PageSize = pageSize_;
  options.ExtentPageCount = extentPageCount_;
  options.MaxConnections = MaxConnections;
  const bool waitWindow = !OnRepairProgress;
  if (waitWindow) {
    DatabasePrompts().BeginWait(RepairWaitCaption);
    options.Progress = [](int percent, const std::string&) { DatabasePrompts().WaitProgress(percent); };
  } else {
    options.Progress = [this](int percent, const std::string& table) { OnRepairProgress(*this, percent, table); };
  }
  std::string warnings;
  try {
    warnings = RepairDatabaseFile(databaseFileName_, options);
  } catch (...) {
    if (waitWindow) DatabasePrompts().EndWait();
    throw;
  }
  if (waitWindow) DatabasePrompts().EndWait();
  if (!warnings.empty()) DatabasePrompts().Warn(warnings);
  if (AfterRepair) AfterRepair(*this);
}

bool THDBDatabase::AskPassword() {
  if (OnPassword) return OnPassword(*this);
  if (SilentMode) return false;
  return DatabasePrompts().AskPassword(databaseName_, Password);
}

void THDBDatabase::DoDisconnect() {
  THDBSessions& list = THDBSessions::Instance();
  Guard guard(list.Lock());
  if (disconnecting_) return;
  disconnecting_ = true;
  try {
    for (THDBDataSet* ds : std::vector<THDBDataSet*>(datasets_)) ds->Close();
  } catch (...) {
    disconnecting_ = false;
    throw;
  }
  disconnecting_ = false;
  if (!engineSession_) return;
  std::shared_ptr<THDBLocalSession> session = std::move(engineSession_);
  // A handle shared with other components stays with them.
  if (session.use_count() == 1) session->SetConnected(false);
}

}  // namespace hdb
