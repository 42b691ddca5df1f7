// The engine's message catalog: every native error number with its message pattern,
// in one place. Each layer keeps its own section, ordered by number. Entries named
// ...Read / ...Write without a text of their own are raised with the file layer's
// read or write text (FileTexts) and only contribute the number.
#pragma once

namespace hdb {

struct THDBErrorDef {
  int Code;
  const char* Text;
};

namespace FileTexts {
inline constexpr const char* CannotRead =
    "Cannot Read from file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, ErrorCode:%d. "
    "ErrorMessage: %s";
inline constexpr const char* CannotWrite =
    "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, ErrorCode:%d. "
    "ErrorMessage: %s";
}  // namespace FileTexts

namespace Errors {

// ---- Operating-system file access -------------------------------------------------
inline constexpr THDBErrorDef CannotCreateFile{30361, "Cannot create file: '%s' Error code: %d. ErrorMessage: %s"};
inline constexpr THDBErrorDef CannotOpenFile{30364, "Cannot open file:'%s' Error code: %d. ErrorMessage: %s"};
inline constexpr THDBErrorDef CannotCloseFile{30365, "Cannot close file:'%s' Error code: %d. ErrorMessage: %s"};
inline constexpr THDBErrorDef UnknownAccessMode{30366, "Unknown Access mode: '%d'"};
inline constexpr THDBErrorDef UnknownShareMode{30367, "Unknown Share mode: '%d'"};
inline constexpr THDBErrorDef CannotTruncateFile{30370,
                                                 "Cannot Truncate File '%s' to %d bytes. ErrorCode:%d. ErrorMessage: %s"};
inline constexpr THDBErrorDef CannotGetFileSize{30371,
                                                "Cannot Get File Size for file: '%s'. ErrorCode:%d. ErrorMessage: %s"};
inline constexpr THDBErrorDef CannotSetFilePosition{
    30372, "Cannot Set File Position to %d. FileName='%s'. FilePosition = %d, FileSize = %d"};
inline constexpr THDBErrorDef CannotGetFilePosition{
    30373, "Cannot Get File Position. FileName='%s' ErrorCode:%d. ErrorMessage: %s"};
inline constexpr THDBErrorDef BlankFileName{30374, "Cannot create file with blank FileName"};
inline constexpr THDBErrorDef OperationOnClosedFile{30376, "Cannot perform this operation (%s) on a closed file"};
inline constexpr THDBErrorDef OperationOnOpenedFile{30377, "Cannot perform this operation (%s) on a opened file"};
inline constexpr THDBErrorDef CannotFlushFile{30379,
                                              "Cannot flush file buffers for file: '%s'. ErrorCode:%d. ErrorMessage: %s"};

// ---- Database file: header, regions, object ids ------------------------------------
inline constexpr THDBErrorDef HeaderReadNotOpened{10459, "Error - database file is not opened."};
inline constexpr THDBErrorDef HeaderWriteNotOpened{10460, "Error - database file is not opened."};
inline constexpr THDBErrorDef CreateFileInUse{10461, "Error - database file %s is in use."};
inline constexpr THDBErrorDef OpenFileInUse{10462, "Error - database file %s is in use."};
inline constexpr int HeaderWrite = 10462;
inline constexpr int HeaderRead = 10464;
inline constexpr int PageWrite = 10469;
inline constexpr THDBErrorDef InvalidSignature{10470, "Invalid file format. Found signature: '%s', expected: '%s'"};
inline constexpr THDBErrorDef InvalidPageNo{10471, "Invalid PageNo = %d"};
inline constexpr int DirectPageRead = 10474;
inline constexpr int DirectPageWrite = 10475;
inline constexpr THDBErrorDef InvalidPageReadOffset{10476, "Error - invalid page offset = %d, page size = %d"};
inline constexpr THDBErrorDef InvalidPageWriteOffset{10477, "Error - invalid page offset = %d, page size = %d"};
inline constexpr THDBErrorDef TablesLocked{20210, "Database tables are locked"};
inline constexpr THDBErrorDef CannotUnlockTables{20211, "Cannot unlock database tables"};
inline constexpr THDBErrorDef DatabaseLockedAtOpen{20230, "Database is locked"};
inline constexpr THDBErrorDef DatabaseLockedForPageCount{20236, "Database is locked"};
inline constexpr THDBErrorDef InvalidDatabaseFormat{20237, "Invalid database format"};
inline constexpr THDBErrorDef NextObjectIDNotOpened{30399, "Error - database file is not opened."};
inline constexpr int CounterRead = 30400;
inline constexpr THDBErrorDef NextObjectIDLocked{30401, "Cannot get NextObjectID. File area is Locked."};
inline constexpr int CounterWrite = 30404;
inline constexpr int CounterInit = 30406;
inline constexpr THDBErrorDef SecurityReadNotOpened{30436, "Error - database file is not opened."};
inline constexpr THDBErrorDef SecurityWriteNotOpened{30437, "Error - database file is not opened."};
inline constexpr int SecurityWrite = 30438;
inline constexpr int SecurityRead = 30439;
inline constexpr THDBErrorDef LockBlockReadNotOpened{30441, "Error - database file is not opened."};
inline constexpr int LockBlockRead = 30442;
inline constexpr THDBErrorDef LockBlockWriteNotOpened{30443, "Error - database file is not opened."};
inline constexpr int LockBlockWrite = 30444;
inline constexpr THDBErrorDef IncorrectPassword{30445, "Cannot open database - incorrect password"};
// This engine stores pages in plain only; the cipher behind encrypted files is not built.
inline constexpr THDBErrorDef EncryptedNotSupported{
    30447, "Cannot open database - encrypted database files are not supported"};
inline constexpr THDBErrorDef EncryptionNotSupported{
    30448, "Cannot create database - encrypted database files are not supported"};
inline constexpr THDBErrorDef InvalidPageSize{30449, "Invalid page size: %d. The page size must be at least %d bytes"};
inline constexpr THDBErrorDef InvalidExtentPageCount{30450, "Invalid extent page count: %d"};
// Commit and rollback asked of a database object whose file is not open.
inline constexpr THDBErrorDef CommitNotOpened{30454, "Error - database file is not opened."};
inline constexpr THDBErrorDef RollbackNotOpened{30455, "Error - database file is not opened."};

// ---- Pages, page cache and session changes -----------------------------------------
inline constexpr THDBErrorDef PageBufferNil{20038, "Invalid page buffer. Buffer is Nil"};
inline constexpr THDBErrorDef InvalidPageModification{20039, "Invalid page modification"};
inline constexpr THDBErrorDef InvalidPageNumber{20064, "Invalid page number"};
inline constexpr THDBErrorDef InvalidPage{20085, "Invalid page"};
inline constexpr THDBErrorDef CannotWriteUsedPage{20086, "Cannot write used page"};
inline constexpr THDBErrorDef InvalidIndexPage{20087, "Invalid index page"};
inline constexpr THDBErrorDef CannotRemoveUsedPage{20088, "Cannot remove used page"};
inline constexpr THDBErrorDef PageUsedByOtherSession{20090, "Page is used by other session"};
inline constexpr THDBErrorDef NonCommittedPages{20097, "Cannot free non-committed pages"};
inline constexpr THDBErrorDef SessionPagesNotReleased{20152, "Some session pages not released"};
inline constexpr THDBErrorDef InvalidPageType{
    20153, "Invalid page type. Possible data corruption. Expecting type %d, but found %d"};
inline constexpr THDBErrorDef SortedListEmpty{20165, "TSortedPageList.Delete - no elements in array!"};
inline constexpr THDBErrorDef SortedListNotFound{
    20166, "TSortedPageList.Delete - element not found, key = %d, itemCount = %d"};
inline constexpr THDBErrorDef PageNotFound{20167, "Page not found"};
inline constexpr THDBErrorDef InvalidSessionID{20186, "Invalid Session ID"};
inline constexpr int FreedMarkWrite = 20198;
inline constexpr THDBErrorDef DatabaseLockedAtCommit{20213, "Database is locked"};
inline constexpr THDBErrorDef PageReadFailed{20299, "Error reading database file page. Page No: %d, type %d"};
inline constexpr THDBErrorDef UnknownPageType{30382, "Unknown Page Type: (%d)"};
inline constexpr THDBErrorDef DecryptPageFailed{30446, "Decrypt page error. Check CRC failed. PageNo: %d"};
// A page change asked of a session that only reads the file (another process holds
// it, or it cannot be written).
inline constexpr THDBErrorDef ReadOnlyDatabase{
    30456, "Cannot change database file '%s'. The database is open in read-only mode"};

// ---- Rollback journal ------------------------------------------------------------
// The journal beside the database file that makes every commit all or nothing.
inline constexpr THDBErrorDef CannotOpenJournal{30701,
                                                "Cannot open journal file: '%s' Error code: %d. ErrorMessage: %s"};
inline constexpr THDBErrorDef CannotWriteJournal{
    30702, "Cannot write journal file: '%s' Position = %d, Count = %d, ErrorCode:%d. ErrorMessage: %s"};
inline constexpr THDBErrorDef CannotReadJournal{
    30703, "Cannot read journal file: '%s' Position = %d, Count = %d, ErrorCode:%d. ErrorMessage: %s"};
inline constexpr THDBErrorDef CannotFlushJournal{
    30704, "Cannot flush journal file: '%s' Position = %d, Count = %d, ErrorCode:%d. ErrorMessage: %s"};
// Reading the bytes a commit will overwrite, and writing them back at a rollback, in
// the database file (with the file layer's read and write texts).
inline constexpr int JournalImageRead = 30705;
inline constexpr int JournalImageRestore = 30706;

// ---- Free-space management ---------------------------------------------------------
inline constexpr THDBErrorDef DatabaseLockedAtAllocate{20231, "Database is locked"};
inline constexpr THDBErrorDef DatabaseLockedAtFree{20232, "Database is locked"};
inline constexpr const char* WrongPageTypeText = "Wrong page type. Found '%s', but expecting: '%s'";
inline constexpr int MapPageTypeWhileSearching = 30423;
inline constexpr int PFSPageTypeWhileMarking = 30424;
inline constexpr THDBErrorDef PageAlreadyUsed{30425, "Page: %d already used"};
inline constexpr THDBErrorDef PageAlreadyFree{30427, "Page: %d already free"};
inline constexpr int EAMPageTypeWhileMarking = 30428;
inline constexpr THDBErrorDef PFSPageNotAddressable{30430, "Page: %d cannot be addressed. TotalPageCount=%d"};
inline constexpr int PFSPageTypeWhileTesting = 30430;
inline constexpr THDBErrorDef EAMPageNotAddressable{30431, "Page: %d cannot be addressed. TotalPageCount=%d"};
inline constexpr int PFSPageTypeWhileFindingLast = 30432;
inline constexpr THDBErrorDef CannotDeleteMapPage{30434, "Cannot delete PFS or EAM page. PageNo=%d"};
// The free-space map offered one of its own pages: its bit was found clear.
inline constexpr THDBErrorDef MapPageOffered{30453,
                                             "Cannot allocate PFS or EAM page. PageNo=%d. Possible data corruption"};

// ---- Internal files ----------------------------------------------------------------
inline constexpr THDBErrorDef DirectFileWrongPageType{20155, "Invalid PageType found: %d but expecting: %d"};
inline constexpr THDBErrorDef DirectFileClosed{20156, "Cannot perform this operation (%s) on closed internal file"};
inline constexpr THDBErrorDef DirectFileExists{20157, "Cannot create internal file. File already exists. StartPageNo=%d"};
inline constexpr THDBErrorDef DirectWriteBeyondSize{20158,
                                                    "Cannot write after end of file. FileSize=%d. Position=%d, Count=%d"};
inline constexpr THDBErrorDef DirectSeekBeyondSize{20159, "Seek position bigger than file size. FileSize=%d. Position=%d"};
inline constexpr THDBErrorDef CompressionFailed{20187, "Table file compression error"};
inline constexpr THDBErrorDef DecompressionFailed{20189,
                                                  "Table file decompression error. Possible table corruption (%s)"};
inline constexpr THDBErrorDef TableFilePageMissing{
    20300, "Error getting %d-th table file page. Probably database is corrupted and needs repair."};
inline constexpr THDBErrorDef InvalidInternalFilePageNumber{20301, "Invalid page number"};
inline constexpr THDBErrorDef TransactedFileExists{30383,
                                                   "Cannot create internal file. File already exists. StartPageNo=%d"};
inline constexpr THDBErrorDef InternalFileTooShort{30387, "Cannot read internal file. FileSize=%d. ReadSize=%d"};
inline constexpr THDBErrorDef InternalFileChainTooShort{
    30388, "Cannot read internal file: its pages end early. Size=%d. Read=%d. ReadSize=%d"};
inline constexpr THDBErrorDef TransactedFileClosed{30389,
                                                   "Cannot perform this operation (%s) on closed internal file"};

// ---- Tables: definitions, record layout, value order --------------------------------
inline constexpr THDBErrorDef InvalidFieldNumberGet{10000, "Invalid field number - FieldNo = %d, FieldCount = %d"};
inline constexpr THDBErrorDef InvalidFieldNumberSet{10004, "Invalid field number - FieldNo = %d, FieldCount = %d"};
inline constexpr THDBErrorDef ListLengthsFindIndexOrder{10276, "Error - different list lengths. L1 = %d, L2 = %d"};
inline constexpr THDBErrorDef ListLengthsFindIndexCase{10277, "Error - different list lengths. L1 = %d, L2 = %d"};
inline constexpr THDBErrorDef ListLengthsSetColumnsOrder{10278, "Error - different list lengths. L1 = %d, L2 = %d"};
inline constexpr THDBErrorDef ListLengthsSetColumnsCase{10279, "Error - different list lengths. L1 = %d, L2 = %d"};
inline constexpr THDBErrorDef BlobBlockSizeZero{10421, "BLOB block size should be > 0 for field %s"};
inline constexpr THDBErrorDef DuplicateDefinitionName{10424, "Duplicate field name %s"};
inline constexpr THDBErrorDef AutoincMaxExceeded{20160, "Autoinc max value exceeded for field '%s'"};
inline constexpr THDBErrorDef UnsupportedDataType{30007, "Unsupported data type '%s'"};
inline constexpr THDBErrorDef NoSequenceLastValue{
    30012, "No SequenceLastValue in session for sequence '%s'. Call GetNextVal first"};
inline constexpr THDBErrorDef ConstraintFieldNotFound{30027, "Field '%s' not found"};
inline constexpr THDBErrorDef ConstraintAssignNotImplemented{30035, "Not implemented yet"};
inline constexpr THDBErrorDef ConstraintResolveNotImplemented{30037, "Not implemented yet"};
inline constexpr THDBErrorDef ConstraintNameNotImplemented{30038, "Not implemented yet"};
inline constexpr THDBErrorDef IncompatibleDataTypes{30044, "Cannot compare Incompatible DataTypes: '%s' and '%s'"};
inline constexpr THDBErrorDef UnknownCollationResult{30045, "Unknown return code: %d"};
// The wide-string collation failed (ICU could not compare); the ICU error code follows.
inline constexpr THDBErrorDef WideCollationFailed{30046, "Cannot compare Unicode strings. Collation error code: %d"};
inline constexpr THDBErrorDef CompareUnknownDataType{30047, "Unknown DataType: '%s'"};
inline constexpr THDBErrorDef SizeUnknownDataType{30050, "Unknown DataType: '%s'"};
inline constexpr THDBErrorDef ValueIsNull{30140, "Value is Null"};
inline constexpr THDBErrorDef UnknownDatasetType{30289, "Unknown DataType: '%s'"};
inline constexpr THDBErrorDef UnknownConstraintType{30316, "Unknown Constraint Type: '%d'"};
inline constexpr THDBErrorDef PrimaryIndexNotFound{30325, "Index '%s' not found"};
inline constexpr THDBErrorDef UniqueIndexNotFound{30326, "Index '%s' not found"};
inline constexpr THDBErrorDef PrimaryFieldNotFound{30331, "Field '%s' not found"};
inline constexpr THDBErrorDef UniqueFieldNotFound{30332, "Field '%s' not found"};
inline constexpr THDBErrorDef AutoincFieldNotFound{30402, "Field #%d not found"};
inline constexpr THDBErrorDef AutoincCounterNotFound{30403, "Field #%d not found"};
inline constexpr THDBErrorDef StreamReadFailed{
    30601, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d"};
inline constexpr THDBErrorDef StreamWriteFailed{
    30602, "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d"};
inline constexpr THDBErrorDef MethodNotOverridden{30603, "The method '%s' is not overrided in class '%s'"};
// Value conversions of mixed-type comparisons and expressions.
inline constexpr THDBErrorDef InvalidDateText{30604, "'%s' is not a valid date"};
inline constexpr THDBErrorDef InvalidTimeText{30605, "'%s' is not a valid time"};
inline constexpr THDBErrorDef InvalidDateTimeText{30606, "'%s' is not a valid date and time"};
inline constexpr THDBErrorDef CannotConvertValue{30607, "Cannot convert a value of type '%s' to type '%s'"};
inline constexpr THDBErrorDef InvalidNumberText{30608, "'%s' is not a valid number"};
// ---- Record storage ----------------------------------------------------------------
inline constexpr THDBErrorDef NoNextRecordPage{20104, "Invalid page number"};
inline constexpr THDBErrorDef NoPriorRecordPage{20105, "Invalid page number"};
inline constexpr THDBErrorDef RecNoBeyondRecordCount{20113, "Cannot set RecNo greater than RecordCount"};
inline constexpr THDBErrorDef RecordPageNotListed{20114, "Invalid page number"};
inline constexpr THDBErrorDef InvalidRecordsOnPage{20140, "Invalid number of records on page"};
inline constexpr THDBErrorDef RecordPageFull{20141, "Cannot add record to page. Page is full"};
inline constexpr THDBErrorDef RecordNotFoundFirst{20143, "Record not found. PageNo=%d, PageRecordCount=%d"};
inline constexpr THDBErrorDef RecordNotFoundLast{20144, "Record not found. PageNo=%d, PageRecordCount=%d"};
inline constexpr THDBErrorDef RecordNotFoundNext{20145, "Record not found. PageNo=%d, PageRecordCount=%d"};
inline constexpr THDBErrorDef RecordNotFoundByNumber{20146, "Record not found. PageNo=%d, PageRecordCount=%d"};
inline constexpr THDBErrorDef RecordNotFoundPrior{20147, "Record not found. PageNo=%d, PageRecordCount=%d"};
inline constexpr THDBErrorDef RecordNotFoundCurrent{20148, "Record not found. PageNo=%d, PageRecordCount=%d"};
inline constexpr THDBErrorDef RecordTooLarge{
    20174,
    "Cannot create table. Record is too large to fit in current database page. Please increase page size of "
    "database file or decrease record size"};
inline constexpr THDBErrorDef RecordCountMismatch{
    20292,
    "Invalid table RecordPageIndex or MostUpdated. RecordPageIndex.RecordCount=%d, MostUpdated.RecordCount=%d"};
// ---- Table data object and constraints ------------------------------------------------
inline constexpr THDBErrorDef DeleteTableOpen{20017, "Cannot delete table '%s'. Table is open by another dataset"};
inline constexpr THDBErrorDef IndexNotFound{20018, "Index not found"};
inline constexpr THDBErrorDef CreateTableNoFields{20128, "Error creating table - no fields were specified"};
inline constexpr THDBErrorDef InsertNoRecordManager{20135, "Nil pointer occured"};
inline constexpr THDBErrorDef InsertNoRecordBuffer{20136, "Nil pointer occured"};
inline constexpr THDBErrorDef DeleteNoRecordManager{20137, "Nil pointer occured"};
inline constexpr THDBErrorDef UpdateNoRecordManager{20138, "Nil pointer occured"};
inline constexpr THDBErrorDef UpdateNoRecordBuffer{20139, "Nil pointer occured"};
inline constexpr THDBErrorDef CreateTableNoFieldsInManager{20142, "Error creating table - no fields were specified"};
inline constexpr THDBErrorDef InvalidTableHeader{20164, "Invalid table header data"};
inline constexpr THDBErrorDef StateFileNil{20176, "Pointer is nil"};
inline constexpr THDBErrorDef TableOpenByAnotherUser{
    20208, "Cannot access table '%s' in exclusive mode. Table is open by another user"};
inline constexpr THDBErrorDef TableLockedAtOpen{20209, "Cannot open table '%s'. Table is locked"};
inline constexpr THDBErrorDef TableLockedAtLocate{20214, "Table is locked"};
inline constexpr THDBErrorDef TableLockedAtGotoKey{20215, "Table is locked"};
inline constexpr THDBErrorDef TableLockedAtSetRecNo{20216, "Table is locked"};
inline constexpr THDBErrorDef TableLockedAtGetRecNo{20217, "Table is locked"};
inline constexpr THDBErrorDef TableLockedAtCount{20218, "Table is locked"};
inline constexpr THDBErrorDef TableLockedAtSetNaturalRecNo{20219, "Table is locked"};
inline constexpr THDBErrorDef TableLockedAtGetNaturalRecNo{20220, "Table is locked"};
// The read lock of a step: the step fails with result 3, nothing is raised.
inline constexpr THDBErrorDef TableLockedAtRead{20221, "Table is locked"};
inline constexpr THDBErrorDef TableOpenByOtherCursors{
    20242, "Cannot access table '%s' in exclusive mode. Table is open by other cursors"};
inline constexpr THDBErrorDef CannotRepairLargeTable{10512, "Cannot repair page index for large table. Table name: %s"};
inline constexpr THDBErrorDef NotNullFieldNotFound{30024, "Field #%d not found"};
inline constexpr THDBErrorDef NotNullViolated{30026, "Constraint '%s' violated. Value in field '%s' cannot be null"};
inline constexpr THDBErrorDef CheckFieldNotFound{30028, "Field #%d not found"};
inline constexpr THDBErrorDef CheckBelowMinimum{
    30029, "Constraint '%s' violated. Value in field '%s' cannot be lower than '%s'"};
inline constexpr THDBErrorDef CheckAboveMaximum{
    30030, "Constraint '%s' violated. Value in field '%s' cannot be greater than '%s'"};
inline constexpr THDBErrorDef ConstraintCheckNotImplemented{30036, "Not implemented yet"};
inline constexpr THDBErrorDef PrimaryViolated{30319, "Primary Key constraint '%s' violated. Duplicate found."};
inline constexpr THDBErrorDef UniqueViolated{30320, "Constraint unique '%s' violated. Duplicate found."};
inline constexpr THDBErrorDef PrimaryKeyNull{30330, "Constraint '%s' violated. Value in field '%s' cannot be null"};
inline constexpr THDBErrorDef FieldToRenameNotFound{30343, "Field '%s' not found"};
inline constexpr THDBErrorDef FieldRenameExists{30344, "Cannot rename field '%s'. Field '%s' already exists"};
// Indexes of one session need the temporary page store, which this engine does not build.
inline constexpr THDBErrorDef TemporaryIndexNotSupported{
    30457, "Cannot create index '%s'. Temporary indexes are not supported"};
// ---- B-trees: index pages, keys, tree operations, page indexes ---------------------
inline constexpr THDBErrorDef IndexPageEmpty{20025, "Index error: page is empty"};
inline constexpr THDBErrorDef IndexEntryNotFound{20027, "Index error: cannot delete entry. Entry not found"};
inline constexpr THDBErrorDef IndexIntegrity{20028, "Index integrity error. PageNo=%d EntryNo=%d"};
inline constexpr THDBErrorDef IndexIntegritySeparators{20029, "Index integrity error. PageNo=%d EntryNo=%d"};
inline constexpr THDBErrorDef IndexIntegrityBelowLeft{20030, "Index integrity error. PageNo=%d EntryNo=%d"};
inline constexpr THDBErrorDef IndexIntegrityAboveChild{20031, "Index integrity error. PageNo=%d EntryNo=%d"};
inline constexpr THDBErrorDef IndexIntegrityCircular{
    20032, "Index integrity error. Circular links. PageNo=%d EntryNo=%d"};
inline constexpr THDBErrorDef IndexIntegrityPrevLink{
    20033, "Index integrity error. Invlaid leaf link. PageNo=%d EntryNo=%d"};
inline constexpr THDBErrorDef IndexIntegrityNextLink{
    20034, "Index integrity error. Invlaid leaf link. PageNo=%d EntryNo=%d"};
inline constexpr THDBErrorDef IndexFieldNotFound{20043, "Cannot find index field '%s'"};
inline constexpr THDBErrorDef KeyPrepareNoFieldManager{20045, "Pointer is nil"};
// Also for a path deeper than any tree can be: only a damaged tree leads there.
inline constexpr THDBErrorDef InvalidKeyPathLevels{20051, "Invalid index key path"};
inline constexpr THDBErrorDef InvalidKeyPathDepth{20051, "Invalid index key path"};
inline constexpr THDBErrorDef InvalidKeyPathPages{20052, "Invalid index key path"};
inline constexpr THDBErrorDef IndexStepCurrentMode{20053, "Invalid 'get record' mode for index: grmCurrent"};
inline constexpr THDBErrorDef IndexInvalidPosition{20069, "Index error: invalid position"};
inline constexpr THDBErrorDef IndexNoNextPage{20070, "Index error: invalid page number"};
inline constexpr THDBErrorDef IndexNoPriorPage{20071, "Index error: invalid page number"};
inline constexpr THDBErrorDef EmptyIndexRecord{20074, "Cannot retrieve record from empty index"};
inline constexpr THDBErrorDef IndexRecNoBeyondCount{20075, "Cannot set RecNo greater than RecordCount"};
inline constexpr THDBErrorDef IndexInvalidParams{20078, "Index error: invalid params"};
inline constexpr THDBErrorDef PageIndexPageFull{20106, "Cannot add data item to page. Page is full"};
inline constexpr THDBErrorDef PageIndexSetMissing{20110, "Invalid page number"};
inline constexpr THDBErrorDef PageIndexRemoveMissing{20111, "Invalid page number"};
// A page index without root, by operation.
inline constexpr THDBErrorDef PageIndexDropNoRoot{20115, "Index error: invalid page number"};
inline constexpr THDBErrorDef PageIndexClearNoRoot{20116, "Index error: invalid page number"};
inline constexpr THDBErrorDef PageIndexStepNoRoot{20117, "Index error: invalid page number"};
inline constexpr THDBErrorDef PageIndexFindNoRoot{20118, "Index error: invalid page number"};
inline constexpr THDBErrorDef PageIndexAddNoRoot{20118, "Index error: invalid page number"};
inline constexpr THDBErrorDef PageIndexSetNoRoot{20118, "Index error: invalid page number"};
// A record index without root, by operation.
inline constexpr THDBErrorDef IndexDropNoRoot{20119, "Invalid page number"};
inline constexpr THDBErrorDef IndexClearNoRoot{20120, "Invalid page number"};
inline constexpr THDBErrorDef IndexAddNoRoot{20121, "Invalid page number"};
inline constexpr THDBErrorDef IndexRemoveNoRoot{20122, "Invalid page number"};
inline constexpr THDBErrorDef IndexStepNoRoot{20123, "Invalid page number"};
inline constexpr THDBErrorDef IndexFindNoRoot{20124, "Invalid page number"};
inline constexpr THDBErrorDef IndexScanNoRoot{20125, "Invalid page number"};
inline constexpr THDBErrorDef IndexRankNoRoot{20126, "Invalid page number"};
inline constexpr THDBErrorDef IndexEstimateNoRoot{20127, "Invalid page number"};
inline constexpr THDBErrorDef IndexKeyCheckNoRoot{20127, "Invalid page number"};
inline constexpr THDBErrorDef IndexChangeNoRoot{20293, "Invalid page number"};
inline constexpr THDBErrorDef IndexCheckNoRoot{20293, "Invalid page number"};
inline constexpr THDBErrorDef CannotRetrieveRecordForIndex{20170, "Cannot retrieve record for index"};
inline constexpr THDBErrorDef IndexIntegrityOrder{20194, "Index integrity error. PageNo=%d EntryNo=%d"};
inline constexpr THDBErrorDef IndexChangedEntryNotFound{20250, "Index error: cannot delete entry. Entry not found"};
inline constexpr THDBErrorDef IndexBlobField{
    20295,
    "Cannot index BLOB field '%s'. Direct indexing of BLOB fields is not supported yet, please use "
    "CAST(blob_field, string) function to convert BLOB field to a string expression before indexing."};
// ---- Sessions, the open-database registry and cursors ---------------------------------
inline constexpr THDBErrorDef TableNotFoundAtOpen{30470, "Table not found, table name = %s"};
inline constexpr THDBErrorDef InvalidDatabasePassword{30471, "Database password is invalid."};
inline constexpr THDBErrorDef CreateDatabaseOpen{30472, "Cannot create database. Database is already open"};
inline constexpr THDBErrorDef NotInTransactionCommit{
    30473, "Database is not within a transaction. Cannot perform operation"};
inline constexpr THDBErrorDef NotInTransactionRollback{
    30474, "Database is not within a transaction. Cannot perform operation"};
inline constexpr THDBErrorDef CursorTableNotFound{30475, "Table '%s' not found"};
inline constexpr THDBErrorDef CursorTableExists{30476, "Table %s already exists"};
inline constexpr THDBErrorDef RenameTableIntoItself{30477, "Cannot rename table '%s' into itself"};
inline constexpr THDBErrorDef CursorIndexExists{30478, "Cannot create index '%s'. Index already exists"};
inline constexpr THDBErrorDef CursorIndexNotFound{30479, "Cannot delete index '%s'. Index not found"};
inline constexpr THDBErrorDef CursorNilPointer{30480, "Nil pointer occured"};
// A cursor used without a connected session or an open table.
inline constexpr THDBErrorDef CursorNotConnected{30481, "Pointer is nil"};
inline constexpr THDBErrorDef CursorNotOpen{30482, "Pointer is nil"};
inline constexpr THDBErrorDef InvalidBitNo{30483, "Invalid bit no = %d, number of bits = %d"};
inline constexpr THDBErrorDef BlobFieldAlreadyOpened{30484, "BLOB field already opened. FieldNo = %d, FieldName = %s"};
inline constexpr THDBErrorDef ReadOnlyBlobStream{30485, "Cannot write to read only stream"};
inline constexpr THDBErrorDef NotABlobField{30486, "Field #%d (%s) is not a BLOB field"};
inline constexpr THDBErrorDef NoActiveIndexForKeySearch{
    30487, "No active index is set for Key search. Set Table.IndexName to the index on search fields."};
inline constexpr THDBErrorDef InvalidScanCondition{30488, "Invalid scan condition - indexID = %d, count = %d"};
inline constexpr THDBErrorDef InvalidScanItem{30489, "Invalid item number - ItemNo = %d, ItemCount = %d"};
// ---- Filter expressions: lexer, parser, evaluation, locate ---------------------------
inline constexpr THDBErrorDef BlankSQLCommand{30700, "Blank SQL command"};
inline constexpr THDBErrorDef UnexpectedEndOfCommand{30701,
                                                     "Unexpected end of SQL command found at line %d, column %d"};
inline constexpr THDBErrorDef BooleanExpected{30702,
                                              "Boolean expression expected, but '%s' found at line %d, column %d"};
inline constexpr THDBErrorDef UnexpectedToken{30703, "Unexpected token '%s' found at line %d, column %d"};
inline constexpr THDBErrorDef TokenExpected{30704, "Token '%s' expected, but '%s' found at line %d, column %d"};
inline constexpr THDBErrorDef MissingCloseParen{30705, "Missing symbol ')' at line %d, column %d"};
inline constexpr THDBErrorDef UnexpectedCloseParen{30706, "Unexpected symbol ')' found at line %d, column %d"};
inline constexpr THDBErrorDef UnterminatedString{30707, "Unterminated string at line %d, column %d"};
inline constexpr THDBErrorDef InvalidNumericSymbol{30708, "Invalid numeric symbol '%s' at line %d, column %d"};
inline constexpr THDBErrorDef InvalidEscapeLength{
    30709, "Invalid escape character length (should be a single character) at line %d, column %d"};
inline constexpr THDBErrorDef DateStringExpected{
    30710, "Date string expected \"YYYY-MM-DD\", but found \"%s\" at line %d, column %d"};
inline constexpr THDBErrorDef TimeStringExpected{
    30711, "Time string expected \"HH:MM:SS\", but found \"%s\" at line %d, column %d"};
inline constexpr THDBErrorDef ArgumentExpected{30712, "Argument expected for function '%s' at line %d, column %d"};
inline constexpr THDBErrorDef ParameterValueNotFound{30713, "Value for parameter '%s' not found"};
inline constexpr THDBErrorDef FilterFieldNotFound{30714, "Field '%s' not found"};
inline constexpr THDBErrorDef NonStringArgument{30715, "Non-string argument in function '%s'"};
inline constexpr THDBErrorDef UnknownOperator{30716, "Unknown operator: '%s'"};
// Subqueries, aggregates and the system values of statements have no meaning for one
// record of one table.
inline constexpr THDBErrorDef StatementOnlyConstruct{
    30717, "%s is not allowed in a filter expression (line %d, column %d)"};
inline constexpr THDBErrorDef LocateCountMismatch{
    30718, "Count of FieldNames (%d) does not equal counts of KeyValues (%d)"};
inline constexpr THDBErrorDef TimestampStringExpected{
    30719, "Timestamp string expected \"YYYY-MM-DD HH:MM:SS\", but found \"%s\" at line %d, column %d"};
inline constexpr THDBErrorDef DivisionByZero{30720, "Division by zero"};
// A value of a type the operation cannot take (a text in a product, a number where a
// date function needs a date).
inline constexpr THDBErrorDef InvalidArgumentType{30721, "Invalid argument of type '%s' in '%s'"};
// ---- BLOB storage ------------------------------------------------------------------
inline constexpr THDBErrorDef BlobPageFull{
    20290,
    "Cannot add blob. Page is full: BlobCount=%d, BlobOffset=%d, BlobSize=%d, PageDataSize=%d, "
    "SizeInBlobPageIndex=%d"};
// A page a BLOB ref leads to that is no BLOB page of the table, or whose sizes or numbers
// do not fit its data area.
inline constexpr THDBErrorDef InvalidBlobPage{
    20291, "Invalid blob page. Possible data corruption. PageNo=%d, BlobNo=%d"};
inline constexpr THDBErrorDef BlobNotFound{20294, "Blob not found. PageNo=%d, BlobNo=%d"};
// A large BLOB's page list that ends early, loops, or names a page twice.
inline constexpr THDBErrorDef InvalidBlobPageList{
    20296, "Invalid blob page list. Possible data corruption. PageNo=%d, ListPageNo=%d"};
// A memory value asked for by a handle the BLOB manager did not hand out.
inline constexpr THDBErrorDef InvalidBlobHandle{20297, "Invalid blob handle: %d"};
inline constexpr THDBErrorDef InvalidBlobSize{20298, "Invalid blob size: %d"};
// ---- Table and record locks --------------------------------------------------------
// The table locks file handed to a lock operation is not open.
inline constexpr THDBErrorDef LocksFileNilAtLockTable{10483, "Nil pointer occured"};
inline constexpr THDBErrorDef LocksFileNilAtUnlockTable{10489, "Nil pointer occured"};
inline constexpr THDBErrorDef LocksFileNilAtLockRecord{10490, "Nil pointer occured"};
inline constexpr THDBErrorDef LocksFileNilAtUnlockRecord{10491, "Nil pointer occured"};
inline constexpr THDBErrorDef LocksFileNilAtRecordTest{10492, "Nil pointer occured"};
inline constexpr THDBErrorDef LocksFileNilAtLockModified{10493, "Nil pointer occured"};
inline constexpr THDBErrorDef LocksFileNilAtRelease{10494, "Nil pointer occured"};
inline constexpr THDBErrorDef TableLockNoSessionSlot{
    20200, "Cannot set table lock. Try to repair the database or increase number of allowed connections"};
inline constexpr THDBErrorDef TableLocksStillExist{20201, "Some table locks still exist"};
inline constexpr THDBErrorDef TableLockNotFound{20202, "Cannot remove table lock. Lock not found"};
inline constexpr THDBErrorDef CannotSetTableLock{20203, "Cannot set table lock"};
inline constexpr THDBErrorDef CannotUnlockTable{20204, "Cannot unlock table"};
inline constexpr THDBErrorDef CannotLockRecord{20205, "Cannot lock record"};
inline constexpr THDBErrorDef CannotUnlockRecord{20206, "Cannot unlock record"};
inline constexpr THDBErrorDef ModifiedTableLocksStillExist{20234, "Some table locks still exist"};
// ---- System directory, table list, active sessions, database object ----------------
inline constexpr THDBErrorDef ConnectUnlockFailed{20093, "Cannot unlock sessions file"};
inline constexpr THDBErrorDef NoFreeConnectionSlot{
    20094,
    "Cannot connect session. Maximum connections quantity exceeded or database is open in single-user mode"};
inline constexpr THDBErrorDef CannotDisconnectSession{20095, "Cannot disconnect session"};
inline constexpr THDBErrorDef DisconnectUnlockFailed{20096, "Cannot unlock sessions file"};
inline constexpr THDBErrorDef FindTableListNil{20129, "Pointer is nil"};
inline constexpr THDBErrorDef DeleteTableListNil{20130, "Pointer is nil"};
inline constexpr THDBErrorDef RenameTableListNil{20131, "Pointer is nil"};
inline constexpr THDBErrorDef CommitLocksFailed{20233, "Cannot commit changes. Locks of modified tables failed"};
inline constexpr THDBErrorDef MixedUserModes{
    20235, "Cannot open database in multi-user and signle-user mode at the same time"};
inline constexpr THDBErrorDef ClaimUnlockFailed{20240, "Cannot unlock sessions file"};
inline constexpr THDBErrorDef ReleaseUnlockFailed{20241, "Cannot unlock sessions file"};
inline constexpr THDBErrorDef SystemDirectoryNotAtPage2{
    30392, "Error creating SystemDirectory. SystemDirectoryPageNo=%d. Real PageNo=%d."};
inline constexpr THDBErrorDef TableListAlreadyOpened{30393, "Table list file already opened."};
inline constexpr THDBErrorDef TableAlreadyExists{30395, "Cannot create table. Table '%s' already exists"};
inline constexpr THDBErrorDef FindTableMissing{30396, "Table '%s' does not exist."};
inline constexpr THDBErrorDef RenameTableMissing{30397, "Table '%s' does not exist."};
inline constexpr THDBErrorDef DeleteTableMissing{30405, "Table '%s' does not exist."};
inline constexpr THDBErrorDef RenameTableExists{30451, "Cannot rename table. Table '%s' already exists"};
inline constexpr THDBErrorDef InvalidConnectionSlots{30452, "Invalid number of connection slots: %d"};

// ---- Database, session and table components --------------------------------------
inline constexpr THDBErrorDef DatabaseFileNotFound{30520, "Database file '%s' does not exist"};
inline constexpr THDBErrorDef DatabaseNameMissing{30521, "Database name missing"};
inline constexpr THDBErrorDef DatabaseOpenError{30522, "Database open error"};
inline constexpr THDBErrorDef InvalidSessionName{30523, "Invalid session name '%s'"};
inline constexpr THDBErrorDef EngineNotInitialized{30524, "Database Engine is not initialized"};
inline constexpr THDBErrorDef DatabaseIsOpen{30525, "Cannot perform this operation on an open database"};
inline constexpr THDBErrorDef DatabaseIsClosed{30526, "Cannot perform this operation on a closed database"};
inline constexpr THDBErrorDef DuplicateDatabaseName{30527, "Duplicate database name '%s'"};
inline constexpr THDBErrorDef NotEnoughDiskSpace{
    30528, "There is not enough free space on drive to perform required operation with the database file."};
inline constexpr THDBErrorDef CannotConvertDatabase{
    30529, "Cannot convert database '%s' to the new format: %s"};
inline constexpr THDBErrorDef DuplicateSessionName{30530, "Duplicate session name '%s'"};
inline constexpr THDBErrorDef DatabaseNameBlank{30531, "DatabaseName property is blank"};
inline constexpr THDBErrorDef MissingTableName{30532, "Missing TableName property"};
inline constexpr THDBErrorDef CannotCreateTableHandle{30533, "Error creating table handle"};
inline constexpr THDBErrorDef CannotRetrieveRecord{30534, "Cannot retrieve record"};
inline constexpr THDBErrorDef DatasetNotInEditMode{30535, "Dataset is not in insert or edit mode"};
inline constexpr THDBErrorDef DatasetReadOnly{30536, "Dataset is in read only mode"};
inline constexpr THDBErrorDef DatasetNotOpened{30537, "Dataset is not opened"};
inline constexpr THDBErrorDef FieldNotInIndex{30538, "Field %s is not in the current index"};
inline constexpr THDBErrorDef NoIndexForFields{30539, "No index for fields '%s'"};
inline constexpr THDBErrorDef CannotFindIndex{30540, "Cannot find index %s"};
inline constexpr THDBErrorDef ComponentNilPointer{30541, "Nil pointer occured"};
// A repair that could not finish: the database file is left as it was.
inline constexpr THDBErrorDef RepairFailed{30542, "Cannot repair database '%s': %s"};

}  // namespace Errors

// Messages of the dataset layer (EDatabaseError): no native error number.
namespace DatasetTexts {
inline constexpr const char* FieldRequired = "Field '%s' must have a value";
inline constexpr const char* NotEditing = "Dataset not in edit or insert mode";
inline constexpr const char* FieldNotFound = "Field '%s' not found";
inline constexpr const char* DatasetOpen = "Cannot perform this operation on an open dataset";
inline constexpr const char* DatasetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* DatasetEmpty = "Cannot perform this operation on an empty dataset";
inline constexpr const char* RecordNotFound = "Record not found";
inline constexpr const char* FieldReadOnly = "Field '%s' cannot be modified";
inline constexpr const char* FieldTypeMismatch = "Type mismatch for field '%s', expecting: %s actual: %s";
inline constexpr const char* DuplicateFieldName = "Duplicate field name '%s'";
inline constexpr const char* InvalidIntegerValue = "'%s' is not a valid integer value";
inline constexpr const char* InvalidFloatValue = "'%s' is not a valid floating point value";
inline constexpr const char* InvalidBooleanValue = "'%s' is not a valid boolean value";
inline constexpr const char* InvalidDateValue = "'%s' is not a valid date";
inline constexpr const char* InvalidTimeValue = "'%s' is not a valid time";
inline constexpr const char* InvalidDateTimeValue = "'%s' is not a valid date and time";
inline constexpr const char* FieldRangeError = "%s is not a valid value for field '%s'. The allowed range is %s to %s";
inline constexpr const char* FieldAccessError = "Cannot access field '%s' as type %s";
inline constexpr const char* FieldHasNoDataset = "Field '%s' has no dataset";
inline constexpr const char* FieldSizeMismatch = "Size mismatch for field '%s', expecting: %d actual: %d";
}  // namespace DatasetTexts
}  // namespace hdb
