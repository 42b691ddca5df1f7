// THDBLocalBLOBStream, a stream over the value of one BLOB field of a cursor's current
// record. Opened for reading it holds the value as the record carries it (a value being
// written, else the stored one); opened for writing it starts from that value and, when
// flushed, hands its bytes to the table's BLOB store as the record's value in memory,
// which the next post stores.
//
// Owned by the cursor that opened it; used on the cursor's thread, the table's BLOB
// store under the database object's lock.
#pragma once

#include <cstdint>
#include <vector>

namespace hdb {

class THDBLocalCursor;

class THDBLocalBLOBStream {
 public:
  THDBLocalBLOBStream(THDBLocalCursor& cursor, std::int32_t fieldNo, bool forWrite);

  std::int32_t FieldNo() const { return fieldNo_; }
  bool ForWrite() const { return forWrite_; }
  std::int64_t Size() const { return static_cast<std::int64_t>(bytes_.size()); }
  std::int64_t Position() const { return position_; }
  void Seek(std::int64_t position);
  std::int64_t Read(void* buffer, std::int64_t count);
  // "Cannot write to read only stream" when opened for reading.
  void Write(const void* buffer, std::int64_t count);
  void SetSize(std::int64_t size);
  // A writing stream's bytes become the record's value (an empty one makes it NULL).
  void Flush();

 private:
  void CheckWritable() const;
  THDBLocalCursor& cursor_;
  std::int32_t fieldNo_;
  bool forWrite_;
  std::vector<std::uint8_t> bytes_;
  std::int64_t position_ = 0;
  bool changed_ = false;
};

}  // namespace hdb
