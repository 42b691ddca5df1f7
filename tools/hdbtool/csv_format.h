// The CSV form of the tool's dumps and imports (RFC 4180): records end with CRLF (a
// lone LF is accepted on reading), cells are separated by commas, and a cell that
// holds a comma, a double quote, CR or LF is enclosed in double quotes with each of its
// quotes doubled. A quoted and an unquoted empty cell read the same. A UTF-8 byte
// order mark at the start of the input is skipped, and an empty line holds no record
// (the writer quotes the lone empty cell of a one-column record, so none is lost).
//
// TCsvWriter buffers its output and owns nothing else; TCsvReader reads its stream in
// blocks. Neither is locked.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace hdbtool {

class TCsvWriter {
 public:
  explicit TCsvWriter(std::ostream& out) : out_(out) {}
  ~TCsvWriter() { Flush(); }
  TCsvWriter(const TCsvWriter&) = delete;
  TCsvWriter& operator=(const TCsvWriter&) = delete;

  void Cell(std::string_view text);
  void EndRecord();
  // Hands the buffered text to the stream; false when the stream failed.
  bool Flush();

 private:
  std::ostream& out_;
  std::string buffer_;
  std::size_t cellsInRecord_ = 0;
  bool lastCellEmpty_ = false;
};

// A record the reader cannot take apart, with the line it begins on.
struct TCsvSyntaxError {
  std::int64_t Line;
  std::string Text;
};

class TCsvReader {
 public:
  explicit TCsvReader(std::istream& in) : in_(in) {}

  // The next record's cells; false at the end of the input. TCsvSyntaxError for a
  // quote that is never closed or text after a closing quote.
  bool Next(std::vector<std::string>& cells);
  // The line (1-based) on which the record last returned begins.
  std::int64_t RecordLine() const { return recordLine_; }
  // Whether reading the stream failed (rather than ended).
  bool Failed() const { return in_.bad(); }

 private:
  // The next character, or -1 at the end.
  int Get();
  // The character `ahead` places after the next one, or -1 past the end.
  int Peek(std::size_t ahead = 0);
  // Reads the next block behind the unread rest; false at the end.
  bool Fill();

  std::istream& in_;
  std::string block_;
  std::size_t at_ = 0;
  bool started_ = false;
  std::int64_t line_ = 1;
  std::int64_t recordLine_ = 0;
};

}  // namespace hdbtool
