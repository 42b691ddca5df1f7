// THDBDataSet, what a table component is made of below its table-specific parts: the
// dataset state machine (inactive, browse, edit, insert, set-key, calc-fields, filter,
// new-value, old-value), the active record buffer, the field objects, navigation, the
// insert / edit / post / cancel / delete cycle, bookmarks, the filter properties and
// the cursor behind all of it. Each step hands the cursor the right record buffer and
// turns the cursor's result codes into errors.
//
// A record buffer has the cursor's layout (null flags and field data, the RecordID, the
// bookmark flag byte: 0 current, 1 before first, 2 after last, 3 inserted), followed by
// the calculated fields' area. The dataset keeps one active record; the cursor is set
// to it before every relative step, so the two never drift apart.
//
// The dataset owns its cursor (unless handed one), its buffers, and all its field
// objects. It is used by one thread; the cursor takes the engine's locks.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/components/hdb_field.h"
#include "dbengine/storage/record_id.h"

namespace hdb {

class THDBCursor;
class THDBDatabase;

enum THDBDataSetState : std::uint8_t {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
};

// Filter options: bit 0 case-insensitive string comparisons, bit 1 no prefix match
// for a constant ending in '*'.
enum THDBFilterOption : std::uint8_t {
  foCaseInsensitive = 1,
  foNoPartialCompare = 2,
};

using THDBBookmark = RecordID;

// A field definition of a dataset: what the table has (from the cursor) or what a
// persistent field asks for.
struct THDBFieldDefItem {
  std::string Name;
  THDBDatasetFieldType DataType = ftString;
  std::int32_t Size = 0;
  bool Required = false;
  std::int32_t FieldNo = 0;  // 1-based
};

class THDBDataSet {
 public:
  using Event = std::function<void(THDBDataSet&)>;

  THDBDataSet();
  THDBDataSet(const THDBDataSet&) = delete;
  THDBDataSet& operator=(const THDBDataSet&) = delete;
  virtual ~THDBDataSet();

  // ---- connection ----
  const std::string& DatabaseName() const { return databaseName_; }
  // "Cannot perform this operation on an open dataset" while open.
  void SetDatabaseName(const std::string& name);
  const std::string& SessionName() const { return sessionName_; }
  void SetSessionName(const std::string& name);
  // What was asked for while closed; while open, whether the dataset can be changed
  // (a read-only database or file makes it read-only).
  bool ReadOnly() const { return Active() ? effectiveReadOnly_ : readOnly_; }
  void SetReadOnly(bool value);
  // The form that holds the component, if any (its database is preferred).
  const void* Owner = nullptr;
  THDBDatabase* Database() const { return database_; }
  THDBCursor* Cursor() const { return cursor_; }

  // ---- open / close ----
  bool Active() const { return state_ != dsInactive; }
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  THDBDataSetState State() const { return state_; }

  // ---- fields ----
  // A persistent field object (kept across open and close), owned by the dataset.
  template <class T, class... Args>
  T& CreateField(const std::string& name, Args&&... args) {
    auto field = std::make_unique<T>(std::forward<Args>(args)...);
    T& ref = *field;
    AddField(std::move(field), name);
    return ref;
  }
  void AddField(std::unique_ptr<THDBField> field, const std::string& name);
  std::int32_t FieldCount() const { return static_cast<std::int32_t>(fields_.size()); }
  THDBField& Fields(std::int32_t index) const { return *fields_[static_cast<std::size_t>(index)]; }
  // nullptr when none (case-insensitive).
  THDBField* FindField(const std::string& name) const;
  // "Field '%s' not found" when none.
  THDBField& FieldByName(const std::string& name) const;
  const std::vector<THDBFieldDefItem>& FieldDefs() const { return fieldDefs_; }
  std::vector<THDBFieldDefItem>& FieldDefs() { return fieldDefs_; }

  // ---- navigation ----
  void GoFirst();
  void GoLast();
  void GoNext();
  void GoPrior();
  // After GoFirst (and on an empty view) / after a step past the last record.
  bool IsAtStart() const { return bof_; }
  bool IsAtEnd() const { return eof_; }
  bool IsEmpty() const { return !hasRecord_; }
  // Passing records while open, 0 while closed.
  std::int64_t RecordCount() const;
  // 1-based; -1 when there is no current record.
  std::int64_t RecNo() const;
  void SetRecNo(std::int64_t n);

  // ---- bookmarks ----
  // The RecordID of the current record ("Cannot perform this operation on a closed
  // dataset" while closed).
  THDBBookmark GetBookmark() const;
  // "Record not found" when the record is gone or does not pass the filter.
  void GotoBookmark(const THDBBookmark& bookmark);
  bool BookmarkValid(const THDBBookmark& bookmark) const;
  // -1, 0, 1 in the order of the current index.
  int CompareBookmarks(const THDBBookmark& a, const THDBBookmark& b) const;

  // ---- the edit cycle ----
  void BeginInsert();
  void BeginEdit();
  void PostRecord();
  void CancelRecord();
  void DeleteCurrent();
  // Whether a field was written since the edit, insert or key entry began.
  bool Modified() const { return modified_; }
  // Brings the dataset back to browse: a pending edit or insert is posted when
  // modified and cancelled otherwise; a pending key entry is committed.
  void CheckBrowseMode();

  // ---- filter ----
  const std::string& Filter() const { return filterText_; }
  void SetFilter(const std::string& text);
  bool Filtered() const { return filtered_; }
  void SetFiltered(bool value);
  std::uint8_t FilterOptions() const { return filterOptions_; }
  void SetFilterOptions(std::uint8_t options);
  using FilterRecordEvent = std::function<void(THDBDataSet&, bool& accept)>;
  const FilterRecordEvent& OnFilterRecord() const { return onFilterRecord_; }
  void SetOnFilterRecord(FilterRecordEvent handler);

  // ---- events ----
  Event BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  Event BeforeInsert, AfterInsert, BeforeEdit, AfterEdit, BeforePost, AfterPost;
  Event BeforeCancel, AfterCancel, BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  Event OnNewRecord, OnCalcFields, OnStateChange;

  // Where errors raised by OnFilterRecord go (the program's general error handler);
  // process-wide, without one they are dropped.
  static void SetApplicationErrorHandler(std::function<void(std::exception_ptr)> handler);

  // ---- used by the field objects ----
  bool GetFieldData(const THDBField& field, void* value) const;
  // !GetFieldData, without copying the value.
  bool IsFieldNull(const THDBField& field) const;
  void SetFieldData(THDBField& field, const void* value);
  std::string GetBlobData(const THDBField& field) const;
  void SetBlobData(THDBField& field, const std::string& bytes);
  // Runs fn with the dataset temporarily in the state (the old-value state reads the
  // record as it was when editing began).
  template <class F>
  auto InState(THDBDataSetState state, F fn) {
    StateGuard guard(*this, state);
    return fn();
  }

 protected:
  // ---- what the table component supplies ----
  // Opens the cursor (and everything it needs), leaving cursor_ set.
  virtual void OpenCursor() = 0;
  // Frees the cursor and releases the database.
  virtual void CloseCursor() = 0;
  // The buffer of the set-key state (none by default).
  virtual std::uint8_t* KeyStateBuffer() const { return nullptr; }
  // Refuses a field write in set-key state that the key does not take.
  virtual void CheckKeyField(const THDBField& field) const {}
  // Commits (post) or restores (cancel) the key being entered.
  virtual void EndKeyEntry(bool commit) {}

  // ---- for the table component ----
  void SetCursor(THDBCursor* cursor, std::unique_ptr<THDBCursor> owned);
  void FreeCursor();
  void SetDatabase(THDBDatabase* database) { database_ = database; }
  // After the cursor has opened: field definitions from the cursor, default field
  // objects when there are no persistent ones, binding, buffer sizes.
  void InitFields();
  // The field definitions persistent fields add when the table has none of that name.
  void AddPersistentFieldDefs();
  // Hands the filter to the cursor when Filtered, else clears it.
  void ApplyFilterToCursor();
  void SetState(THDBDataSetState state);
  // Re-reads the current record from the cursor's position (after an index change or a
  // search); the view becomes empty when there is none.
  void RefreshCurrent();
  // Makes the record at the cursor's position the current one (after a key search).
  void ShowCursorRecord();
  // Points the cursor at the active record (before every relative step).
  void SyncCursor() const;
  void SetModified(bool value) { modified_ = value; }
  void SetAtEnds(bool bof, bool eof) {
    bof_ = bof;
    eof_ = eof;
  }
  void SetReadOnlyState(bool value) { effectiveReadOnly_ = value; }
  void CheckActive() const;
  void Fire(const Event& event) {
    if (event) event(*this);
  }
  std::size_t CursorRecordSize() const { return cursorRecordSize_; }

 private:
  class StateGuard {
   public:
    StateGuard(THDBDataSet& ds, THDBDataSetState state) : ds_(ds), saved_(ds.state_) { ds.state_ = state; }
    ~StateGuard() { ds_.state_ = saved_; }
    StateGuard(const StateGuard&) = delete;
    StateGuard& operator=(const StateGuard&) = delete;

   private:
    THDBDataSet& ds_;
    THDBDataSetState saved_;
  };

  void DoOpen();
  void DoClose();
  void First();
  void Last();
  // The filter text and record callback to the cursor, as when Filtered is on.
  void HandFilterToCursor();
  void ClearCursorFilter();
  std::uint8_t* ActiveRecord() { return active_.data(); }
  // Fetches into fetch_ with the cursor's GetRecord(mode); on success it becomes the
  // active record. Returns the cursor's answer.
  std::uint8_t Fetch(std::uint8_t mode, bool check);
  void CalculateFields(std::uint8_t* buffer);
  std::uint8_t* StateBuffer() const;
  void CheckRequiredFields();
  void CheckCanModify() const;
  void RaiseLastResult();
  bool RecordFilter(const std::uint8_t* candidate);
  void InstallRecordCallback();
  void FreeDefaultFields();

  std::string databaseName_;
  std::string sessionName_;
  bool readOnly_ = false;
  bool effectiveReadOnly_ = false;
  THDBDatabase* database_ = nullptr;
  THDBCursor* cursor_ = nullptr;
  std::unique_ptr<THDBCursor> ownedCursor_;

  THDBDataSetState state_ = dsInactive;
  std::vector<std::unique_ptr<THDBField>> fields_;
  std::vector<bool> defaultField_;
  std::vector<THDBFieldDefItem> fieldDefs_;

  std::size_t cursorRecordSize_ = 0;
  std::size_t calcAreaSize_ = 0;
  std::vector<std::uint8_t> active_;
  std::vector<std::uint8_t> fetch_;
  // The record before an insert began (restored by cancel).
  std::vector<std::uint8_t> beforeInsert_;
  bool hadRecordBeforeInsert_ = false;
  // The copy taken when editing began.
  std::vector<std::uint8_t> oldRecord_;
  bool hasOldRecord_ = false;
  // The candidate of the record callback (filter state) and the buffer being computed
  // (calc-fields state).
  std::uint8_t* filterBuffer_ = nullptr;
  std::uint8_t* calcBuffer_ = nullptr;
  bool hasRecord_ = false;
  bool bof_ = true;
  bool eof_ = true;
  bool modified_ = false;

  std::string filterText_;
  bool filtered_ = false;
  std::uint8_t filterOptions_ = 0;
  FilterRecordEvent onFilterRecord_;
};

}  // namespace hdb
