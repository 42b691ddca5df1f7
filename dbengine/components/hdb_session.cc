#include "dbengine/components/hdb_session.h"

#include <algorithm>
#include <cassert>

#include "dbengine/components/hdb_database.h"
#include "dbengine/cursor/open_databases.h"
#include "dbengine/platform/ansi_charset.h"
#include "dbengine/storage/hdb_exception.h"

namespace hdb {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

// Set while the process-wide list exists: components that outlive it (destroyed
// during static destruction) find no session instead of a freed one.
THDBSessions* g_sessions = nullptr;

}  // namespace

// ---- THDBSession ---------------------------------------------------------------------

THDBSession::THDBSession(const std::string& sessionName) { Join(THDBSessions::Instance(), sessionName); }

THDBSession::THDBSession(THDBSessions& list, const std::string& sessionName) { Join(list, sessionName); }

void THDBSession::Join(THDBSessions& list, const std::string& sessionName) {
  Guard guard(list.Lock());
  if (sessionName.empty()) {
    sessionName_ = list.UniqueSessionName();
    autoSessionName_ = true;
  } else {
    if (list.FindSession(sessionName)) RaiseHDB(Errors::DuplicateSessionName, sessionName);
    sessionName_ = sessionName;
  }
  list.Add(*this);
}

THDBSession::~THDBSession() {
  THDBSessions* list = g_sessions;
  std::unique_lock<std::recursive_mutex> guard;
  if (list) guard = std::unique_lock<std::recursive_mutex>(list->Lock());
  // The databases it made go with it; the others only leave it.
  std::vector<std::unique_ptr<THDBDatabase>> created = std::move(created_);
  created.clear();
  for (THDBDatabase* db : std::vector<THDBDatabase*>(databases_)) {
    try {
      db->SetConnected(false);
    } catch (const std::exception&) {
    }
    db->session_ = nullptr;
  }
  databases_.clear();
  if (list) list->Remove(*this);
}

void THDBSession::SetSessionName(const std::string& name) {
  THDBSessions& list = THDBSessions::Instance();
  Guard guard(list.Lock());
  if (name == sessionName_) return;
  THDBSession* other = list.FindSession(name);
  if (name.empty() || (other && other != this)) RaiseHDB(Errors::DuplicateSessionName, name);
  sessionName_ = name;
  autoSessionName_ = false;
}

void THDBSession::SetAutoSessionName(bool value) {
  if (value == autoSessionName_) return;
  if (value) {
    THDBSessions& list = THDBSessions::Instance();
    Guard guard(list.Lock());
    sessionName_ = list.UniqueSessionName();
  }
  autoSessionName_ = value;
}

void THDBSession::SetActive(bool value) {
  if (value == active_) return;
  if (!value) {
    THDBSessions& list = THDBSessions::Instance();
    Guard guard(list.Lock());
    for (THDBDatabase* db : std::vector<THDBDatabase*>(databases_)) db->SetConnected(false);
  }
  active_ = value;
}

THDBDatabase* THDBSession::FindDatabase(const std::string& databaseName, const void* owner) const {
  THDBDatabase* found = nullptr;
  for (THDBDatabase* db : databases_) {
    if (!platform::AnsiSameText(db->DatabaseName(), databaseName)) continue;
    if (owner && db->Owner() == owner) return db;
    if (!found) found = db;
  }
  return found;
}

THDBDatabase& THDBSession::OpenDatabase(const std::string& databaseName, const void* owner) {
  THDBSessions& list = THDBSessions::Instance();
  Guard guard(list.Lock());
  THDBDatabase* db = FindDatabase(databaseName, owner);
  bool created = false;
  if (!db) {
    auto made = std::make_unique<THDBDatabase>();
    made->createdBySession_ = true;
    made->SilentMode = true;
    made->SetSessionName(sessionName_);
    made->SetDatabaseName(databaseName);
    made->SetKeepConnection(KeepConnections);
    db = made.get();
    created_.push_back(std::move(made));
    created = true;
  }
  try {
    db->SetConnected(true);
  } catch (...) {
    // A database made only for this open is not kept when it cannot connect.
    if (created) std::erase_if(created_, [&](const auto& p) { return p.get() == db; });
    throw;
  }
  ++db->useCount_;
  return *db;
}

void THDBSession::CloseDatabase(THDBDatabase& database) {
  THDBSessions& list = THDBSessions::Instance();
  Guard guard(list.Lock());
  if (database.useCount_ > 0) --database.useCount_;
  // A database that is disconnecting closes its tables itself and must not go away
  // under its own feet.
  if (database.useCount_ > 0 || database.KeepConnection() || database.Disconnecting()) return;
  database.SetConnected(false);
  if (database.createdBySession_) std::erase_if(created_, [&](const auto& p) { return p.get() == &database; });
}

void THDBSession::AddDatabase(THDBDatabase& database) {
  THDBSessions& list = THDBSessions::Instance();
  Guard guard(list.Lock());
  if (std::find(databases_.begin(), databases_.end(), &database) == databases_.end()) databases_.push_back(&database);
}

void THDBSession::CheckDuplicateName(const std::string& databaseName, const THDBDatabase& self) {
  if (databaseName.empty()) return;
  THDBSessions& list = THDBSessions::Instance();
  Guard guard(list.Lock());
  for (THDBDatabase* db : std::vector<THDBDatabase*>(databases_)) {
    if (db == &self || !platform::AnsiSameText(db->DatabaseName(), databaseName)) continue;
    // Components that share one engine session go by one name.
    if (db->HandleShared && self.HandleShared) continue;
    if (!db->createdBySession_ || db->useCount_ > 0) RaiseHDB(Errors::DuplicateDatabaseName, databaseName);
    std::erase_if(created_, [&](const auto& p) { return p.get() == db; });
  }
}

void THDBSession::RemoveDatabase(THDBDatabase& database) {
  THDBSessions* list = g_sessions;
  std::unique_lock<std::recursive_mutex> guard;
  if (list) guard = std::unique_lock<std::recursive_mutex>(list->Lock());
  std::erase(databases_, &database);
}

// ---- THDBSessions --------------------------------------------------------------------

THDBSessions& THDBSessions::Instance() {
  static THDBSessions sessions;
  if (!g_sessions) RaiseHDB(Errors::EngineNotInitialized);
  return sessions;
}

THDBSessions::THDBSessions() {
  // The registry of open databases must outlive the sessions, whose databases detach
  // from it as they go.
  THDBOpenDatabases::Instance();
  g_sessions = this;
  std::unique_ptr<THDBSession> made(new THDBSession(*this, DefaultSessionName));
  default_ = made.get();
  owned_.push_back(std::move(made));
}

THDBSessions::~THDBSessions() {
  Guard guard(lock_);
  owned_.clear();
  // Sessions made by their callers and still alive lose the list.
  sessions_.clear();
  g_sessions = nullptr;
}

THDBSession* THDBSessions::FindSession(const std::string& name) {
  Guard guard(lock_);
  if (name.empty()) return default_;
  for (THDBSession* s : sessions_)
    if (platform::AnsiSameText(s->SessionName(), name)) return s;
  return nullptr;
}

THDBSession& THDBSessions::GetSession(const std::string& name) {
  THDBSession* s = FindSession(name);
  if (!s) RaiseHDB(Errors::InvalidSessionName, name);
  return *s;
}

THDBSession& THDBSessions::OpenSession(const std::string& name) {
  Guard guard(lock_);
  if (THDBSession* s = FindSession(name)) return *s;
  auto made = std::make_unique<THDBSession>(name);
  THDBSession& ref = *made;
  owned_.push_back(std::move(made));
  return ref;
}

void THDBSessions::Add(THDBSession& session) {
  Guard guard(lock_);
  sessions_.push_back(&session);
}

void THDBSessions::Remove(THDBSession& session) {
  Guard guard(lock_);
  std::erase(sessions_, &session);
}

std::string THDBSessions::UniqueSessionName() const {
  for (int n = 1;; ++n) {
    std::string name = "Session" + std::to_string(n);
    bool used = false;
    for (THDBSession* s : sessions_) used = used || platform::AnsiSameText(s->SessionName(), name);
    if (!used) return name;
  }
}

}  // namespace hdb
