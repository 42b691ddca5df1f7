// THDBSession, a named group of database components, and THDBSessions, the process-wide
// list of all sessions with its default session "Default". A table component finds its
// database through its session: by DatabaseName, creating a silent database component
// of that name when none exists, and counting the tables that use it so that the last
// one closing can disconnect it.
//
// The list owns the sessions it creates (the default one and those made by name); a
// session made by its caller is only listed. A session owns the database components it
// created itself and refers to the others. The list and every session's database list
// are guarded by one process-wide re-entrant lock (THDBSessions::Lock), held around
// connect and disconnect too.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace hdb {

class THDBDatabase;
class THDBSessions;

inline constexpr char DefaultSessionName[] = "Default";

class THDBSession {
 public:
  // An empty name makes a unique one ("Session" + a number) and sets AutoSessionName.
  explicit THDBSession(const std::string& sessionName = "");
  THDBSession(const THDBSession&) = delete;
  THDBSession& operator=(const THDBSession&) = delete;
  // Disconnects and frees the databases it created; the others leave the session.
  ~THDBSession();

  const std::string& SessionName() const { return sessionName_; }
  // "Duplicate session name '%s'" when another session has it (case-insensitive).
  void SetSessionName(const std::string& name);
  bool AutoSessionName() const { return autoSessionName_; }
  void SetAutoSessionName(bool value);
  bool KeepConnections = true;
  bool Active() const { return active_; }
  // Deactivating disconnects every database of the session.
  void SetActive(bool value);

  const std::vector<THDBDatabase*>& Databases() const { return databases_; }
  // The database component whose DatabaseName matches (case-insensitive); with an
  // owner given, one owned by it is preferred.
  THDBDatabase* FindDatabase(const std::string& databaseName, const void* owner = nullptr) const;
  // Used by table components: finds or creates (silent, owned by the session) the
  // database component of that name, connects it and counts one more user.
  THDBDatabase& OpenDatabase(const std::string& databaseName, const void* owner = nullptr);
  // One user less; at zero, without KeepConnection, the database disconnects and a
  // database the session created is freed.
  void CloseDatabase(THDBDatabase& database);

  // Called by database components as they join or leave the session.
  void AddDatabase(THDBDatabase& database);
  // Before a database takes the name in this session: "Duplicate database name '%s'"
  // when another component has it, unless that one was made by the session and has no
  // users, in which case it is freed.
  void CheckDuplicateName(const std::string& databaseName, const THDBDatabase& self);
  void RemoveDatabase(THDBDatabase& database);

 private:
  friend class THDBSessions;
  // The default session, made by the list as it starts.
  THDBSession(THDBSessions& list, const std::string& sessionName);
  void Join(THDBSessions& list, const std::string& sessionName);

  std::string sessionName_;
  bool autoSessionName_ = false;
  bool active_ = false;
  std::vector<THDBDatabase*> databases_;
  std::vector<std::unique_ptr<THDBDatabase>> created_;
};

class THDBSessions {
 public:
  // The list, made with its default session on first use.
  static THDBSessions& Instance();
  std::recursive_mutex& Lock() { return lock_; }

  THDBSession& DefaultSession() { return *default_; }
  // The session of that name (case-insensitive); an empty name is the default session;
  // nullptr when none.
  THDBSession* FindSession(const std::string& name);
  // As FindSession, raising "Invalid session name '%s'" when there is none.
  THDBSession& GetSession(const std::string& name);
  // The session of that name, made (and owned by the list) when there is none.
  THDBSession& OpenSession(const std::string& name);
  const std::vector<THDBSession*>& Sessions() const { return sessions_; }
  std::size_t Count() const { return sessions_.size(); }

  // Called by sessions as they are made and destroyed.
  void Add(THDBSession& session);
  void Remove(THDBSession& session);
  std::string UniqueSessionName() const;

 private:
  THDBSessions();
  ~THDBSessions();
  std::recursive_mutex lock_;
  std::vector<THDBSession*> sessions_;
  std::vector<std::unique_ptr<THDBSession>> owned_;
  THDBSession* default_ = nullptr;
};

}  // namespace hdb
