#include "csv_format.h"

namespace hdbtool {

namespace {

constexpr std::size_t FlushThreshold = 1 << 16;
constexpr std::size_t BlockSize = 1 << 16;

bool NeedsQuotes(std::string_view text) { return text.find_first_of(",\"\r\n") != std::string_view::npos; }

}  // namespace

void TCsvWriter::Cell(std::string_view text) {
  if (cellsInRecord_++ > 0) buffer_.push_back(',');
  lastCellEmpty_ = text.empty();
  if (!NeedsQuotes(text)) {
    buffer_.append(text);
    return;
  }
  buffer_.push_back('"');
  for (char ch : text) {
    if (ch == '"') buffer_.push_back('"');
    buffer_.push_back(ch);
  }
  buffer_.push_back('"');
}

void TCsvWriter::EndRecord() {
  // A record of one empty cell would be an empty line, which holds no record.
  if (cellsInRecord_ == 1 && lastCellEmpty_) buffer_.append("\"\"");
  buffer_.append("\r\n");
  cellsInRecord_ = 0;
  if (buffer_.size() >= FlushThreshold) Flush();
}

bool TCsvWriter::Flush() {
  if (!buffer_.empty()) {
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    buffer_.clear();
  }
  out_.flush();
  return static_cast<bool>(out_);
}

bool TCsvReader::Fill() {
  // The bytes not read yet stay in front of the new ones.
  block_.erase(0, at_);
  at_ = 0;
  const std::size_t kept = block_.size();
  block_.resize(kept + BlockSize);
  in_.read(block_.data() + kept, static_cast<std::streamsize>(BlockSize));
  block_.resize(kept + static_cast<std::size_t>(in_.gcount()));
  return block_.size() > kept;
}

int TCsvReader::Peek(std::size_t ahead) {
  while (at_ + ahead >= block_.size())
    if (!Fill()) return -1;
  return static_cast<unsigned char>(block_[at_ + ahead]);
}

int TCsvReader::Get() {
  const int ch = Peek();
  if (ch >= 0) ++at_;
  return ch;
}

bool TCsvReader::Next(std::vector<std::string>& cells) {
  if (!started_) {
    started_ = true;
    if (Peek() == 0xEF && Peek(1) == 0xBB && Peek(2) == 0xBF) at_ += 3;
  }
  cells.clear();
  for (;;) {
    int ch = Peek();
    if (ch < 0) return false;
    // Empty lines hold no record.
    if (ch == '\n') {
      Get();
      ++line_;
      continue;
    }
    if (ch == '\r' && Peek(1) == '\n') {
      at_ += 2;
      ++line_;
      continue;
    }
    // A lone CR is text of the first cell.
    break;
  }
  recordLine_ = line_;
  std::string cell;
  for (;;) {
    int ch = Get();
    if (ch == '"' && cell.empty()) {
      // A quoted cell: runs to the quote that is not doubled.
      for (;;) {
        ch = Get();
        if (ch < 0) throw TCsvSyntaxError{recordLine_, "a quoted value is never closed"};
        if (ch == '\n') ++line_;
        if (ch == '"') {
          if (Peek() == '"') {
            Get();
            cell.push_back('"');
            continue;
          }
          break;
        }
        cell.push_back(static_cast<char>(ch));
      }
      ch = Get();
      if (ch == '\r' && Peek() == '\n') ch = Get();
      if (ch != ',' && ch != '\n' && ch >= 0)
        throw TCsvSyntaxError{recordLine_, "text follows the closing quote of value " + std::to_string(cells.size() + 1)};
    } else {
      while (ch >= 0 && ch != ',' && ch != '\n') {
        if (ch == '\r' && Peek() == '\n') {
          ch = Get();
          break;
        }
        if (ch == '"') throw TCsvSyntaxError{recordLine_, "a quote inside unquoted value " + std::to_string(cells.size() + 1)};
        cell.push_back(static_cast<char>(ch));
        ch = Get();
      }
    }
    cells.push_back(std::move(cell));
    cell.clear();
    if (ch == ',') continue;
    if (ch == '\n') ++line_;
    return true;
  }
}

}  // namespace hdbtool
