#include "dbengine/cursor/blob_stream.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "dbengine/cursor/cursor.h"
#include "dbengine/storage/disk_database.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/blob_manager.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/disk_table_data.h"
#include "dbengine/tables/null_bitmap.h"

namespace hdb {

THDBLocalBLOBStream::THDBLocalBLOBStream(THDBLocalCursor& cursor, std::int32_t fieldNo, bool forWrite)
    : cursor_(cursor), fieldNo_(fieldNo), forWrite_(forWrite) {
  THDBDiskTableData* table = cursor.Table();
  if (!table || !cursor.CurrentRecord) RaiseHDB(Errors::CursorNilPointer);
  THDBDiskBlobManager* blobs = table->Blobs();
  const THDBFieldDef& field = cursor.TableFields[fieldNo];
  if (!blobs || !IsBlobBaseType(field.BaseType)) RaiseHDB(Errors::NotABlobField, fieldNo, field.Name);
  const std::uint8_t* slot = cursor.CurrentRecord + field.MemoryOffset;
  const std::uint32_t handle = BlobSlotLayout::Handle::Get(slot);
  if (handle != 0) {
    bytes_ = blobs->Value(handle);
  } else if (!NullBitmap::IsNull(cursor.CurrentRecord, fieldNo)) {
    bytes_ = blobs->ReadBlob(cursor.Session, LoadBlobRef(slot));
  }
}

void THDBLocalBLOBStream::CheckWritable() const {
  if (!forWrite_) RaiseHDB(Errors::ReadOnlyBlobStream);
}

void THDBLocalBLOBStream::Seek(std::int64_t position) { position_ = std::clamp<std::int64_t>(position, 0, Size()); }

std::int64_t THDBLocalBLOBStream::Read(void* buffer, std::int64_t count) {
  const std::int64_t n = std::clamp<std::int64_t>(Size() - position_, 0, std::max<std::int64_t>(count, 0));
  if (n > 0) std::memcpy(buffer, bytes_.data() + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

void THDBLocalBLOBStream::Write(const void* buffer, std::int64_t count) {
  CheckWritable();
  if (count <= 0) return;
  if (position_ + count > Size()) bytes_.resize(static_cast<std::size_t>(position_ + count));
  std::memcpy(bytes_.data() + position_, buffer, static_cast<std::size_t>(count));
  position_ += count;
  changed_ = true;
}

void THDBLocalBLOBStream::SetSize(std::int64_t size) {
  CheckWritable();
  bytes_.resize(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
  position_ = std::min(position_, Size());
  changed_ = true;
}

void THDBLocalBLOBStream::Flush() {
  if (!forWrite_ || !changed_) return;
  THDBDiskTableData* table = cursor_.Table();
  if (!table || !cursor_.CurrentRecord) RaiseHDB(Errors::CursorNilPointer);
  std::lock_guard<std::recursive_mutex> guard(table->Database().Lock());
  THDBDiskBlobManager& blobs = *table->Blobs();
  std::uint8_t* slot = cursor_.CurrentRecord + cursor_.TableFields[fieldNo_].MemoryOffset;
  const std::uint32_t handle = BlobSlotLayout::Handle::Get(slot);
  if (handle != 0) {
    blobs.SetValue(handle, bytes_);
  } else {
    BlobSlotLayout::Handle::Set(slot, blobs.NewValue(bytes_));
  }
  if (bytes_.empty()) {
    NullBitmap::SetNull(cursor_.CurrentRecord, fieldNo_);
  } else {
    NullBitmap::ClearNull(cursor_.CurrentRecord, fieldNo_);
  }
  changed_ = false;
}

}  // namespace hdb
