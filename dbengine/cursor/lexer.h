// THDBLexer, the tokenizer of the filter and statement language: it cuts a text into
// commands (separated by ";") and each command into TToken values (names, operators,
// quoted strings, bracketed names, numbers, keywords, parameter values, parentheses,
// commas and full stops), counting lines and columns from 1, and checks each command
// for unbalanced parentheses and an unterminated quote.
//
// A lexer owns its tokens; the parameter list it reads values from belongs to the
// caller. It lives for one parse and is used by one thread; it takes no lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/tables/hdb_variant.h"

namespace hdb {

enum TTokenKind : std::uint8_t {
  tkIdentifier = 1,  // a name, or an operator
  tkString = 2,      // between apostrophes or double quotes
  tkBracketed = 3,   // a name between square brackets or backquotes; never a keyword
  tkInteger = 4,
  tkFloat = 5,
  tkKeyword = 6,
  tkParameter = 7,   // a parameter's value (Value holds it)
  tkOpenParen = 8,
  tkCloseParen = 9,
  tkComma = 10,
  tkPeriod = 11,
};

// The number of reserved words; as a keyword number it means "no keyword".
inline constexpr std::uint16_t ReservedWordCount = 291;
inline constexpr std::uint16_t NoKeyword = ReservedWordCount;

// Reserved word i (0-based), upper case.
const char* ReservedWord(std::uint16_t i);
// The keyword number of an upper-case word, NoKeyword when it is no reserved word.
std::uint16_t KeywordNumber(std::string_view upperWord);

struct TToken {
  std::uint8_t Kind = 0;
  std::uint16_t Keyword = NoKeyword;
  // Quoted tokens: the text without its delimiters, doubled delimiters reduced to one.
  std::string Text;
  THDBVariant Value;  // parameters only
  std::int32_t Line = 1;
  std::int32_t Column = 1;

  bool IsKeyword(std::uint16_t keyword) const { return Kind == tkKeyword && Keyword == keyword; }
  // An operator or other identifier token with exactly this text.
  bool IsSymbol(std::string_view symbol) const { return Kind == tkIdentifier && Text == symbol; }
};

// Named parameter values of a statement; names match without regard to case.
class THDBSQLParams {
 public:
  void Add(std::string name, THDBVariant value);
  // nullptr when there is no parameter of the name.
  const THDBVariant* Find(std::string_view name) const;
  int Count() const { return static_cast<int>(items_.size()); }

 private:
  std::vector<std::pair<std::string, THDBVariant>> items_;
};

struct TSQLCommand {
  std::vector<TToken> Tokens;
  std::int32_t TokenCount = 0;
  std::int32_t CurrentToken = 0;
  // Where the command ends (its ";" or the end of the text): the position reported
  // when a parse runs out of tokens.
  std::int32_t EndLine = 1;
  std::int32_t EndColumn = 1;
};

class THDBLexer {
 public:
  // params may be nullptr: a parameter token then fails with "Value for parameter '%s'
  // not found" (so does one the list lacks).
  explicit THDBLexer(std::string_view text, const THDBSQLParams* params = nullptr);

  // Cuts the whole text; raises the lexer's messages ("Missing symbol ')' ...",
  // "Unexpected symbol ')' ...", "Unterminated string ...", "Invalid numeric symbol ...",
  // "Value for parameter '%s' not found").
  void Tokenize();

  // Set before Tokenize: ":" and "?" are then ordinary operator tokens.
  bool NoParams = false;

  std::int32_t CommandCount() const { return static_cast<std::int32_t>(commands_.size()); }
  TSQLCommand& Command(std::int32_t i) { return commands_[static_cast<std::size_t>(i)]; }
  const TSQLCommand& Command(std::int32_t i) const { return commands_[static_cast<std::size_t>(i)]; }
  std::int32_t CurrentCommand = 0;
  // Tokens of all commands together.
  std::int32_t TotalTokenCount() const;

 private:
  std::string text_;
  const THDBSQLParams* params_;
  std::vector<TSQLCommand> commands_;
};

}  // namespace hdb
