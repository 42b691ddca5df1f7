// The filter language: the lexer's tokens and messages, and filter texts parsed over
// the service table and evaluated on a fixed set of rows (which rows pass), the texts
// that must fail with their exact messages, and field defaults given as expressions.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "dbengine/cursor/default_expression.h"
#include "dbengine/cursor/expression.h"
#include "dbengine/cursor/lexer.h"
#include "dbengine/platform/local_clock.h"
#include "dbengine/tables/field_manager.h"
#include "service_table_support.h"

namespace hdb {
namespace {

using test::Day;
using test::NativeErrorOf;
using test::Row;
using test::ServiceTable;

// ---- Lexer --------------------------------------------------------------------------

struct Tok {
  std::uint8_t Kind;
  std::string Text;
  int Line, Column;
};

std::vector<Tok> Lex(const std::string& text, const THDBSQLParams* params = nullptr, int command = 0) {
  THDBLexer lexer(text, params);
  lexer.Tokenize();
  std::vector<Tok> out;
  for (const TToken& t : lexer.Command(command).Tokens) out.push_back({t.Kind, t.Text, t.Line, t.Column});
  return out;
}

void ExpectTokens(const std::string& text, const std::vector<Tok>& expected) {
  SCOPED_TRACE(text);
  const std::vector<Tok> got = Lex(text);
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE("token " + std::to_string(i));
    EXPECT_EQ(got[i].Kind, expected[i].Kind);
    EXPECT_EQ(got[i].Text, expected[i].Text);
    EXPECT_EQ(got[i].Line, expected[i].Line);
    EXPECT_EQ(got[i].Column, expected[i].Column);
  }
}

TEST(Lexer, TokenKindsQuotesAndPositions) {
  ExpectTokens("FG='A''B'", {{tkIdentifier, "FG", 1, 1}, {tkIdentifier, "=", 1, 3}, {tkString, "A'B", 1, 4}});
  ExpectTokens("\"x\"\"y\" [sel]]ect] `a\\`b`",
               {{tkString, "x\"y", 1, 1}, {tkBracketed, "sel]ect", 1, 8}, {tkBracketed, "a`b", 1, 19}});
  ExpectTokens("a<=b<>c>=d||e|f", {{tkIdentifier, "a", 1, 1},
                                   {tkIdentifier, "<=", 1, 2},
                                   {tkIdentifier, "b", 1, 4},
                                   {tkIdentifier, "<>", 1, 5},
                                   {tkIdentifier, "c", 1, 7},
                                   {tkIdentifier, ">=", 1, 8},
                                   {tkIdentifier, "d", 1, 10},
                                   {tkIdentifier, "||", 1, 11},
                                   {tkIdentifier, "e", 1, 13},
                                   {tkIdentifier, "|", 1, 14},
                                   {tkIdentifier, "f", 1, 15}});
  ExpectTokens("12 1.5 .5 1E3 2e-4 t.f", {{tkInteger, "12", 1, 1},
                                          {tkFloat, "1.5", 1, 4},
                                          {tkFloat, ".5", 1, 8},
                                          {tkFloat, "1E3", 1, 11},
                                          {tkFloat, "2e-4", 1, 15},
                                          {tkIdentifier, "t", 1, 20},
                                          {tkPeriod, ".", 1, 21},
                                          {tkIdentifier, "f", 1, 22}});
  ExpectTokens("(a,b)*c/d+e-f", {{tkOpenParen, "(", 1, 1},
                                 {tkIdentifier, "a", 1, 2},
                                 {tkComma, ",", 1, 3},
                                 {tkIdentifier, "b", 1, 4},
                                 {tkCloseParen, ")", 1, 5},
                                 {tkIdentifier, "*", 1, 6},
                                 {tkIdentifier, "c", 1, 7},
                                 {tkIdentifier, "/", 1, 8},
                                 {tkIdentifier, "d", 1, 9},
                                 {tkIdentifier, "+", 1, 10},
                                 {tkIdentifier, "e", 1, 11},
                                 {tkIdentifier, "-", 1, 12},
                                 {tkIdentifier, "f", 1, 13}});
  // Comments, line feeds, and carriage returns that do not move the column.
  ExpectTokens("FG -- to the end\n = /* over\r\n lines */ 'x'\r\n'a\nb'",
               {{tkIdentifier, "FG", 1, 1}, {tkIdentifier, "=", 2, 2}, {tkString, "x", 3, 11}, {tkString, "a\nb", 4, 1}});
  // Quotes and brackets inside a name are ordinary characters.
  ExpectTokens("ab'c[d", {{tkIdentifier, "ab'c[d", 1, 1}});
}

TEST(Lexer, KeywordsAreTheReservedWordsInAnyCase) {
  EXPECT_EQ(ReservedWordCount, 291);
  EXPECT_STREQ(ReservedWord(0), "ACTION");
  EXPECT_STREQ(ReservedWord(290), "RNDUP");
  THDBLexer lexer("and Or NOT end-exec [and] `OR` fg");
  lexer.Tokenize();
  const auto& t = lexer.Command(0).Tokens;
  ASSERT_EQ(t.size(), 7u);
  EXPECT_TRUE(t[0].IsKeyword(KeywordNumber("AND")));
  EXPECT_TRUE(t[1].IsKeyword(KeywordNumber("OR")));
  EXPECT_TRUE(t[2].IsKeyword(KeywordNumber("NOT")));
  EXPECT_TRUE(t[3].IsKeyword(KeywordNumber("END-EXEC")));
  EXPECT_EQ(t[3].Text, "end-exec");
  EXPECT_EQ(t[4].Kind, tkBracketed) << "a bracketed name is never a keyword";
  EXPECT_EQ(t[5].Kind, tkBracketed);
  EXPECT_EQ(t[6].Kind, tkIdentifier);
  EXPECT_EQ(t[6].Keyword, NoKeyword);
}

TEST(Lexer, CommandsAndParameters) {
  THDBLexer lexer("a = 1; b = 2 ;");
  lexer.Tokenize();
  ASSERT_EQ(lexer.CommandCount(), 3);
  EXPECT_EQ(lexer.Command(0).TokenCount, 3);
  EXPECT_EQ(lexer.Command(1).TokenCount, 3);
  EXPECT_EQ(lexer.Command(2).TokenCount, 0);

  THDBSQLParams params;
  params.Add("Vin", THDBVariant::FromString("WBA"));
  params.Add("Param1", THDBVariant::FromScalar<std::int32_t>(btInteger, 7));
  THDBLexer p("FG = :vin AND MLG = ? AND X = :[vin]", &params);
  p.Tokenize();
  const auto& t = p.Command(0).Tokens;
  ASSERT_EQ(t.size(), 11u);
  EXPECT_EQ(t[2].Kind, tkParameter);
  EXPECT_EQ(t[2].Value.AsString(), "WBA");
  EXPECT_EQ(t[6].Kind, tkParameter);
  EXPECT_EQ(t[6].Text, "Param1");
  EXPECT_EQ(t[10].Kind, tkParameter);

  // Without recognition ":" and "?" are operators.
  THDBLexer off("a ? :b");
  off.NoParams = true;
  off.Tokenize();
  EXPECT_EQ(off.Command(0).TokenCount, 4);
}

TEST(Lexer, Messages) {
  struct Case {
    const char* Text;
    const char* Message;
  } cases[] = {
      {"FG='abc", "Unterminated string at line 1, column 4"},
      {"FG=[abc", "Unterminated string at line 1, column 4"},
      {"a = 1;\n  b = `x", "Unterminated string at line 2, column 7"},
      {"(FG='a'", "Missing symbol ')' at line 1, column 1"},
      {"((a) = (b", "Missing symbol ')' at line 1, column 8"},
      {"FG='a')", "Unexpected symbol ')' found at line 1, column 7"},
      {"(FG='x'", "Missing symbol ')' at line 1, column 1"},
      {"FG = '(' ", ""},
      {"(a = ')", "Missing symbol ')' at line 1, column 1"},
      {"MLG > 12a", "Invalid numeric symbol 'a' at line 1, column 9"},
      {"MLG > 1.2.3", "Invalid numeric symbol '.' at line 1, column 10"},
      {"MLG > 1E+", "Invalid numeric symbol 'E' at line 1, column 8"},
      {"MLG > 5_", "Invalid numeric symbol '_' at line 1, column 8"},
      {"FG = :vin", "Value for parameter 'vin' not found"},
      {"FG = ? OR FG = ?", "Value for parameter 'Param1' not found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    std::string message;
    THDBLexer lexer(c.Text);
    const int code = NativeErrorOf([&] { lexer.Tokenize(); }, &message);
    EXPECT_EQ(message, c.Message);
    if (*c.Message) {
      EXPECT_GE(code, 30700);
    }
  }
}

// ---- Parsing and evaluation over rows -------------------------------------------------

class FilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rows_ = {
        /*0*/ {"A'B", Day(2019, 6, 1), 500, 1, "1", "oil and brakes"},
        /*1*/ {"ABC", Day(2020, 1, 1), 1500, 0, "2", std::nullopt},
        /*2*/ {"WBA00000000000001", Day(2020, 5, 5), 2000, 1, "ab", std::nullopt},
        /*3*/ {"WBA00000000000002", Day(2021, 1, 1), 999, 0, "AB", std::nullopt},
        /*4*/ {std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
        /*5*/ {"abc", Day(2019, 12, 31), 2001, 1, "3", std::nullopt},
        /*6*/ {"B", Day(2020, 1, 2), 1000, 1, "1", std::nullopt},
        /*7*/ {"A", Day(2018, 3, 3), 7, 0, "9", std::nullopt},
        /*8*/ {"50%OFF", Day(2018, 3, 4), 50, 0, "a_b", std::nullopt},
    };
    for (const Row& r : rows_) buffers_.push_back(t_.Buffer(r));
  }

  // The rows the filter passes.
  std::set<int> Passing(const std::string& text, bool caseInsensitive = false, bool partial = false) {
    THDBExpression e(t_.cursor.get());
    e.CaseInsensitive = caseInsensitive;
    e.PartialCompare = partial;
    e.ParseFilter(text);
    std::set<int> out;
    for (std::size_t i = 0; i < buffers_.size(); ++i)
      if (e.Passes(buffers_[i].data())) out.insert(static_cast<int>(i));
    return out;
  }

  ServiceTable t_;
  std::vector<Row> rows_;
  std::vector<std::vector<std::uint8_t>> buffers_;
};

TEST_F(FilterTest, TextsAgainstRows) {
  const std::set<int> all = {0, 1, 2, 3, 4, 5, 6, 7, 8};
  const std::set<int> notNull = {0, 1, 2, 3, 5, 6, 7, 8};
  struct Case {
    const char* Text;
    bool CaseInsensitive, Partial;
    std::set<int> Rows;
  } cases[] = {
      {"FG='A''B'", false, false, {0}},
      {"FG=\"ABC\"", false, false, {1}},
      {"FG='WBA*'", false, true, {2, 3}},
      {"FG='WBA*'", false, false, {}},
      {"FG='wba*'", true, true, {2, 3}},
      {"FG='abc'", false, false, {5}},
      {"FG='abc'", true, false, {1, 5}},
      {"FG='ABC '", false, false, {}},
      {"FG='X'", false, false, {}},
      {"FG<>'X'", false, false, all},
      {"FG<'B'", false, false, {0, 1, 4, 5, 7, 8}},
      {"'B'>FG", false, false, {0, 1, 4, 5, 7, 8}},
      {"MLG>1000", false, false, {1, 2, 5}},
      {"MLG<>1000", false, false, {0, 1, 2, 3, 5, 7, 8}},
      {"1000<MLG", false, false, {1, 2, 5}},
      {"MLG>=-5", false, false, notNull},
      {"(FG='A' OR FG='B') AND THND=1", false, false, {6}},
      {"FG='A' OR FG='B' AND THND=1", false, false, {6, 7}},
      {"NOT FG='A' AND THND=1", false, false, {0, 2, 5, 6}},
      {"NOT (MLG > 1000)", false, false, {0, 3, 4, 6, 7, 8}},
      {"FG='X' ZZZ", false, false, {}},
      {"FG='ABC' ZZZ", false, false, {1}},
      {"FG LIKE '%'", false, false, all},
      {"FG LIKE 'W%'", false, false, {2, 3}},
      {"FG LIKE 'w%'", true, false, {2, 3}},
      {"FG NOT LIKE 'W%'", false, false, {0, 1, 4, 5, 6, 7, 8}},
      {"FG LIKE 'W_A%'", false, false, {2, 3}},
      {"FG LIKE '%0002'", false, false, {3}},
      {"FG LIKE '50!%%' ESCAPE '!'", false, false, {8}},
      {"FG LIKE '5%%'", false, false, {8}},
      {"NHND LIKE 'a_b'", false, false, {8}},
      {"NHND LIKE 'a\\_b' ESCAPE '\\'", false, false, {8}},
      {"FG LIKE 'a%c'", true, false, {1, 5}},
      {"DAT >= DATE '2020-01-01'", false, false, {1, 2, 3, 6}},
      {"DAT < DATE '2019/12/31'", false, false, {0, 4, 7, 8}},
      {"DAT = '01.01.2020'", false, false, {1}},
      {"MLG BETWEEN 1000 AND 2000", false, false, {1, 2, 6}},
      {"MLG NOT BETWEEN 1000 AND 2000", false, false, {0, 3, 5, 7, 8}},
      {"FG BETWEEN 'a' AND 'abc'", false, false, {0, 1, 5, 7}},
      {"NHND IN ('1', '2')", false, false, {0, 1, 6}},
      {"NHND NOT IN ('1', '2')", false, false, {2, 3, 5, 7, 8}},
      {"NHND IN ('ab')", false, false, {2, 3}},
      {"MLG IN (500, 999)", false, false, {0, 3}},
      {"UPPER(NHND) = 'AB'", false, false, {2, 3}},
      {"LOWER(FG) = 'abc'", false, false, {1, 5}},
      {"FG IS NULL", false, false, {4}},
      {"FG IS NOT NULL", false, false, notNull},
      {"FG = NULL", false, false, {4}},
      {"MLG = NULL", false, false, {4}},
      {"THND", false, false, {0, 2, 5, 6}},
      {"THND IS TRUE", false, false, {0, 2, 5, 6}},
      {"THND IS FALSE", false, false, {1, 3, 7, 8}},
      {"THND IS NOT TRUE", false, false, {1, 3, 7, 8}},
      {"THND IS UNKNOWN", false, false, {4}},
      {"THND IS NOT UNKNOWN", false, false, notNull},
      {"TRUE", false, false, all},
      {"FALSE OR MLG = 7", false, false, {7}},
      {"MLG + 1 > 2000", false, false, {2, 5}},
      {"MLG - 1 = 999", false, false, {6}},
      {"MLG * 2 = 3000", false, false, {1}},
      {"MLG / 4 = 125", false, false, {0}},
      {"-MLG < -2000", false, false, {5}},
      {"(MLG + 1) * 2 = 1002", false, false, {0}},
      {"FG || '!' = 'ABC!'", false, false, {1}},
      {"FG + '!' = 'ABC!'", false, false, {1}},
      {"NHND || MLG = '1500'", false, false, {0}},
      {"LENGTH(FG) = 1", false, false, {6, 7}},
      {"LENGTH(FG) = 0", false, false, {4}},
      {"SUBSTRING(FG FROM 1 FOR 3) = 'WBA'", false, false, {2, 3}},
      {"SUBSTRING(FG, 15) = '002'", false, false, {3}},
      {"POS('00', FG) = 4", false, false, {2, 3}},
      {"POSITION('B' IN FG) = 3", false, false, {0}},
      {"TRIM('  x ') = 'x' AND LTRIM(' x') = RTRIM('x  ')", false, false, all},
      {"CASE WHEN MLG > 1000 THEN 1 ELSE 0 END = 1", false, false, {1, 2, 5}},
      {"CASE NHND WHEN '1' THEN 'one' WHEN '2' THEN 'two' END = 'one'", false, false, {0, 6}},
      {"CAST(MLG AS VARCHAR) = '500'", false, false, {0}},
      {"CAST(FG AS CHAR(2)) = 'WB'", false, false, {2, 3}},
      {"EXTRACT(YEAR FROM DAT) = 2019", false, false, {0, 5}},
      {"DAT + 1 = DATE '2020-01-02'", false, false, {1}},
      {"DATE '2020-01-03' - 1 = DAT", false, false, {6}},
      {"TOSTRING(DAT, 'yyyymmdd') = '20200101'", false, false, {1}},
      {"TODATE('02.01.2020') = DAT", false, false, {6}},
      {"ABS(MLG - 1000) < 2", false, false, {3, 6}},
      {"ROUND(MLG / 1000) = 2", false, false, {1, 2, 5}},
      {"THND = 1 AND (MLG > 1000 AND NHND = '3')", false, false, {5}},
      {"FG = 'ABC' IS NOT UNKNOWN", false, false, all},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Text) + (c.CaseInsensitive ? " [case-insensitive]" : "") +
                 (c.Partial ? " [partial]" : ""));
    EXPECT_EQ(Passing(c.Text, c.CaseInsensitive, c.Partial), c.Rows);
  }
}

// Arguments far outside what the functions meet in a store: nothing overflows, and each
// gives the value the small cases lead one to expect.
TEST_F(FilterTest, NumbersPastTheEdgesOfInt64AndDouble) {
  const std::set<int> all = {0, 1, 2, 3, 4, 5, 6, 7, 8};
  struct Case {
    const char* Text;
    std::set<int> Rows;
  } cases[] = {
      {"SUBSTRING('abc', -9223372036854775807 - 1, 5) = ''", all},
      {"SUBSTRING('abc', -9223372036854775807, 9223372036854775807) = ''", all},
      {"SUBSTRING('abc', -9223372036854775805, 9223372036854775807) = 'a'", all},
      {"SUBSTRING('abc', 1e300) = ''", all},
      {"SUBSTRING('abc', -1e300, 1e300) = ''", all},
      {"SUBSTRING('abc', 2, 1e300) = 'bc'", all},
      {"ROUND(1.25, 1000) = 1.25", all},
      {"ROUND(1.5, 1e300) = 1.5", all},
      {"ROUND(1234, -2) = 1200", all},
      {"ROUND(1234, -1000) = 0", all},
      {"9223372036854775807 + 1 > 9.2e18", all},
      {"-(-9223372036854775807 - 1) > 9.2e18", all},
      {"9223372036854775807 * 2 > 1.8e19", all},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(Passing(c.Text), c.Rows);
  }
}

TEST_F(FilterTest, ThreeValuedLogic) {
  // A NULL THND is an unknown condition: AND / OR / NOT keep it unknown unless the
  // other side decides.
  struct Case {
    const char* Text;
    THDBTruth OnNullRow;
  } cases[] = {
      {"THND", THDBTruth::Unknown},
      {"NOT THND", THDBTruth::Unknown},
      {"THND AND TRUE", THDBTruth::Unknown},
      {"THND AND FALSE", THDBTruth::False},
      {"THND OR TRUE", THDBTruth::True},
      {"THND OR FALSE", THDBTruth::Unknown},
      {"MLG > 5", THDBTruth::False},
      {"MLG IN (1, 2)", THDBTruth::Unknown},
      {"MLG BETWEEN 1 AND 2", THDBTruth::Unknown},
      {"FG LIKE 'A%B_'", THDBTruth::False},
      {"FG LIKE NULL", THDBTruth::Unknown},
      {"MLG IS NULL", THDBTruth::True},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    THDBExpression e(t_.cursor.get());
    e.ParseFilter(c.Text);
    EXPECT_EQ(e.IsTrue(buffers_[4].data()), c.OnNullRow);
  }
}

TEST_F(FilterTest, RewritesMadeWhileParsing) {
  THDBExpression like(t_.cursor.get());
  like.ParseFilter("FG LIKE 'W%'");
  ASSERT_EQ(like.Root()->Kind(), THDBExprNodeKind::Comparison);
  EXPECT_TRUE(like.Root()->PartialCompare);
  EXPECT_EQ(like.Root()->Child(1).Value.Text(), "W");

  THDBExpression underscore(t_.cursor.get());
  underscore.ParseFilter("FG LIKE 'W_%'");
  EXPECT_EQ(underscore.Root()->Kind(), THDBExprNodeKind::Boolean);

  auto nullAware = [&](const char* text) {
    THDBExpression e(t_.cursor.get());
    e.ParseFilter(text);
    EXPECT_EQ(e.Root()->Kind(), THDBExprNodeKind::Comparison) << text;
    return static_cast<THDBExprNodeComparison*>(e.Root())->NullAwareCompare;
  };
  EXPECT_FALSE(nullAware("FG = 'X'"));
  EXPECT_FALSE(nullAware("'X' = FG"));
  EXPECT_FALSE(nullAware("DAT = DATE '2020-01-01'"));
  EXPECT_FALSE(nullAware("MLG = NULL"));
  EXPECT_FALSE(nullAware("UPPER(FG) = 'X'"));
  EXPECT_TRUE(nullAware("MLG = 5"));
  EXPECT_TRUE(nullAware("MLG = THND"));
  EXPECT_TRUE(nullAware("MLG + 1 = 5"));

  // AND chains under the root AND become one AND.
  THDBExpression chain(t_.cursor.get());
  chain.ParseFilter("(FG = 'A' AND MLG = 1) AND (THND = 1 AND NHND = 'x')");
  ASSERT_EQ(chain.Root()->Kind(), THDBExprNodeKind::Boolean);
  EXPECT_EQ(chain.Root()->Operator, opAnd);
  EXPECT_EQ(chain.Root()->ChildCount(), 4u);
}

TEST_F(FilterTest, MalformedTextsGiveTheirMessages) {
  struct Case {
    const char* Text;
    const char* Message;
  } cases[] = {
      {"", "Blank SQL command"},
      {"   -- only a remark", "Blank SQL command"},
      {"/* x */", "Blank SQL command"},
      {";FG='A'", "Unexpected end of SQL command found at line 1, column 1"},
      {"FG='abc", "Unterminated string at line 1, column 4"},
      {"(FG='A'", "Missing symbol ')' at line 1, column 1"},
      {"FG='A')", "Unexpected symbol ')' found at line 1, column 7"},
      {"MLG > 12a", "Invalid numeric symbol 'a' at line 1, column 9"},
      {"XX = 1", "Field 'XX' not found"},
      {"FG = 'A' AND xx = 1", "Field 'xx' not found"},
      {"FG = :vin", "Value for parameter 'vin' not found"},
      {"FG = ?", "Value for parameter 'Param1' not found"},
      {"DAT = DATE '2020-1-01'", "Token 'YYYY-MM-DD' expected, but '2020-1-01' found at line 1, column 12"},
      {"DAT = DATE '2020-02-30'", "Token 'YYYY-MM-DD' expected, but '2020-02-30' found at line 1, column 12"},
      {"DAT = DATE '2020-01-01xx'", "Token 'YYYY-MM-DD' expected, but '2020-01-01xx' found at line 1, column 12"},
      {"DAT = DATE 5", "Date string expected \"YYYY-MM-DD\", but found \"5\" at line 1, column 12"},
      {"DAT = TIME 5", "Time string expected \"HH:MM:SS\", but found \"5\" at line 1, column 12"},
      {"DAT = TIME '25:00:00'", "Token 'HH:MM:SS' expected, but '25:00:00' found at line 1, column 12"},
      {"FG LIKE 'a' ESCAPE 'xy'",
       "Invalid escape character length (should be a single character) at line 1, column 20"},
      {"FG LIKE 'a' ESCAPE ''", "Invalid escape character length (should be a single character) at line 1, column 20"},
      {"FG = 'A' AND", "Unexpected end of SQL command found at line 1, column 13"},
      {"FG = 'A' OR\n  'x'", "Boolean expression expected, but 'x' found at line 2, column 3"},
      {"NOT", "Unexpected end of SQL command found at line 1, column 4"},
      {"FG", "Boolean expression expected, but 'FG' found at line 1, column 1"},
      {"= 'A'", "Boolean expression expected, but '=' found at line 1, column 1"},
      {"UPPER() = 'A'", "Argument expected for function 'UPPER' at line 1, column 7"},
      {"UPPER FG = 'A'", "Token '(' expected, but 'FG' found at line 1, column 7"},
      {"SUBSTRING(FG 1) = 'A'", "Token ',' expected, but '1' found at line 1, column 14"},
      {"MLG IN (1 2)", "Token ')' expected, but '2' found at line 1, column 11"},
      {"MLG IN ()", "Unexpected token ')' found at line 1, column 9"},
      {"MLG BETWEEN 1 OR 2", "Token 'AND' expected, but 'OR' found at line 1, column 15"},
      {"THND IS NOT XYZ", "Token 'TRUE, FALSE or UNKNOWN' expected, but 'XYZ' found at line 1, column 13"},
      {"MLG IN (SELECT MLG FROM T)", "A subquery is not allowed in a filter expression (line 1, column 9)"},
      {"EXISTS (SELECT 1)", "EXISTS with a subquery is not allowed in a filter expression (line 1, column 1)"},
      {"SUM(MLG) > 5", "The aggregate function 'SUM' is not allowed in a filter expression (line 1, column 1)"},
      {"MLG > ANY (SELECT 1)", "A comparison with ANY is not allowed in a filter expression (line 1, column 7)"},
      {"ROWNUM < 5", "The system value 'ROWNUM' is not allowed in a filter expression (line 1, column 1)"},
      {"CAST(MLG AS WIBBLE) = 1", "Token 'data type' expected, but 'WIBBLE' found at line 1, column 13"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    THDBExpression e(t_.cursor.get());
    std::string message;
    const int code = NativeErrorOf([&] { e.ParseFilter(c.Text); }, &message);
    EXPECT_EQ(message, c.Message);
    EXPECT_NE(code, 0);
  }
}

TEST_F(FilterTest, EvaluationErrors) {
  struct Case {
    const char* Text;
    const char* Message;
  } cases[] = {
      {"MLG LIKE '5%0'", "Non-string argument in function 'LIKE'"},
      {"MLG / (THND - THND) = 1", "Division by zero"},
      {"DAT = 'tomorrow'", "'tomorrow' is not a valid date"},
      {"MIMETOBIN('AAEC') = 1", "Cannot compare Incompatible DataTypes: 'BLOB' and 'INTEGER'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    THDBExpression e(t_.cursor.get());
    e.ParseFilter(c.Text);
    std::string message;
    EXPECT_NE(NativeErrorOf([&] { e.IsTrue(buffers_[0].data()); }, &message), 0);
    EXPECT_EQ(message, c.Message);
  }
  THDBExpression empty(t_.cursor.get());
  std::string message;
  EXPECT_EQ(NativeErrorOf([&] { empty.IsTrue(buffers_[0].data()); }, &message), 30140);
  EXPECT_EQ(message, "Value is Null");
}

TEST_F(FilterTest, DeepNestingIsRefusedAndRepeatedAlternativesStayLinear) {
  // Each level would double the work of a parser that reads every alternative afresh.
  std::string nested = std::string(40, '(') + "'A'" + std::string(40, ')') + " = FG";
  EXPECT_EQ(Passing(nested), std::set<int>{7});
  std::string deep = std::string(500, '(') + "1" + std::string(500, ')');
  THDBExpression e(t_.cursor.get());
  std::string message;
  EXPECT_EQ(NativeErrorOf([&] { e.ParseFilter(deep); }, &message), 30703);
}

// ---- Defaults given as expressions --------------------------------------------------

TEST(DefaultExpressions, ComputedEachTimeTheyAreApplied) {
  RegisterDefaultExpressions();
  THDBBaseFieldManager fields;
  THDBFieldDefs defs;
  defs.AddField("D", dtDate).DefaultValue = THDBVariant::FromString("CURRENT_DATE");
  defs.AddField("N", dtInteger).DefaultValue = THDBVariant::FromString("2 * 8 + 1");
  defs.AddField("S", dtString, 20).DefaultValue = THDBVariant::FromString("'A' || 'B'");
  defs.AddField("C", dtString, 20).DefaultValue = THDBVariant::FromString("ABC");
  defs.AddField("K", dtString, 20).DefaultValue = THDBVariant::FromString("2020-01-01");
  defs.AddField("V", dtInteger).DefaultValue = THDBVariant::FromString("5");
  fields.SetFieldDefs(defs);
  EXPECT_TRUE(fields.Field(0).DefaultExpression);
  EXPECT_TRUE(fields.Field(1).DefaultExpression);
  EXPECT_TRUE(fields.Field(2).DefaultExpression);
  EXPECT_FALSE(fields.Field(3).DefaultExpression) << "a name that is no field stays text";
  EXPECT_FALSE(fields.Field(4).DefaultExpression) << "numbers and dashes in a text field are its text";
  EXPECT_FALSE(fields.Field(5).DefaultExpression) << "a value that reads as its own text is a constant";

  std::vector<std::uint8_t> record(static_cast<std::size_t>(fields.MemoryRecordSize()));
  fields.InitRecord(record.data(), true);
  std::int32_t day = 0, n = 0;
  char s[21] = {}, c[21] = {}, k[21] = {};
  ASSERT_TRUE(fields.GetFieldValue(0, record.data(), &day));
  ASSERT_TRUE(fields.GetFieldValue(1, record.data(), &n));
  ASSERT_TRUE(fields.GetFieldValue(2, record.data(), s));
  ASSERT_TRUE(fields.GetFieldValue(3, record.data(), c));
  ASSERT_TRUE(fields.GetFieldValue(4, record.data(), k));
  EXPECT_EQ(n, 17);
  EXPECT_STREQ(s, "AB");
  EXPECT_STREQ(c, "ABC");
  EXPECT_STREQ(k, "2020-01-01");
  const platform::LocalDateTime now = platform::NowLocal();
  EXPECT_NEAR(day, EncodeDayNumber(now.Year, now.Month, now.Day), 1);
}

}  // namespace
}  // namespace hdb
