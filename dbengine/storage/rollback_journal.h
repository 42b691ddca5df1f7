// THDBRollbackJournal: the rollback journal beside a database file, FILE-journal
// (Data.hdb-journal). Before a commit changes a byte of the database file it records
// here what its in-place writes will overwrite: the file header, the images of the
// changed and freed pages and of the free-space map pages the frees touch, and the
// file's length. The journal is flushed before the first in-place write and made
// invalid once the commit's writes are flushed, so at any moment either the file holds
// a finished commit or the journal holds what undoes the unfinished one. Rolling it
// back writes the images again and restores the length. A journal whose header or
// contents fail their checksums was torn while it was written: nothing had been written
// in place yet, and it is discarded. The database file's own format is unchanged; a
// reader that knows nothing of the journal sees state 1 (NeedsRepair) in a file whose
// commit stopped after its first header write.
//
// Owns the images collected for one commit and the journal's descriptor, which stays
// open from one commit to the next (checked at each commit to still be the file beside
// the database) until RemoveIfIdle, a failure or the destructor closes it. Guarded by the database file's HeaderLock: only its holder
// writes, rolls back or removes the journal, so two processes never both do, and a
// journal found under the lock was left by a commit that did not finish.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dbengine/storage/byte_layout.h"
#include "dbengine/storage/error_messages.h"

namespace hdb {

class THDBDatabaseFile;

inline constexpr char JournalSignature[] = "HALVARINJOURNAL1";
inline constexpr std::uint32_t JournalFormatVersion = 1;

namespace JournalLayout {
using Signature = le::Bytes<0, 16>;
using Version = le::Field<std::uint32_t, 16>;
// Drawn anew for every commit; it seeds both checksums, so bytes left over from an
// earlier journal never pass as this one's.
using Nonce = le::Field<std::uint32_t, 20>;
using DatabaseSize = le::Field<std::int64_t, 24>;  // the file's length before the commit
using ImageCount = le::Field<std::int32_t, 32>;
using ChangeCounter = le::Field<std::int32_t, 36>;  // the header's counter before the commit
using ContentSize = le::Field<std::int64_t, 40>;    // bytes of images after this header
using ContentCRC = le::Field<std::uint32_t, 48>;
using HeaderPosition = le::Field<std::int64_t, 52>;
using HeaderCRC = le::Field<std::uint32_t, 60>;  // over bytes 0..59
inline constexpr std::size_t Size = 64;
static_assert(HeaderCRC::end == Size);
}  // namespace JournalLayout

// Each image: its position in the database file and its length, then its bytes.
namespace JournalImageLayout {
using Position = le::Field<std::int64_t, 0>;
using Count = le::Field<std::uint32_t, 8>;
inline constexpr std::size_t Size = 12;
}  // namespace JournalImageLayout

class THDBRollbackJournal {
 public:
  // One image inside a journal's bytes: where it goes and what it holds.
  struct ImageRef {
    std::int64_t Position;
    const std::uint8_t* Data;
    std::uint32_t Count;
  };
  enum class TFound { None, Torn, Complete };
  struct TRecovery {
    TFound Found = TFound::None;
    bool RolledBack = false;
    std::vector<std::int64_t> Positions;  // of the images written back, when RolledBack
  };

  explicit THDBRollbackJournal(THDBDatabaseFile& database) : database_(database) {}
  THDBRollbackJournal(const THDBRollbackJournal&) = delete;
  THDBRollbackJournal& operator=(const THDBRollbackJournal&) = delete;
  ~THDBRollbackJournal();

  static std::string NameFor(const std::string& databaseFileName) { return databaseFileName + "-journal"; }
  std::string FileName() const;
  // Flushes of the journal, its folder and the database file are made only while set;
  // the order of the writes is the same either way.
  void SetFlushing(bool on) { flushing_ = on; }
  bool Flushing() const { return flushing_; }

  // ---- One commit ----
  // Starts collecting: the file's current length is the one a rollback restores.
  void Begin(std::int64_t headerPosition, std::int32_t changeCounter);
  // Records the current bytes at [position, position + count), cut at the length noted
  // by Begin (what lies beyond is cut off again by the rollback). A position recorded
  // once is not recorded again: the first image is the one before the commit.
  void Record(std::int64_t position, std::uint32_t count);
  // As Record, with the bytes the caller knows the file to hold there now (read or
  // written under the HeaderLock held since, so no other process can have changed
  // them): the file is not read again.
  void RecordImage(std::int64_t position, const std::uint8_t* current, std::uint32_t count);
  bool IsRecorded(std::int64_t position) const;
  std::size_t ImageCount() const { return positions_.size(); }
  std::int64_t DatabaseSize() const { return databaseSize_; }
  // Writes the journal and flushes it (a journal file made just now, its folder too).
  void Write();
  // The commit's in-place writes are in the file and flushed: the journal is made
  // invalid (and flushed); its descriptor stays open for the next commit.
  void Finish();
  // The commit stopped half way: the images go back into the file, its length is
  // restored, the file is flushed and the journal made invalid. A failure leaves the
  // journal as it is, for the next open or commit to roll back.
  void RollBack();

  // ---- Left by a commit that did not finish (caller holds HeaderLock) ----
  // A torn journal is made invalid; a complete one is rolled back, except that with
  // keepFinished a commit whose last header write is in the file (state 2, the counter
  // one past the journal's) is kept and the journal only made invalid. keepFinished
  // suits a process that was running while the commit's process died (the writes it
  // made are in the file); at open the file may have come through a power loss and a
  // complete journal is always rolled back.
  TRecovery Recover(bool keepFinished);
  // Whether a complete journal lies beside the file, without changing anything.
  TFound Inspect();
  // Closes the descriptor and removes the journal file unless it holds a complete journal.
  void RemoveIfIdle();
  // Removes the journal of a file that is being replaced by a new database.
  static void RemoveFor(const std::string& databaseFileName);

 private:
  struct Parsed {
    TFound Found = TFound::None;
    std::int64_t DatabaseSize = 0;
    std::int64_t HeaderPosition = 0;
    std::int32_t ChangeCounter = 0;
    std::vector<std::uint8_t> Content;  // the images' bytes
    std::vector<ImageRef> Images;       // pointing into Content
  };
  // Opens the journal file (created when missing) for writing, or keeps the descriptor
  // open from before when its file (recheck) still has its name.
  void OpenForWrite(bool recheck);
  void CloseJournal() noexcept;
  Parsed ReadJournal();
  void Invalidate(bool recheck = true);
  void Restore(const std::vector<ImageRef>& images, std::int64_t databaseSize);
  // Room for an image at the end of the journal being collected, its position and
  // length filled in (count cut as Record says); nullptr when it is not to be recorded.
  // The image counts once used_ is moved past it.
  std::uint8_t* AppendImage(std::int64_t position, std::uint32_t& count);
  // The images of the journal being collected, pointing into bytes_.
  std::vector<ImageRef> CollectedImages() const;
  [[noreturn]] void RaiseOpenError(int err) const;
  [[noreturn]] void RaiseIOError(const THDBErrorDef& failure, int err, std::int64_t position, std::size_t count) const;

  THDBDatabaseFile& database_;
  bool flushing_ = true;
  int handle_ = -1;
  bool created_ = false;
  std::int64_t headerPosition_ = 0;
  std::int32_t changeCounter_ = 0;
  std::int64_t databaseSize_ = 0;
  // The journal as it will be written: header, then each image's position, length and
  // bytes, in its first used_ bytes. Kept between commits so its memory is reused.
  std::vector<std::uint8_t> bytes_;
  std::size_t used_ = 0;
  std::vector<std::int64_t> positions_;  // of the images recorded, in order
};

}  // namespace hdb
