#include "dbengine/cursor/lexer.h"

#include <cassert>

#include "dbengine/cursor/reserved_words.h"
#include "dbengine/platform/ansi_charset.h"
#include "dbengine/storage/hdb_exception.h"

namespace hdb {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Characters that stand as tokens of their own and so end a name or a number.
bool IsSymbolChar(char c) {
  switch (c) {
    case '(':
    case ')':
    case ',':
    case '.':
    case '>':
    case '<':
    case '=':
    case '/':
    case '*':
    case ':':
    case '?':
    case '|':
    case '+':
    case '-':
    case ';':
      return true;
    default:
      return false;
  }
}

bool EndsName(char c) { return IsBlank(c) || IsSymbolChar(c); }

std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// One pass over the text; the position of the next character in lines and columns.
class Scanner {
 public:
  Scanner(std::string_view text, const THDBSQLParams* params, bool noParams, std::vector<TSQLCommand>& commands)
      : text_(text), params_(params), noParams_(noParams), commands_(commands) {}

  void Run() {
    commands_.emplace_back();
    BeginCommand();
    while (i_ < text_.size()) {
      const char c = text_[i_];
      if (IsBlank(c)) {
        Advance();
      } else if (c == '-' && Peek(1) == '-') {
        while (i_ < text_.size() && text_[i_] != '\n') Advance();
      } else if (c == '/' && Peek(1) == '*') {
        Advance();
        Advance();
        while (i_ < text_.size() && !(text_[i_] == '*' && Peek(1) == '/')) Advance();
        if (i_ < text_.size()) {
          Advance();
          Advance();
        }
      } else if (c == ';') {
        EndCommand();
        Advance();
        commands_.emplace_back();
        BeginCommand();
      } else if (c == '\'' || c == '"' || c == '[') {
        Quoted(c == '[' ? ']' : c, c == '[' ? tkBracketed : tkString);
      } else if (c == '`') {
        Backquoted();
      } else if (IsDigit(c) || (c == '.' && IsDigit(Peek(1)))) {
        Number();
      } else if (!noParams_ && c == ':' && StartsParameterName(Peek(1))) {
        NamedParameter();
      } else if (!noParams_ && c == '?') {
        const Mark at = Here();
        Advance();
        Parameter("Param" + std::to_string(++positional_), at);
      } else if (IsSymbolChar(c)) {
        Symbol();
      } else {
        Name();
      }
    }
    EndCommand();
  }

 private:
  struct Mark {
    std::int32_t Line, Column;
  };

  char Peek(std::size_t ahead) const { return i_ + ahead < text_.size() ? text_[i_ + ahead] : '\0'; }
  Mark Here() const { return {line_, column_}; }
  void Advance() {
    const char c = text_[i_++];
    if (c == '\n') {
      ++line_;
      column_ = 1;
    } else if (c != '\r') {
      ++column_;
    }
  }
  TSQLCommand& Current() { return commands_.back(); }

  void BeginCommand() {
    depth_ = 0;
    quoteOpen_ = false;
    Current().EndLine = line_;
    Current().EndColumn = column_;
  }
  // The checks at the end of a command, in their order.
  void EndCommand() {
    TSQLCommand& command = Current();
    command.TokenCount = static_cast<std::int32_t>(command.Tokens.size());
    command.CurrentToken = 0;
    if (depth_ > 0) RaiseHDB(Errors::MissingCloseParen, lastOpen_.Line, lastOpen_.Column);
    if (depth_ < 0) RaiseHDB(Errors::UnexpectedCloseParen, lastClose_.Line, lastClose_.Column);
    if (quoteOpen_) RaiseHDB(Errors::UnterminatedString, quoteStart_.Line, quoteStart_.Column);
  }

  TToken& Emit(std::uint8_t kind, std::string text, Mark at) {
    TSQLCommand& command = Current();
    TToken& t = command.Tokens.emplace_back();
    t.Kind = kind;
    t.Text = std::move(text);
    t.Line = at.Line;
    t.Column = at.Column;
    command.EndLine = line_;
    command.EndColumn = column_;
    return t;
  }

  // Reads up to the closing character; a doubled one stands for itself. False when the
  // text ends first (the rest of the text is then the unterminated quote).
  bool ReadQuoted(char close, std::string& out) {
    Advance();
    while (i_ < text_.size()) {
      const char c = text_[i_];
      if (c == close) {
        if (Peek(1) == close) {
          out += close;
          Advance();
          Advance();
          continue;
        }
        Advance();
        return true;
      }
      out += c;
      Advance();
    }
    return false;
  }

  void Quoted(char close, std::uint8_t kind) {
    const Mark at = Here();
    std::string text;
    if (!ReadQuoted(close, text)) {
      quoteOpen_ = true;
      quoteStart_ = at;
      return;
    }
    Emit(kind, std::move(text), at);
  }

  void Backquoted() {
    const Mark at = Here();
    Advance();
    std::string text;
    while (i_ < text_.size() && text_[i_] != '`') {
      if (text_[i_] == '\\' && i_ + 1 < text_.size()) Advance();
      text += text_[i_];
      Advance();
    }
    if (i_ >= text_.size()) {
      quoteOpen_ = true;
      quoteStart_ = at;
      return;
    }
    Advance();
    Emit(tkBracketed, std::move(text), at);
  }

  [[noreturn]] void BadNumber(std::size_t at) {
    // The position of the offending character.
    while (i_ < at) Advance();
    RaiseHDB(Errors::InvalidNumericSymbol, std::string(1, text_[at]), line_, column_);
  }

  void Number() {
    const Mark at = Here();
    const std::size_t start = i_;
    bool dot = false, exponent = false;
    std::size_t j = i_;
    while (j < text_.size()) {
      const char c = text_[j];
      if (IsDigit(c)) {
        ++j;
      } else if (c == '.') {
        if (dot || exponent) BadNumber(j);
        dot = true;
        ++j;
      } else if (c == 'E' || c == 'e') {
        if (exponent) BadNumber(j);
        exponent = true;
        const std::size_t e = j++;
        if (j < text_.size() && (text_[j] == '+' || text_[j] == '-')) ++j;
        if (j >= text_.size() || !IsDigit(text_[j])) BadNumber(e);
      } else if (EndsName(c)) {
        break;
      } else {
        BadNumber(j);
      }
    }
    while (i_ < j) Advance();
    Emit(dot || exponent ? tkFloat : tkInteger, std::string(text_.substr(start, j - start)), at);
  }

  bool StartsParameterName(char c) const {
    return c == '\'' || c == '"' || c == '[' || (c != '\0' && !IsDigit(c) && !EndsName(c) && c != '`');
  }

  void NamedParameter() {
    const Mark at = Here();
    Advance();
    std::string name;
    const char c = text_[i_];
    if (c == '\'' || c == '"' || c == '[') {
      if (!ReadQuoted(c == '[' ? ']' : c, name)) {
        quoteOpen_ = true;
        quoteStart_ = at;
        return;
      }
    } else {
      while (i_ < text_.size() && !EndsName(text_[i_])) {
        name += text_[i_];
        Advance();
      }
    }
    Parameter(name, at);
  }

  void Parameter(const std::string& name, Mark at) {
    const THDBVariant* value = params_ ? params_->Find(name) : nullptr;
    if (!value) RaiseHDB(Errors::ParameterValueNotFound, name);
    TToken& t = Emit(tkParameter, name, at);
    t.Value = *value;
  }

  void Symbol() {
    const Mark at = Here();
    const char c = text_[i_];
    const char next = Peek(1);
    std::string text(1, c);
    if ((c == '<' && (next == '=' || next == '>')) || (c == '>' && next == '=') || (c == '|' && next == '|')) {
      text += next;
      Advance();
    }
    Advance();
    std::uint8_t kind = tkIdentifier;
    if (c == '(') {
      kind = tkOpenParen;
      ++depth_;
      lastOpen_ = at;
    } else if (c == ')') {
      kind = tkCloseParen;
      --depth_;
      lastClose_ = at;
    } else if (c == ',') {
      kind = tkComma;
    } else if (c == '.') {
      kind = tkPeriod;
    }
    Emit(kind, std::move(text), at);
  }

  void Name() {
    const Mark at = Here();
    const std::size_t start = i_;
    while (i_ < text_.size() && !EndsName(text_[i_])) Advance();
    std::string text(text_.substr(start, i_ - start));
    std::string upper = AsciiUpper(text);
    // END-EXEC is the one reserved word with a character that otherwise ends a name.
    if (upper == "END" && i_ + 5 <= text_.size() && AsciiUpper(text_.substr(i_, 5)) == "-EXEC" &&
        (i_ + 5 == text_.size() || EndsName(text_[i_ + 5]))) {
      for (int k = 0; k < 5; ++k) Advance();
      text = std::string(text_.substr(start, i_ - start));
      upper = "END-EXEC";
    }
    const std::uint16_t keyword = KeywordNumber(upper);
    TToken& t = Emit(keyword == NoKeyword ? tkIdentifier : tkKeyword, std::move(text), at);
    t.Keyword = keyword;
  }

  std::string_view text_;
  const THDBSQLParams* params_;
  bool noParams_;
  std::vector<TSQLCommand>& commands_;
  std::size_t i_ = 0;
  std::int32_t line_ = 1, column_ = 1;
  int depth_ = 0;
  Mark lastOpen_{1, 1}, lastClose_{1, 1}, quoteStart_{1, 1};
  bool quoteOpen_ = false;
  int positional_ = 0;
};

}  // namespace

const char* ReservedWord(std::uint16_t i) {
  assert(i < ReservedWordCount);
  return ReservedWords[i].data();
}

std::uint16_t KeywordNumber(std::string_view upperWord) {
  for (std::uint16_t i = 0; i < ReservedWordCount; ++i)
    if (ReservedWords[i] == upperWord) return i;
  return NoKeyword;
}

void THDBSQLParams::Add(std::string name, THDBVariant value) { items_.emplace_back(std::move(name), std::move(value)); }

const THDBVariant* THDBSQLParams::Find(std::string_view name) const {
  for (const auto& [n, v] : items_)
    if (platform::AnsiSameText(n, name)) return &v;
  return nullptr;
}

THDBLexer::THDBLexer(std::string_view text, const THDBSQLParams* params) : text_(text), params_(params) {}

void THDBLexer::Tokenize() {
  commands_.clear();
  CurrentCommand = 0;
  Scanner(text_, params_, NoParams, commands_).Run();
}

std::int32_t THDBLexer::TotalTokenCount() const {
  std::int32_t n = 0;
  for (const auto& c : commands_) n += c.TokenCount;
  return n;
}

}  // namespace hdb
