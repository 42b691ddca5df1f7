#include "dbengine/components/hdb_dataset.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

#include "dbengine/components/database_error.h"
#include "dbengine/components/engine_error.h"
#include "dbengine/cursor/blob_stream.h"
#include "dbengine/cursor/cursor.h"
#include "dbengine/platform/ansi_charset.h"
#include "dbengine/storage/byte_layout.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/date_time_codec.h"
#include "dbengine/tables/navigation_request.h"
#include "dbengine/tables/null_bitmap.h"

namespace hdb {

namespace {

std::function<void(std::exception_ptr)>& ApplicationErrorHandler() {
  static std::function<void(std::exception_ptr)> handler;
  return handler;
}

// The date-time form the engine stores: day number, then milliseconds of the day.
namespace StampLayout {
using Date = le::Field<std::int32_t, 0>;
using Time = le::Field<std::int32_t, 4>;
inline constexpr std::size_t Size = 8;
}  // namespace StampLayout

// Field kinds that a persistent field of one type may be bound to.
int TypeFamily(THDBDatasetFieldType t) {
  switch (t) {
    case ftString:
    case ftFixedChar:
    case ftGuid: return 1;
    case ftInteger:
    case ftAutoInc: return 2;
    case ftDateTime:
    case ftTimeStamp: return 3;
    case ftBlob:
    case ftGraphic: return 4;
    case ftMemo:
    case ftFmtMemo: return 5;
    default: return 100 + t;
  }
}

bool IsStringType(THDBDatasetFieldType t) {
  return t == ftString || t == ftFixedChar || t == ftGuid || t == ftWideString || t == ftBytes || t == ftVarBytes;
}

std::unique_ptr<THDBField> MakeDefaultField(const THDBFieldDefItem& def) {
  switch (def.DataType) {
    case ftWideString: return std::make_unique<THDBWideStringField>(def.Size);
    case ftSmallint: return std::make_unique<THDBSmallintField>();
    case ftInteger: return std::make_unique<THDBIntegerField>();
    case ftWord: return std::make_unique<THDBWordField>();
    case ftAutoInc: return std::make_unique<THDBAutoIncField>();
    case ftLargeint: return std::make_unique<THDBLargeintField>();
    case ftFloat: return std::make_unique<THDBFloatField>();
    case ftCurrency: return std::make_unique<THDBCurrencyField>();
    case ftBoolean: return std::make_unique<THDBBooleanField>();
    case ftDate: return std::make_unique<THDBDateField>();
    case ftTime: return std::make_unique<THDBTimeField>();
    case ftDateTime:
    case ftTimeStamp: return std::make_unique<THDBDateTimeField>(def.DataType);
    case ftMemo:
    case ftFmtMemo: return std::make_unique<THDBMemoField>();
    case ftBlob:
    case ftGraphic: return std::make_unique<THDBBlobField>(def.DataType);
    default: return std::make_unique<THDBStringField>(def.Size, def.DataType);
  }
}

bool HasNotNullConstraint(const THDBConstraintDefs& constraints, const std::string& field) {
  for (int i = 0; i < constraints.Count(); ++i) {
    const THDBConstraintDef& c = constraints[i];
    if (c.ConstraintKind == ckNotNull &&
        platform::AnsiSameText(static_cast<const THDBConstraintDefNotNull&>(c).FieldRef.Name, field))
      return true;
  }
  return false;
}

}  // namespace

void THDBDataSet::SetApplicationErrorHandler(std::function<void(std::exception_ptr)> handler) {
  ApplicationErrorHandler() = std::move(handler);
}

THDBDataSet::THDBDataSet() = default;

THDBDataSet::~THDBDataSet() {
  // The table component closes itself first; whatever is left here has no cursor.
  assert(!cursor_ || !Active());
}

// ---- properties ---------------------------------------------------------------------------

void THDBDataSet::SetDatabaseName(const std::string& name) {
  if (Active()) throw EDatabaseError(DatasetTexts::DatasetOpen);
  databaseName_ = name;
}

void THDBDataSet::SetSessionName(const std::string& name) {
  if (Active()) throw EDatabaseError(DatasetTexts::DatasetOpen);
  sessionName_ = name;
}

void THDBDataSet::SetReadOnly(bool value) {
  if (Active()) throw EDatabaseError(DatasetTexts::DatasetOpen);
  readOnly_ = value;
}

void THDBDataSet::CheckActive() const {
  if (!Active()) throw EDatabaseError(DatasetTexts::DatasetClosed);
}

void THDBDataSet::CheckCanModify() const {
  if (ReadOnly()) RaiseHDB(Errors::DatasetReadOnly);
}

void THDBDataSet::SetState(THDBDataSetState state) {
  if (state == state_) return;
  state_ = state;
  Fire(OnStateChange);
}

void THDBDataSet::SetCursor(THDBCursor* cursor, std::unique_ptr<THDBCursor> owned) {
  ownedCursor_ = std::move(owned);
  cursor_ = cursor;
}

void THDBDataSet::FreeCursor() {
  cursor_ = nullptr;
  ownedCursor_.reset();
}

// ---- fields -------------------------------------------------------------------------------

void THDBDataSet::AddField(std::unique_ptr<THDBField> field, const std::string& name) {
  if (Active()) throw EDatabaseError(DatasetTexts::DatasetOpen);
  if (FindField(name)) throw EDatabaseError(Format(DatasetTexts::DuplicateFieldName, name));
  field->fieldName_ = name;
  field->dataset_ = this;
  fields_.push_back(std::move(field));
  defaultField_.push_back(false);
}

THDBField* THDBDataSet::FindField(const std::string& name) const {
  for (const auto& f : fields_)
    if (platform::AnsiSameText(f->FieldName(), name)) return f.get();
  return nullptr;
}

THDBField& THDBDataSet::FieldByName(const std::string& name) const {
  THDBField* f = FindField(name);
  if (!f) throw EDatabaseError(Format(DatasetTexts::FieldNotFound, name));
  return *f;
}

void THDBDataSet::AddPersistentFieldDefs() {
  for (const auto& f : fields_) {
    if (f->Calculated()) continue;
    const bool known = std::any_of(fieldDefs_.begin(), fieldDefs_.end(),
                                   [&](const THDBFieldDefItem& d) { return platform::AnsiSameText(d.Name, f->FieldName()); });
    if (!known) fieldDefs_.push_back({f->FieldName(), f->DataType(), f->Size(), f->Required, 0});
  }
}

void THDBDataSet::InitFields() {
  assert(cursor_);
  fieldDefs_.clear();
  const THDBFieldDefs& table = cursor_->TableFields;
  for (int i = 0; i < table.Count(); ++i) {
    const THDBFieldDef& f = table[i];
    THDBFieldDefItem def;
    def.Name = f.Name;
    def.DataType = static_cast<THDBDatasetFieldType>(DeclaredToDatasetType(f.DeclaredType));
    def.Size = IsStringType(def.DataType) ? f.DeclaredSize : 0;
    def.Required = HasNotNullConstraint(cursor_->ConstraintDefs, f.Name);
    def.FieldNo = i + 1;
    fieldDefs_.push_back(def);
  }
  if (fields_.empty()) {
    for (const THDBFieldDefItem& def : fieldDefs_) {
      auto field = MakeDefaultField(def);
      field->Required = def.Required;
      field->fieldName_ = def.Name;
      field->dataset_ = this;
      fields_.push_back(std::move(field));
      defaultField_.push_back(true);
    }
  }
  calcAreaSize_ = 0;
  for (auto& f : fields_) {
    f->fieldNo_ = 0;
    if (f->Calculated()) {
      f->calcOffset_ = calcAreaSize_;
      calcAreaSize_ += 1 + std::max<std::size_t>(f->DataSize(), 1);
      continue;
    }
    auto def = std::find_if(fieldDefs_.begin(), fieldDefs_.end(),
                            [&](const THDBFieldDefItem& d) { return platform::AnsiSameText(d.Name, f->FieldName()); });
    if (def == fieldDefs_.end()) throw EDatabaseError(Format(DatasetTexts::FieldNotFound, f->FieldName()));
    if (TypeFamily(def->DataType) != TypeFamily(f->DataType()))
      throw EDatabaseError(Format(DatasetTexts::FieldTypeMismatch, f->DisplayName(), FieldTypeName(f->DataType()),
                                  FieldTypeName(def->DataType)));
    if (IsStringType(def->DataType) && f->Size() != def->Size)
      throw EDatabaseError(Format(DatasetTexts::FieldSizeMismatch, f->DisplayName(), f->Size(), def->Size));
    f->fieldNo_ = def->FieldNo;
    f->baseType_ = table[def->FieldNo - 1].BaseType;
    f->Required = f->Required || def->Required;
  }
  cursorRecordSize_ = cursor_->FullSize;
  active_.assign(cursorRecordSize_ + calcAreaSize_, 0);
  fetch_.assign(cursorRecordSize_ + calcAreaSize_, 0);
  hasRecord_ = false;
}

void THDBDataSet::FreeDefaultFields() {
  for (std::size_t i = fields_.size(); i-- > 0;) {
    if (defaultField_[i]) {
      fields_.erase(fields_.begin() + static_cast<std::ptrdiff_t>(i));
      defaultField_.erase(defaultField_.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      fields_[i]->fieldNo_ = 0;
    }
  }
}

// ---- open and close -----------------------------------------------------------------------

void THDBDataSet::SetActive(bool value) {
  if (value == Active()) return;
  if (value) {
    DoOpen();
  } else {
    DoClose();
  }
}

void THDBDataSet::DoOpen() {
  Fire(BeforeOpen);
  try {
    OpenCursor();
    state_ = dsBrowse;
    First();
  } catch (...) {
    state_ = dsInactive;
    try {
      CloseCursor();
    } catch (...) {
    }
    FreeDefaultFields();
    hasRecord_ = false;
    throw;
  }
  Fire(OnStateChange);
  Fire(AfterOpen);
}

void THDBDataSet::DoClose() {
  Fire(BeforeClose);
  std::exception_ptr failure;
  if (state_ == dsEdit || state_ == dsInsert || state_ == dsSetKey) {
    try {
      CancelRecord();
    } catch (...) {
      failure = std::current_exception();
    }
  }
  oldRecord_.clear();
  hasOldRecord_ = false;
  state_ = dsInactive;
  try {
    CloseCursor();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  FreeDefaultFields();
  active_.clear();
  fetch_.clear();
  beforeInsert_.clear();
  hasRecord_ = false;
  bof_ = eof_ = true;
  modified_ = false;
  Fire(OnStateChange);
  Fire(AfterClose);
  if (failure) std::rethrow_exception(failure);
}

// ---- record fetch -------------------------------------------------------------------------

void THDBDataSet::CalculateFields(std::uint8_t* buffer) {
  if (calcAreaSize_ == 0) return;
  std::memset(buffer + cursorRecordSize_, 0, calcAreaSize_);
  if (!OnCalcFields) return;
  StateGuard guard(*this, dsCalcFields);
  std::uint8_t* saved = calcBuffer_;
  calcBuffer_ = buffer;
  try {
    OnCalcFields(*this);
  } catch (...) {
    calcBuffer_ = saved;
    throw;
  }
  calcBuffer_ = saved;
}

std::uint8_t THDBDataSet::Fetch(std::uint8_t mode, bool check) {
  assert(cursor_ && fetch_.size() == active_.size() && fetch_.size() >= cursorRecordSize_);
  cursor_->CurrentRecord = fetch_.data();
  const std::uint8_t r = cursor_->GetRecord(mode);
  if (r == grOK) {
    CalculateFields(fetch_.data());
    active_.swap(fetch_);
    hasRecord_ = true;
  } else if (r != grBOF && r != grEOF && check) {
    RaiseHDB(Errors::CannotRetrieveRecord);
  }
  return r;
}

void THDBDataSet::SyncCursor() const {
  assert(cursor_ && hasRecord_);
  cursor_->Position = cursor_->BufferRecordID(active_.data());
  cursor_->AtBOF = false;
  cursor_->AtEOF = false;
}

void THDBDataSet::First() {
  cursor_->SetToBegin();
  if (Fetch(gmNext, true) != grOK) hasRecord_ = false;
  bof_ = true;
  eof_ = !hasRecord_;
}

void THDBDataSet::Last() {
  cursor_->SetToEnd();
  if (Fetch(gmPrior, true) != grOK) hasRecord_ = false;
  eof_ = true;
  bof_ = !hasRecord_;
}

void THDBDataSet::RefreshCurrent() {
  if (!hasRecord_) {
    First();
    return;
  }
  SyncCursor();
  if (Fetch(gmCurrent, false) != grOK) {
    First();
    return;
  }
  bof_ = eof_ = false;
}

void THDBDataSet::ShowCursorRecord() {
  if (Fetch(gmCurrent, true) == grOK) bof_ = eof_ = false;
}

// ---- navigation ---------------------------------------------------------------------------

void THDBDataSet::GoFirst() {
  CheckBrowseMode();
  Fire(BeforeScroll);
  First();
  Fire(AfterScroll);
}

void THDBDataSet::GoLast() {
  CheckBrowseMode();
  Fire(BeforeScroll);
  Last();
  Fire(AfterScroll);
}

void THDBDataSet::GoNext() {
  CheckBrowseMode();
  if (eof_) return;
  if (!hasRecord_) {
    bof_ = eof_ = true;
    return;
  }
  Fire(BeforeScroll);
  SyncCursor();
  // The step starts from the active record's key should that record have gone.
  std::memcpy(fetch_.data(), active_.data(), cursorRecordSize_);
  if (Fetch(gmNext, true) == grOK) {
    bof_ = false;
  } else {
    eof_ = true;
  }
  Fire(AfterScroll);
}

void THDBDataSet::GoPrior() {
  CheckBrowseMode();
  if (bof_) return;
  if (!hasRecord_) {
    bof_ = eof_ = true;
    return;
  }
  Fire(BeforeScroll);
  SyncCursor();
  std::memcpy(fetch_.data(), active_.data(), cursorRecordSize_);
  if (Fetch(gmPrior, true) == grOK) {
    eof_ = false;
  } else {
    bof_ = true;
  }
  Fire(AfterScroll);
}

std::int64_t THDBDataSet::RecordCount() const {
  if (!Active() || !cursor_) return 0;
  return cursor_->GetRecordCount();
}

std::int64_t THDBDataSet::RecNo() const {
  if (!Active() || !hasRecord_ || state_ == dsInsert) return -1;
  SyncCursor();
  return cursor_->GetRecNo();
}

void THDBDataSet::SetRecNo(std::int64_t n) {
  CheckBrowseMode();
  Fire(BeforeScroll);
  cursor_->SetRecNo(n);
  if (Fetch(gmCurrent, true) == grOK) bof_ = eof_ = false;
  Fire(AfterScroll);
}

// ---- bookmarks ----------------------------------------------------------------------------

THDBBookmark THDBDataSet::GetBookmark() const {
  CheckActive();
  if (!hasRecord_) return THDBBookmark{};
  return cursor_->BufferRecordID(active_.data());
}

void THDBDataSet::GotoBookmark(const THDBBookmark& bookmark) {
  CheckBrowseMode();
  Fire(BeforeScroll);
  const THDBSavedCursorState saved = cursor_->SaveState();
  cursor_->Position = bookmark;
  cursor_->AtBOF = false;
  cursor_->AtEOF = false;
  if (Fetch(gmCurrent, false) != grOK) {
    cursor_->RestoreState(saved);
    throw EDatabaseError(DatasetTexts::RecordNotFound);
  }
  bof_ = eof_ = false;
  Fire(AfterScroll);
}

bool THDBDataSet::BookmarkValid(const THDBBookmark& bookmark) const {
  if (!Active() || bookmark.PageNo < 0) return false;
  const THDBSavedCursorState saved = cursor_->SaveState();
  std::vector<std::uint8_t> probe(cursorRecordSize_, 0);
  cursor_->Position = bookmark;
  cursor_->AtBOF = false;
  cursor_->AtEOF = false;
  cursor_->CurrentRecord = probe.data();
  std::uint8_t r = grError;
  try {
    r = cursor_->GetRecord(gmCurrent);
  } catch (const EHDBException&) {
  }
  cursor_->RestoreState(saved);
  return r == grOK;
}

int THDBDataSet::CompareBookmarks(const THDBBookmark& a, const THDBBookmark& b) const {
  CheckActive();
  return cursor_->CompareBookmarks(a, b);
}

// ---- the edit cycle -----------------------------------------------------------------------

void THDBDataSet::CheckBrowseMode() {
  CheckActive();
  switch (state_) {
    case dsEdit:
    case dsInsert:
      if (modified_) {
        PostRecord();
      } else {
        CancelRecord();
      }
      break;
    case dsSetKey:
      PostRecord();
      break;
    default:
      break;
  }
}

void THDBDataSet::RaiseLastResult() {
  const std::int32_t code = cursor_->LastResult;
  throw EHDBEngineError(code, code == wrErrorText ? cursor_->LastErrorText : std::string(WriteResultText(code)));
}

void THDBDataSet::BeginInsert() {
  CheckBrowseMode();
  CheckCanModify();
  Fire(BeforeInsert);
  beforeInsert_ = active_;
  hadRecordBeforeInsert_ = hasRecord_;
  cursor_->InitRecordBuffer(active_.data(), true);
  std::memset(active_.data() + cursorRecordSize_, 0, calcAreaSize_);
  cursor_->SetBufferRecordID(active_.data(), RecordID{-1, 0xFFFF}, BookmarkInserted);
  cursor_->StartInsert();
  modified_ = false;
  SetState(dsInsert);
  Fire(OnNewRecord);
  Fire(AfterInsert);
}

void THDBDataSet::BeginEdit() {
  CheckActive();
  if (state_ == dsEdit || state_ == dsInsert) return;
  if (!hasRecord_) {
    BeginInsert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  Fire(BeforeEdit);
  oldRecord_ = active_;
  hasOldRecord_ = true;
  cursor_->CurrentRecord = active_.data();
  cursor_->EditRecord();
  if (cursor_->LastResult != wrOK) {
    oldRecord_.clear();
    hasOldRecord_ = false;
    RaiseLastResult();
  }
  modified_ = false;
  SetState(dsEdit);
  Fire(AfterEdit);
}

void THDBDataSet::CheckRequiredFields() {
  for (const auto& f : fields_)
    if (f->Required && !f->Calculated() && f->FieldNo() > 0 && f->IsNull())
      throw EDatabaseError(Format(DatasetTexts::FieldRequired, f->DisplayName()));
}

void THDBDataSet::PostRecord() {
  CheckActive();
  if (state_ == dsSetKey) {
    EndKeyEntry(true);
    SetState(dsBrowse);
    return;
  }
  if (state_ != dsEdit && state_ != dsInsert) RaiseHDB(Errors::DatasetNotInEditMode);
  Fire(BeforePost);
  CheckRequiredFields();
  if (ReadOnly()) RaiseHDB(Errors::DatasetReadOnly);
  const bool insert = state_ == dsInsert;
  cursor_->CurrentRecord = active_.data();
  cursor_->OldRecord = insert ? nullptr : oldRecord_.data();
  cursor_->WriteRecord(insert);
  cursor_->OldRecord = nullptr;
  if (cursor_->LastResult != wrOK) RaiseLastResult();
  oldRecord_.clear();
  hasOldRecord_ = false;
  beforeInsert_.clear();
  modified_ = false;
  SetState(dsBrowse);
  // The view shows the stored record (with what the engine assigned); one that the
  // filter does not take stays shown until the next step.
  hasRecord_ = true;
  if (Fetch(gmCurrent, false) != grOK)
    cursor_->SetBufferRecordID(active_.data(), cursor_->BufferRecordID(active_.data()), BookmarkCurrent);
  bof_ = eof_ = false;
  Fire(AfterPost);
}

void THDBDataSet::CancelRecord() {
  if (state_ == dsSetKey) {
    EndKeyEntry(false);
    SetState(dsBrowse);
    return;
  }
  if (state_ != dsEdit && state_ != dsInsert) return;
  Fire(BeforeCancel);
  const bool insert = state_ == dsInsert;
  cursor_->CurrentRecord = active_.data();
  cursor_->DiscardRecord(insert);
  if (insert) {
    active_ = beforeInsert_;
    hasRecord_ = hadRecordBeforeInsert_;
    beforeInsert_.clear();
  } else {
    active_ = oldRecord_;
  }
  oldRecord_.clear();
  hasOldRecord_ = false;
  modified_ = false;
  SetState(dsBrowse);
  if (cursor_->LastResult != wrOK) RaiseLastResult();
  Fire(AfterCancel);
}

void THDBDataSet::DeleteCurrent() {
  if (!Active()) RaiseHDB(Errors::DatasetNotOpened);
  if (ReadOnly()) RaiseHDB(Errors::DatasetReadOnly);
  if (state_ == dsInsert || state_ == dsSetKey) {
    CancelRecord();
    return;
  }
  // An edit in progress is abandoned: the record goes as it is stored.
  if (state_ == dsEdit) CancelRecord();
  if (!hasRecord_) throw EDatabaseError(DatasetTexts::DatasetEmpty);
  Fire(BeforeDelete);
  Fire(BeforeScroll);
  cursor_->CurrentRecord = active_.data();
  cursor_->RemoveRecord();
  if (cursor_->LastResult != wrOK) RaiseLastResult();
  // The cursor stands on the record that followed, the one before it, or (the table
  // now empty) before the first. In a filtered view that record need not pass: the
  // view goes on to the next passing one, else to the last.
  hasRecord_ = false;
  if (!cursor_->AtBOF && !cursor_->AtEOF && Fetch(gmCurrent, false) != grOK && Fetch(gmNext, false) != grOK) {
    cursor_->SetToEnd();
    Fetch(gmPrior, false);
  }
  bof_ = eof_ = !hasRecord_;
  Fire(AfterDelete);
  Fire(AfterScroll);
}

// ---- field data ---------------------------------------------------------------------------

std::uint8_t* THDBDataSet::StateBuffer() const {
  auto* self = const_cast<THDBDataSet*>(this);
  switch (state_) {
    case dsBrowse: return hasRecord_ ? self->active_.data() : nullptr;
    case dsEdit:
    case dsInsert:
    case dsNewValue: return self->active_.data();
    case dsSetKey: return KeyStateBuffer();
    case dsCalcFields: return calcBuffer_;
    case dsFilter: return filterBuffer_;
    case dsOldValue:
      if (hasOldRecord_) return self->oldRecord_.data();
      return hasRecord_ ? self->active_.data() : nullptr;
    default: return nullptr;
  }
}

bool THDBDataSet::GetFieldData(const THDBField& field, void* value) const {
  const std::uint8_t* buffer = StateBuffer();
  if (!buffer) return false;
  if (field.Calculated()) {
    // The record callback's candidate carries no calculated values.
    if (state_ == dsFilter || calcAreaSize_ == 0) return false;
    const std::uint8_t* slot = buffer + cursorRecordSize_ + field.calcOffset_;
    if (!slot[0]) return false;
    std::memcpy(value, slot + 1, field.DataSize());
    return true;
  }
  const std::int32_t i = field.FieldNo() - 1;
  if (i < 0) return false;
  if (IsBlobBaseType(field.BaseType())) return !NullBitmap::IsNull(buffer, i);
  if (field.BaseType() == btDateTime) {
    std::uint8_t stamp[StampLayout::Size];
    if (!cursor_->ReadField(i, buffer, stamp)) return false;
    const double ms =
        static_cast<double>(StampLayout::Date::Get(stamp)) * MSecsPerDay + StampLayout::Time::Get(stamp);
    le::Store<double>(value, 0, ms);
    return true;
  }
  return cursor_->ReadField(i, buffer, value);
}

bool THDBDataSet::IsFieldNull(const THDBField& field) const {
  // The same answers as GetFieldData, in its order.
  const std::uint8_t* buffer = StateBuffer();
  if (!buffer) return true;
  if (field.Calculated()) {
    if (state_ == dsFilter || calcAreaSize_ == 0) return true;
    return !buffer[cursorRecordSize_ + field.calcOffset_];
  }
  const std::int32_t i = field.FieldNo() - 1;
  if (i < 0) return true;
  if (IsBlobBaseType(field.BaseType())) return NullBitmap::IsNull(buffer, i);
  return cursor_->IsFieldNull(i, buffer);
}

void THDBDataSet::SetFieldData(THDBField& field, const void* value) {
  switch (state_) {
    case dsEdit:
    case dsInsert:
    case dsSetKey:
    case dsCalcFields:
    case dsFilter:
    case dsNewValue:
    case dsOldValue: break;
    default: throw EDatabaseError(DatasetTexts::NotEditing);
  }
  if (field.ReadOnly && state_ != dsSetKey && state_ != dsCalcFields)
    throw EDatabaseError(Format(DatasetTexts::FieldReadOnly, field.DisplayName()));
  if (state_ == dsSetKey) CheckKeyField(field);
  if (field.OnValidate) field.OnValidate(field, value);
  std::uint8_t* buffer = StateBuffer();
  if (!buffer) RaiseHDB(Errors::ComponentNilPointer);
  if (field.Calculated()) {
    std::uint8_t* slot = buffer + cursorRecordSize_ + field.calcOffset_;
    slot[0] = value ? 1 : 0;
    if (value) {
      std::memcpy(slot + 1, value, field.DataSize());
    } else {
      std::memset(slot + 1, 0, field.DataSize());
    }
  } else {
    const std::int32_t i = field.FieldNo() - 1;
    if (i < 0) throw EDatabaseError(Format(DatasetTexts::FieldNotFound, field.FieldName()));
    if (IsBlobBaseType(field.BaseType())) {
      SetBlobData(field, std::string());
      return;
    }
    if (field.BaseType() == btDateTime && value) {
      const double ms = le::Load<double>(value, 0);
      const double days = std::floor(ms / MSecsPerDay);
      std::uint8_t stamp[StampLayout::Size];
      StampLayout::Date::Set(stamp, static_cast<std::int32_t>(days));
      StampLayout::Time::Set(stamp, static_cast<std::int32_t>(ms - days * MSecsPerDay));
      cursor_->WriteField(i, buffer, stamp);
    } else {
      cursor_->WriteField(i, buffer, value);
    }
  }
  if (state_ != dsCalcFields && state_ != dsFilter && state_ != dsOldValue) {
    modified_ = true;
    if (field.OnChange) field.OnChange(field);
  }
}

std::string THDBDataSet::GetBlobData(const THDBField& field) const {
  std::uint8_t* buffer = StateBuffer();
  const std::int32_t i = field.FieldNo() - 1;
  if (!buffer || i < 0 || NullBitmap::IsNull(buffer, i)) return std::string();
  // The stream reads the record it is given; the cursor may be in the middle of a
  // search of its own (the record callback), so its buffer is put back.
  std::uint8_t* saved = cursor_->CurrentRecord;
  cursor_->CurrentRecord = buffer;
  std::string bytes;
  try {
    THDBLocalBLOBStream& stream = cursor_->OpenBlob(i, false);
    bytes.assign(static_cast<std::size_t>(stream.Size()), '\0');
    stream.Read(bytes.data(), stream.Size());
    cursor_->CloseBlob(i);
  } catch (...) {
    cursor_->CurrentRecord = saved;
    throw;
  }
  cursor_->CurrentRecord = saved;
  return bytes;
}

void THDBDataSet::SetBlobData(THDBField& field, const std::string& bytes) {
  if (state_ != dsEdit && state_ != dsInsert) throw EDatabaseError(DatasetTexts::NotEditing);
  if (field.ReadOnly) throw EDatabaseError(Format(DatasetTexts::FieldReadOnly, field.DisplayName()));
  const std::int32_t i = field.FieldNo() - 1;
  if (i < 0) throw EDatabaseError(Format(DatasetTexts::FieldNotFound, field.FieldName()));
  cursor_->CurrentRecord = active_.data();
  THDBLocalBLOBStream& stream = cursor_->OpenBlob(i, true);
  stream.SetSize(0);
  stream.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  cursor_->CloseBlob(i);
  modified_ = true;
  if (field.OnChange) field.OnChange(field);
}

// ---- filter -------------------------------------------------------------------------------

void THDBDataSet::HandFilterToCursor() {
  if (!filterText_.empty()) {
    cursor_->SetFilterText(filterText_, (filterOptions_ & foCaseInsensitive) != 0,
                           (filterOptions_ & foNoPartialCompare) == 0);
  } else {
    cursor_->ClearFilter();
  }
  InstallRecordCallback();
}

void THDBDataSet::ClearCursorFilter() {
  cursor_->ClearFilter();
  cursor_->OnFilterRecord = nullptr;
}

void THDBDataSet::ApplyFilterToCursor() {
  if (filtered_) {
    HandFilterToCursor();
  } else {
    ClearCursorFilter();
  }
}

void THDBDataSet::InstallRecordCallback() {
  if (onFilterRecord_) {
    cursor_->OnFilterRecord = [this](const std::uint8_t* candidate) { return RecordFilter(candidate); };
  } else {
    cursor_->OnFilterRecord = nullptr;
  }
  cursor_->ClearRecordBitmap();
}

bool THDBDataSet::RecordFilter(const std::uint8_t* candidate) {
  if (!filtered_ || !onFilterRecord_) return true;
  StateGuard guard(*this, dsFilter);
  std::uint8_t* saved = filterBuffer_;
  filterBuffer_ = const_cast<std::uint8_t*>(candidate);
  bool accept = true;
  try {
    onFilterRecord_(*this, accept);
  } catch (...) {
    if (ApplicationErrorHandler()) ApplicationErrorHandler()(std::current_exception());
  }
  filterBuffer_ = saved;
  return accept;
}

void THDBDataSet::SetFilter(const std::string& text) {
  if (!Active()) {
    filterText_ = text;
    return;
  }
  CheckBrowseMode();
  filterText_ = text;
  if (filtered_) {
    HandFilterToCursor();
    GoFirst();
  }
}

void THDBDataSet::SetFilterOptions(std::uint8_t options) {
  if (!Active()) {
    filterOptions_ = options;
    return;
  }
  CheckBrowseMode();
  filterOptions_ = options;
  if (filtered_) {
    HandFilterToCursor();
    GoFirst();
  }
}

void THDBDataSet::SetFiltered(bool value) {
  if (!Active()) {
    filtered_ = value;
    return;
  }
  CheckBrowseMode();
  if (value != filtered_) {
    if (value) {
      // A text the cursor refuses leaves Filtered as it was.
      const bool saved = filtered_;
      filtered_ = true;
      try {
        HandFilterToCursor();
      } catch (...) {
        filtered_ = saved;
        ClearCursorFilter();
        throw;
      }
    } else {
      ClearCursorFilter();
      filtered_ = false;
    }
  }
  if (value) {
    GoFirst();
  } else {
    RefreshCurrent();
  }
}

void THDBDataSet::SetOnFilterRecord(FilterRecordEvent handler) {
  if (!Active()) {
    onFilterRecord_ = std::move(handler);
    return;
  }
  CheckBrowseMode();
  onFilterRecord_ = std::move(handler);
  if (filtered_) {
    HandFilterToCursor();
    GoFirst();
  } else {
    ClearCursorFilter();
  }
}

}  // namespace hdb
