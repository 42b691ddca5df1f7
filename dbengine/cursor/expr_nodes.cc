#include "dbengine/cursor/expr_nodes.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>

#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/date_format.h"
#include "dbengine/cursor/expr_compare.h"
#include "dbengine/cursor/reserved_words.h"
#include "dbengine/platform/ansi_charset.h"
#include "dbengine/platform/local_clock.h"
#include "dbengine/platform/system_services.h"
#include "dbengine/platform/wide_case.h"
#include "dbengine/storage/byte_layout.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/date_time_codec.h"
#include "dbengine/tables/null_bitmap.h"
#include "dbengine/tables/value_compare.h"

namespace hdb {

namespace {

constexpr bool IsNarrowType(std::uint8_t t) { return t == btFixedChar || t == btString || t == btMemo; }
constexpr bool IsWideType(std::uint8_t t) { return t == btFixedWideChar || t == btWideString || t == btWideMemo; }
constexpr bool IsTextType(std::uint8_t t) { return IsNarrowType(t) || IsWideType(t); }
constexpr bool IsDateType(std::uint8_t t) { return t >= btDate && t <= btDateTime; }
constexpr bool IsIntegral(std::uint8_t t) { return IsIntegerBaseType(t) || t == btLogical; }

// Appends the single-byte text form of a value.
void AppendText(const THDBExprValue& v, std::string& out) {
  if (v.IsNarrowText()) {
    out.append(v.Text());
  } else if (v.IsWideText()) {
    for (std::size_t i = 0; i < v.Length(); ++i)
      out += static_cast<char>(platform::UnicodeToAnsi(le::Load<std::uint16_t>(v.Data(), 2 * i)));
  } else if (v.Type() == btBlob || v.Type() == btBytes || v.Type() == btVarBytes) {
    out.append(static_cast<const char*>(v.Data()), v.Length());
  } else {
    THDBValueBuffer text;
    ConvertValue(v.Data(), v.Type(), btString, text);
    out.append(reinterpret_cast<const char*>(text.Data()), text.Size() - 1);
  }
}

void AppendWide(const THDBExprValue& v, std::u16string& out) {
  if (v.IsWideText()) {
    for (std::size_t i = 0; i < v.Length(); ++i) out += static_cast<char16_t>(le::Load<std::uint16_t>(v.Data(), 2 * i));
    return;
  }
  std::string narrow;
  AppendText(v, narrow);
  for (char c : narrow) out += platform::AnsiToUnicode(static_cast<unsigned char>(c));
}

// A number of any numeric or text value, as double.
double NumberOf(const THDBExprValue& v, const char* op) {
  if (IsNumericBaseType(v.Type())) return v.AsDouble();
  if (v.IsText()) {
    THDBValueBuffer number;
    if (v.IsNarrowText()) {
      ConvertValue(v.Data(), v.Type(), btDouble, number);
    } else {
      std::string text;
      AppendText(v, text);
      ConvertValue(text.c_str(), btString, btDouble, number);
    }
    return le::Load<double>(number.Data(), 0);
  }
  RaiseHDB(Errors::InvalidArgumentType, BaseTypeWord(v.Type()), op);
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// Date arithmetic: milliseconds from 1899-12-30, the day count the dataset layer uses.
std::int64_t TotalMs(const THDBExprValue& v) {
  THDBValueBuffer stamp;
  if (v.IsWideText()) {
    std::string text;
    AppendText(v, text);
    ConvertValue(text.c_str(), btString, btDateTime, stamp);
  } else {
    ConvertValue(v.Data(), v.Type(), btDateTime, stamp);
  }
  const std::int64_t date = le::Load<std::int32_t>(stamp.Data(), 0);
  const std::int64_t time = le::Load<std::int32_t>(stamp.Data(), 4);
  return (date - DateDelta) * MSecsPerDay + time;
}

void SetTotalMs(THDBExprValue& out, std::uint8_t type, std::int64_t total) {
  const std::int64_t days = FloorDiv(total, MSecsPerDay);
  const std::int64_t ms = total - days * MSecsPerDay;
  const std::int64_t day = days + DateDelta;
  if (day < 1 || day > std::numeric_limits<std::int32_t>::max())
    RaiseHDB(Errors::CannotConvertValue, BaseTypeWord(btLargeInt), BaseTypeWord(type));
  if (type == btDate) out.SetDate(static_cast<std::int32_t>(day));
  else if (type == btTime) out.SetTime(static_cast<std::int32_t>(ms));
  else out.SetDateTime(static_cast<std::int32_t>(day), static_cast<std::int32_t>(ms));
}

void SetNumber(THDBExprValue& out, double v) {
  if (!std::isfinite(v)) out.SetNull(btDouble);
  else out.SetDouble(v);
}

// acc + v by the addition rule: texts concatenate, numbers add, date-time values add
// their days and milliseconds; NULL on either side gives NULL, except that a text on
// the left stays as it is and a NULL text on the left takes the right-hand value.
void AddValue(THDBExprValue& acc, const THDBExprValue& v, THDBExprValue& scratch) {
  if (v.IsNull()) {
    if (!IsTextType(acc.Type())) acc.SetNull(acc.Type());
    return;
  }
  if (acc.IsNull()) {
    if (IsTextType(acc.Type())) acc.Assign(v);
    return;
  }
  const std::uint8_t common = CommonType(acc.Type(), v.Type(), false);
  if (IsTextType(common)) {
    if (IsWideType(common)) {
      std::u16string& w = scratch.OwnedWide();
      w.clear();
      AppendWide(acc, w);
      AppendWide(v, w);
      acc.SetWideText(w);
    } else {
      std::string& s = scratch.OwnedText();
      s.clear();
      AppendText(acc, s);
      AppendText(v, s);
      acc.SetText(s);
    }
    return;
  }
  if (common != 0 && IsNumericBaseType(common)) {
    if (IsIntegral(acc.Type()) && IsIntegral(v.Type())) {
      // A sum past int64 goes on as a double, as a product does.
      std::int64_t sum;
      if (!__builtin_add_overflow(acc.AsInt64(), v.AsInt64(), &sum)) acc.SetInteger(sum);
      else SetNumber(acc, acc.AsDouble() + v.AsDouble());
    } else {
      SetNumber(acc, acc.AsDouble() + v.AsDouble());
    }
    return;
  }
  if (IsDateType(common)) {
    SetTotalMs(acc, common, TotalMs(acc) + TotalMs(v));
    return;
  }
  RaiseHDB(Errors::InvalidArgumentType, BaseTypeWord(v.Type()), "+");
}

void Negate(const THDBExprValue& v, THDBExprValue& out) {
  if (v.IsNull()) {
    out.SetNull(v.Type());
  } else if (IsIntegral(v.Type()) && v.AsInt64() != std::numeric_limits<std::int64_t>::min()) {
    out.SetInteger(-v.AsInt64());
  } else if (IsDateType(v.Type())) {
    SetTotalMs(out, v.Type(), -TotalMs(v));
  } else {
    SetNumber(out, -NumberOf(v, "-"));
  }
}

template <class S>
void TrimText(S& s, bool left, bool right) {
  // Blanks and control characters.
  std::size_t b = 0, e = s.size();
  if (left)
    while (b < e && static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<typename S::value_type>>(s[b])) <= ' ')
      ++b;
  if (right)
    while (e > b &&
           static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<typename S::value_type>>(s[e - 1])) <= ' ')
      --e;
  s.erase(e);
  s.erase(0, b);
}

void MapCase(std::string& s, bool upper) {
  for (char& c : s)
    c = static_cast<char>(upper ? platform::AnsiUpperChar(static_cast<unsigned char>(c))
                                : platform::AnsiLowerChar(static_cast<unsigned char>(c)));
}

void MapCase(std::u16string& s, bool upper) {
  for (char16_t& c : s) c = upper ? platform::WideUpperChar(c) : platform::WideLowerChar(c);
}

template <class S>
void Substring(S& s, std::int64_t start, bool hasCount, std::int64_t count) {
  // Positions from 1; a start before 1 uses up part of the count. Both are held far
  // inside int64 first so that the arithmetic below cannot overflow. The count's bound
  // lies far beyond the start's: a count at the end of int64 (or past it) after a start
  // at the other end still covers the whole text.
  constexpr std::int64_t StartLimit = std::int64_t{1} << 48, CountLimit = std::int64_t{1} << 62;
  start = std::clamp(start, -StartLimit, StartLimit);
  count = std::clamp(count, -CountLimit, CountLimit);
  if (start < 1) {
    if (hasCount) count -= 1 - start;
    start = 1;
  }
  if ((hasCount && count <= 0) || start > static_cast<std::int64_t>(s.size())) {
    s.clear();
    return;
  }
  const auto from = static_cast<std::size_t>(start - 1);
  s = s.substr(from, hasCount ? static_cast<std::size_t>(count) : S::npos);
}

bool LikeCharEqual(char16_t a, char16_t b, bool caseInsensitive) {
  if (a == b) return true;
  if (!caseInsensitive) return false;
  return platform::WideUpperChar(a) == platform::WideUpperChar(b) ||
         platform::WideLowerChar(a) == platform::WideLowerChar(b);
}

// "%" any run (none too), "_" one character, the escape character makes the next one
// literal.
bool LikeMatch(const std::u16string& s, const std::u16string& p, bool hasEscape, char16_t escape, bool ci) {
  std::size_t i = 0, j = 0, starP = std::u16string::npos, starS = 0;
  while (i < s.size()) {
    if (j < p.size()) {
      const char16_t c = p[j];
      if (hasEscape && c == escape && j + 1 < p.size()) {
        if (LikeCharEqual(s[i], p[j + 1], ci)) {
          ++i;
          j += 2;
          continue;
        }
      } else if (c == u'%') {
        starP = j++;
        starS = i;
        continue;
      } else if (c == u'_') {
        ++i;
        ++j;
        continue;
      } else if (LikeCharEqual(s[i], c, ci)) {
        ++i;
        ++j;
        continue;
      }
    }
    if (starP == std::u16string::npos) return false;
    j = starP + 1;
    i = ++starS;
  }
  while (j < p.size() && p[j] == u'%') ++j;
  return j == p.size();
}

bool IsCondition(const THDBExprNode& n) {
  return n.Kind() == THDBExprNodeKind::Comparison || n.Kind() == THDBExprNodeKind::Boolean;
}

int Base64Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

double RoundBy(double v, std::uint16_t mode) {
  const double f = std::floor(v), frac = v - f;
  static constexpr std::uint16_t HalfEven = Keyword("HALFEVEN"), HalfPos = Keyword("HALFPOS"),
                                 HalfNeg = Keyword("HALFNEG"), HalfDown = Keyword("HALFDOWN"),
                                 RndNeg = Keyword("RNDNEG"), RndPos = Keyword("RNDPOS"), RndDown = Keyword("RNDDOWN"),
                                 RndUp = Keyword("RNDUP");
  if (mode == RndNeg) return std::floor(v);
  if (mode == RndPos) return std::ceil(v);
  if (mode == RndDown) return std::trunc(v);
  if (mode == RndUp) return v < 0 ? std::floor(v) : std::ceil(v);
  if (frac != 0.5) return std::round(v);
  if (mode == HalfEven) return std::fmod(f, 2.0) == 0 ? f : f + 1;
  if (mode == HalfPos) return f + 1;
  if (mode == HalfNeg) return f;
  if (mode == HalfDown) return v < 0 ? f + 1 : f;
  return std::round(v);  // HALFUP and the default: half away from zero
}

}  // namespace

const char* OperatorText(std::uint8_t op) {
  switch (op) {
    case opEqual: return "=";
    case opNotEqual: return "<>";
    case opGreater: return ">";
    case opLess: return "<";
    case opGreaterOrEqual: return ">=";
    case opLessOrEqual: return "<=";
    case opNot: return "NOT";
    case opAnd: return "AND";
    case opOr: return "OR";
    case opLike: return "LIKE";
    case opNotLike: return "NOT LIKE";
    case opIsNull: return "IS NULL";
    case opIsNotNull: return "IS NOT NULL";
    case opAdd: return "+";
    case opSubtract: return "-";
    case opMultiply: return "*";
    case opDivide: return "/";
    case opConcat: return "||";
    case opUpper: return "UPPER";
    case opLower: return "LOWER";
    case opTrim: return "TRIM";
    case opLTrim: return "LTRIM";
    case opRTrim: return "RTRIM";
    case opSum: return "SUM";
    case opAvg: return "AVG";
    case opMin: return "MIN";
    case opMax: return "MAX";
    case opCount: return "COUNT";
    case opCountAll: return "COUNT(*)";
    default: return "unknown";
  }
}

THDBTruth TruthOf(const THDBExprValue& v) {
  if (v.IsNull()) return THDBTruth::Unknown;
  if (IsIntegral(v.Type())) return v.AsInt64() != 0 ? THDBTruth::True : THDBTruth::False;
  if (IsNumericBaseType(v.Type())) return v.AsDouble() != 0 ? THDBTruth::True : THDBTruth::False;
  if (v.IsText()) {
    std::string text;
    AppendText(v, text);
    THDBValueBuffer logical;
    ConvertValue(text.c_str(), btString, btLogical, logical);
    return le::Load<std::int16_t>(logical.Data(), 0) != 0 ? THDBTruth::True : THDBTruth::False;
  }
  RaiseHDB(Errors::InvalidArgumentType, BaseTypeWord(v.Type()), "condition");
}

// ---- THDBExprNode -------------------------------------------------------------------

THDBTruth THDBExprNode::Test() {
  if (Detached) return THDBTruth::True;
  return TruthOf(Evaluate());
}

void THDBExprNode::Prepare() {
  for (auto& c : Children) c->Prepare();
}

THDBExprNode& THDBExprNode::AddChild(std::unique_ptr<THDBExprNode> child) {
  assert(child);
  Children.push_back(std::move(child));
  return *Children.back();
}

// ---- Field --------------------------------------------------------------------------

bool THDBExprNodeField::IsNull() const {
  if (!Record) RaiseHDB(Errors::CursorNilPointer);
  return NullBitmap::IsNull(Record, FieldNo);
}

const THDBExprValue& THDBExprNodeField::Evaluate() {
  if (IsNull()) {
    Value.SetNull(BaseType);
    return Value;
  }
  const std::uint8_t* slot = Record + DataOffset;
  const auto size = static_cast<std::size_t>(DataSize);
  switch (BaseType) {
    case btFixedChar:
    case btString: {
      const char* text = reinterpret_cast<const char*>(slot);
      const std::size_t n = strnlen(text, size);
      // A slot without its terminator is read into the value's own storage.
      if (n < size) Value.SetTextView(BaseType, text, n);
      else Value.SetText(std::string_view(text, n), BaseType);
      break;
    }
    case btFixedWideChar:
    case btWideString: {
      const std::size_t units = size / 2;
      std::size_t n = 0;
      while (n < units && le::Load<std::uint16_t>(slot, 2 * n) != 0) ++n;
      if (n < units) {
        Value.SetWideView(BaseType, slot, n);
      } else {
        std::u16string& w = Value.OwnedWide();
        w.resize(n);
        for (std::size_t i = 0; i < n; ++i) w[i] = le::Load<std::uint16_t>(slot, 2 * i);
        Value.SetWideText(w, BaseType);
      }
      break;
    }
    case btMemo:
    case btWideMemo:
    case btBlob: {
      if (!Cursor) RaiseHDB(Errors::CursorNilPointer);
      Cursor->ReadBlobField(FieldNo, Record, blob_);
      if (BaseType == btMemo) {
        Value.SetText(std::string_view(reinterpret_cast<const char*>(blob_.data()), blob_.size()), btMemo);
      } else if (BaseType == btWideMemo) {
        std::u16string& w = Value.OwnedWide();
        w.resize(blob_.size() / 2);
        for (std::size_t i = 0; i < w.size(); ++i) w[i] = le::Load<std::uint16_t>(blob_.data(), 2 * i);
        Value.SetWideText(w, btWideMemo);
      } else {
        Value.SetBytes(btBlob, blob_.data(), blob_.size());
      }
      break;
    }
    case btBytes:
    case btVarBytes:
      Value.SetBytes(BaseType, slot, size);
      break;
    default:
      Value.SetFixed(BaseType, slot, size);
  }
  return Value;
}

// ---- Comparison ---------------------------------------------------------------------

void THDBExprNodeComparison::Prepare() {
  THDBExprNode::Prepare();
  fast_ = false;
  field_ = nullptr;
  if (ChildCount() != 2 || Quantifier != 0) return;
  THDBExprNode& a = Child(0);
  THDBExprNode& b = Child(1);
  THDBExprNode* constant = nullptr;
  if (a.Kind() == THDBExprNodeKind::Field && b.Kind() == THDBExprNodeKind::Const) {
    field_ = static_cast<THDBExprNodeField*>(&a);
    fieldLeft_ = true;
    constant = &b;
  } else if (b.Kind() == THDBExprNodeKind::Field && a.Kind() == THDBExprNodeKind::Const) {
    field_ = static_cast<THDBExprNodeField*>(&b);
    fieldLeft_ = false;
    constant = &a;
  }
  if (!field_ || field_->OuterCursor || constant->Value.IsNull()) {
    field_ = nullptr;
    return;
  }
  const std::uint8_t ft = field_->BaseType, ct = constant->Value.Type();
  const std::uint8_t common = fieldLeft_ ? CommonType(ft, ct) : CommonType(ct, ft);
  if ((ft == btFixedChar || ft == btString) && (ct == btFixedChar || ct == btString)) {
    constant_.Assign(constant->Value);
    fast_ = true;
  } else if (common == ft && !IsTextType(ft) && !IsBlobBaseType(ft) && ft != btBytes && ft != btVarBytes) {
    // The constant in the field's type, once; a constant that does not convert keeps
    // the comparison on the general path, which reports the conversion per record.
    try {
      THDBValueBuffer converted;
      ConvertValue(constant->Value.Data(), ct, ft, converted);
      constant_.SetFixed(ft, converted.Data(), converted.Size());
      fast_ = true;
    } catch (const EHDBException&) {
      fast_ = false;
    }
  }
  if (!fast_) field_ = nullptr;
}

THDBCompareOutcome THDBExprNodeComparison::Compare() {
  if (fast_) {
    if (field_->IsNull()) return fieldLeft_ ? THDBCompareOutcome::LeftNull : THDBCompareOutcome::RightNull;
    const std::uint8_t* slot = field_->Record + field_->DataOffset;
    int r;
    if (field_->BaseType == btFixedChar || field_->BaseType == btString) {
      const char* text = reinterpret_cast<const char*>(slot);
      const std::size_t n = strnlen(text, static_cast<std::size_t>(field_->DataSize));
      const char* c = static_cast<const char*>(constant_.Data());
      std::int32_t partial = -1;
      if (PartialCompare)
        partial = static_cast<std::int32_t>((PartialSide == 1) == fieldLeft_ ? constant_.Length() : n);
      r = fieldLeft_ ? CompareNarrowTexts(text, n, c, constant_.Length(), CaseInsensitive, partial)
                     : CompareNarrowTexts(c, constant_.Length(), text, n, CaseInsensitive, partial);
    } else {
      r = fieldLeft_ ? CompareSameType(slot, constant_.Data(), field_->BaseType, -1, CaseInsensitive)
                     : CompareSameType(constant_.Data(), slot, field_->BaseType, -1, CaseInsensitive);
    }
    return r < 0 ? THDBCompareOutcome::Less : (r > 0 ? THDBCompareOutcome::Greater : THDBCompareOutcome::Equal);
  }
  const THDBExprValue& a = Child(0).Evaluate();
  const THDBExprValue& b = Child(1).Evaluate();
  std::int32_t partial = -1;
  if (PartialCompare) {
    const THDBExprValue& cut = PartialSide == 1 ? b : a;
    if (cut.IsText() && !cut.IsNull()) partial = static_cast<std::int32_t>(cut.Length());
  }
  return CompareExprValues(a, b, CaseInsensitive, partial);
}

THDBTruth THDBExprNodeComparison::Test() {
  if (Detached) return THDBTruth::True;
  assert(Quantifier == 0 && ChildCount() == 2);
  return OutcomeSatisfies(Operator, Compare(), NullAwareCompare) ? THDBTruth::True : THDBTruth::False;
}

const THDBExprValue& THDBExprNodeComparison::Evaluate() {
  Value.SetLogical(Test() == THDBTruth::True);
  return Value;
}

// ---- Boolean ------------------------------------------------------------------------

THDBTruth THDBExprNodeBoolean::Test() {
  if (Detached) return THDBTruth::True;
  auto negate = [](THDBTruth t) {
    return t == THDBTruth::Unknown ? t : (t == THDBTruth::True ? THDBTruth::False : THDBTruth::True);
  };
  switch (Operator) {
    case opNot:
      return negate(Child(0).Test());
    case opAnd: {
      THDBTruth result = THDBTruth::True;
      for (auto& c : Children) {
        const THDBTruth t = c->Test();
        if (t == THDBTruth::False) return THDBTruth::False;
        if (t == THDBTruth::Unknown) result = THDBTruth::Unknown;
      }
      return result;
    }
    case opOr: {
      THDBTruth result = THDBTruth::False;
      for (auto& c : Children) {
        const THDBTruth t = c->Test();
        if (t == THDBTruth::True) return THDBTruth::True;
        if (t == THDBTruth::Unknown) result = THDBTruth::Unknown;
      }
      return result;
    }
    case opIn:
      return TestIn();
    case opNotIn:
      return negate(TestIn());
    case opBetween:
      return TestBetween();
    case opNotBetween:
      return negate(TestBetween());
    case opLike:
      return TestLike();
    case opNotLike:
      return negate(TestLike());
    case opIsNull:
    case opIsNotNull: {
      THDBExprNode& c = Child(0);
      const bool isNull = IsCondition(c) ? c.Test() == THDBTruth::Unknown : c.Evaluate().IsNull();
      return isNull == (Operator == opIsNull) ? THDBTruth::True : THDBTruth::False;
    }
    default:
      RaiseHDB(Errors::UnknownOperator, OperatorText(Operator));
  }
}

const THDBExprValue& THDBExprNodeBoolean::Evaluate() {
  const THDBTruth t = Test();
  if (t == THDBTruth::Unknown) Value.SetNull(btLogical);
  else Value.SetLogical(t == THDBTruth::True);
  return Value;
}

THDBTruth THDBExprNodeBoolean::TestIn() {
  const THDBExprValue& v = Child(0).Evaluate();
  if (v.IsNull()) return THDBTruth::Unknown;
  for (std::size_t i = 1; i < ChildCount(); ++i) {
    const THDBExprValue& e = Child(i).Evaluate();
    if (!e.IsNull() && CompareExprValues(v, e, true, -1) == THDBCompareOutcome::Equal) return THDBTruth::True;
  }
  return THDBTruth::False;
}

THDBTruth THDBExprNodeBoolean::TestBetween() {
  const THDBExprValue& v = Child(0).Evaluate();
  const THDBExprValue& low = Child(1).Evaluate();
  const THDBExprValue& high = Child(2).Evaluate();
  if (v.IsNull() || low.IsNull() || high.IsNull()) return THDBTruth::Unknown;
  const bool inside = CompareExprValues(low, v, true, -1) != THDBCompareOutcome::Greater &&
                      CompareExprValues(v, high, true, -1) != THDBCompareOutcome::Greater;
  return inside ? THDBTruth::True : THDBTruth::False;
}

THDBTruth THDBExprNodeBoolean::TestLike() {
  const THDBExprValue& pattern = Child(1).Evaluate();
  if (pattern.IsNull()) return THDBTruth::Unknown;
  const THDBExprValue& v = Child(0).Evaluate();
  if (!IsTextType(pattern.Type()) || !(IsTextType(v.Type()) || (v.IsNull() && v.Type() == 0)))
    RaiseHDB(Errors::NonStringArgument, OperatorText(opLike));
  text_.clear();
  pattern_.clear();
  // A NULL value is matched as an empty text.
  if (!v.IsNull()) AppendWide(v, text_);
  AppendWide(pattern, pattern_);
  const bool hasEscape = !EscapeChar.empty();
  const char16_t escape = hasEscape ? platform::AnsiToUnicode(static_cast<unsigned char>(EscapeChar[0])) : u'\0';
  return LikeMatch(text_, pattern_, hasEscape, escape, CaseInsensitive) ? THDBTruth::True : THDBTruth::False;
}

// ---- Arithmetic ---------------------------------------------------------------------

std::uint8_t THDBExprNodeArithmetic::ResultType() const {
  switch (Operator) {
    case opAdd: {
      std::uint8_t t = Child(0).ResultType();
      for (std::size_t i = 1; i < ChildCount() && t != 0; ++i) {
        const std::uint8_t u = Child(i).ResultType();
        t = u == 0 ? 0 : CommonType(t, u, false);
      }
      return t;
    }
    case opSubtract:
      return Child(0).ResultType();
    case opSign:
      return btInteger;
    default:
      return btDouble;
  }
}

const THDBExprValue& THDBExprNodeArithmetic::Evaluate() {
  switch (Operator) {
    case opAdd:
      Value.Assign(Child(0).Evaluate());
      for (std::size_t i = 1; i < ChildCount(); ++i) AddValue(Value, Child(i).Evaluate(), scratch_);
      return Value;
    case opSubtract:
      Negate(Child(0).Evaluate(), Value);
      return Value;
    case opMultiply:
    case opDivide: {
      const THDBExprValue& a = Child(0).Evaluate();
      const THDBExprValue& b = Child(1).Evaluate();
      const char* op = OperatorText(Operator);
      if (a.IsNull() || b.IsNull()) {
        Value.SetNull(btDouble);
        return Value;
      }
      if (Operator == opMultiply && IsIntegral(a.Type()) && IsIntegral(b.Type())) {
        std::int64_t product;
        if (!__builtin_mul_overflow(a.AsInt64(), b.AsInt64(), &product)) {
          Value.SetInteger(product);
          return Value;
        }
      }
      const double x = NumberOf(a, op), y = NumberOf(b, op);
      if (Operator == opDivide && y == 0) RaiseHDB(Errors::DivisionByZero);
      SetNumber(Value, Operator == opMultiply ? x * y : x / y);
      return Value;
    }
    case opRand: {
      if (ChildCount() == 0) {
        Value.SetDouble(platform::RandomBelow(1u << 30) / static_cast<double>(1u << 30));
        return Value;
      }
      const THDBExprValue& n = Child(0).Evaluate();
      if (n.IsNull()) {
        Value.SetNull(btInteger);
        return Value;
      }
      const double bound = NumberOf(n, "RAND");
      Value.SetInteger(bound >= 1 && bound <= 4294967295.0 ? platform::RandomBelow(static_cast<std::uint32_t>(bound)) : 0);
      return Value;
    }
    default:
      break;
  }
  // The numeric functions: NULL in, NULL out; results outside the numbers are NULL.
  const THDBExprValue& a = Child(0).Evaluate();
  if (a.IsNull()) {
    Value.SetNull(btDouble);
    return Value;
  }
  if (Operator == opAbs && IsIntegral(a.Type())) {
    const std::int64_t v = a.AsInt64();
    Value.SetInteger(v < 0 ? static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(v)) : v);
    return Value;
  }
  const double x = NumberOf(a, "function");
  switch (Operator) {
    case opAbs: SetNumber(Value, std::fabs(x)); break;
    case opAcos: SetNumber(Value, std::acos(x)); break;
    case opAsin: SetNumber(Value, std::asin(x)); break;
    case opAtan: SetNumber(Value, std::atan(x)); break;
    case opCos: SetNumber(Value, std::cos(x)); break;
    case opExp: SetNumber(Value, std::exp(x)); break;
    case opLog: SetNumber(Value, x > 0 ? std::log(x) : std::nan("")); break;
    case opSin: SetNumber(Value, std::sin(x)); break;
    case opSqr: SetNumber(Value, x * x); break;
    case opSqrt: SetNumber(Value, x >= 0 ? std::sqrt(x) : std::nan("")); break;
    case opSign: Value.SetInteger(x > 0 ? 1 : (x < 0 ? -1 : 0)); break;
    case opCeil:
    case opFloor: {
      const double r = Operator == opCeil ? std::ceil(x) : std::floor(x);
      if (std::fabs(r) < 9.2e18) Value.SetInteger(static_cast<std::int64_t>(r));
      else SetNumber(Value, r);
      break;
    }
    case opPower: {
      const THDBExprValue& b = Child(1).Evaluate();
      if (b.IsNull()) Value.SetNull(btDouble);
      else SetNumber(Value, std::pow(x, NumberOf(b, "POWER")));
      break;
    }
    case opRound: {
      std::int64_t digits = 0;
      if (ChildCount() > 1) {
        const THDBExprValue& d = Child(1).Evaluate();
        if (d.IsNull()) {
          Value.SetNull(btDouble);
          break;
        }
        // Beyond 400 places either way a double has nothing left to round.
        digits = std::clamp<std::int64_t>(SaturatedInt64(NumberOf(d, "ROUND")), -400, 400);
      }
      if (digits == 0) {
        const double r = RoundBy(x, Mode);
        if (std::fabs(r) < 9.2e18) Value.SetInteger(static_cast<std::int64_t>(r));
        else SetNumber(Value, r);
      } else if (digits > 0) {
        // Scaled up past the doubles, the value has fewer places than asked: it stays.
        const double scale = std::pow(10.0, static_cast<double>(digits));
        const double scaled = x * scale;
        SetNumber(Value, std::isfinite(scaled) ? RoundBy(scaled, Mode) / scale : x);
      } else {
        // Rounding to tens, hundreds, ...: divide first so a large scale cannot overflow.
        const double scale = std::pow(10.0, static_cast<double>(-digits));
        SetNumber(Value, std::isfinite(scale) ? RoundBy(x / scale, Mode) * scale : RoundBy(0.0 * x, Mode));
      }
      break;
    }
    default:
      RaiseHDB(Errors::UnknownOperator, OperatorText(Operator));
  }
  return Value;
}

// ---- String functions ---------------------------------------------------------------

std::uint8_t THDBExprNodeStringFunction::ResultType() const {
  switch (Operator) {
    case opLength:
    case opPos:
      return btInteger;
    default: {
      const std::uint8_t t = ChildCount() ? Child(0).ResultType() : 0;
      return IsWideType(t) ? btWideString : btString;
    }
  }
}

const THDBExprValue& THDBExprNodeStringFunction::Evaluate() {
  switch (Operator) {
    case opConcat: {
      // The first operand as a text; the others are added to it.
      const THDBExprValue& first = Child(0).Evaluate();
      if (first.IsNull()) {
        Value.SetNull(IsWideType(first.Type()) ? btWideString : btString);
      } else if (first.IsText()) {
        Value.Assign(first);
      } else {
        std::string& s = scratch_.OwnedText();
        s.clear();
        AppendText(first, s);
        Value.SetText(s);
      }
      for (std::size_t i = 1; i < ChildCount(); ++i) AddValue(Value, Child(i).Evaluate(), scratch_);
      return Value;
    }
    case opLength: {
      const THDBExprValue& a = Child(0).Evaluate();
      if (a.IsNull()) {
        Value.SetInteger(0);
      } else if (a.IsText()) {
        Value.SetInteger(static_cast<std::int64_t>(a.Length()));
      } else {
        std::string& s = scratch_.OwnedText();
        s.clear();
        AppendText(a, s);
        Value.SetInteger(static_cast<std::int64_t>(s.size()));
      }
      return Value;
    }
    case opPos: {
      const THDBExprValue& needle = Child(0).Evaluate();
      const THDBExprValue& hay = Child(1).Evaluate();
      if (needle.IsNull() || hay.IsNull()) {
        Value.SetNull(btInteger);
        return Value;
      }
      std::u16string n, h;
      AppendWide(needle, n);
      AppendWide(hay, h);
      const std::size_t at = h.find(n);
      Value.SetInteger(at == std::u16string::npos ? 0 : static_cast<std::int64_t>(at) + 1);
      return Value;
    }
    default:
      break;
  }
  const THDBExprValue& a = Child(0).Evaluate();
  if (a.IsNull()) {
    Value.SetNull(IsWideType(a.Type()) ? btWideString : btString);
    return Value;
  }
  std::int64_t start = 1, count = 0;
  bool hasCount = false;
  if (Operator == opSubstring) {
    const THDBExprValue& s = Child(1).Evaluate();
    if (s.IsNull()) {
      Value.SetNull(btString);
      return Value;
    }
    start = SaturatedInt64(NumberOf(s, "SUBSTRING"));
    if (ChildCount() > 2) {
      const THDBExprValue& c = Child(2).Evaluate();
      if (c.IsNull()) {
        Value.SetNull(btString);
        return Value;
      }
      hasCount = true;
      count = SaturatedInt64(NumberOf(c, "SUBSTRING"));
    }
  }
  auto apply = [&](auto& s) {
    switch (Operator) {
      case opUpper: MapCase(s, true); break;
      case opLower: MapCase(s, false); break;
      case opTrim: TrimText(s, true, true); break;
      case opLTrim: TrimText(s, true, false); break;
      case opRTrim: TrimText(s, false, true); break;
      case opSubstring: Substring(s, start, hasCount, count); break;
      default: RaiseHDB(Errors::UnknownOperator, OperatorText(Operator));
    }
  };
  if (a.IsWideText()) {
    std::u16string& w = scratch_.OwnedWide();
    w.clear();
    AppendWide(a, w);
    apply(w);
    Value.SetWideText(w);
  } else {
    std::string& s = scratch_.OwnedText();
    s.clear();
    AppendText(a, s);
    apply(s);
    Value.SetText(s);
  }
  return Value;
}

// ---- Date functions -----------------------------------------------------------------

std::uint8_t THDBExprNodeDateFunction::ResultType() const {
  switch (Operator) {
    case opCurrentDate: return btDate;
    case opCurrentTime: return btTime;
    case opToString: return btString;
    case opExtract: return btInteger;
    default: return btDateTime;
  }
}

const THDBExprValue& THDBExprNodeDateFunction::Evaluate() {
  switch (Operator) {
    case opCurrentTimestamp:
    case opCurrentDate:
    case opCurrentTime: {
      const platform::LocalDateTime now = platform::NowLocal();
      const std::int32_t day = EncodeDayNumber(now.Year, now.Month, now.Day);
      const std::int32_t ms = EncodeTimeMs(now.Hour, now.Minute, now.Second, now.Millisecond);
      if (Operator == opCurrentDate) Value.SetDate(day);
      else if (Operator == opCurrentTime) Value.SetTime(ms);
      else Value.SetDateTime(day, ms);
      return Value;
    }
    default:
      break;
  }
  const THDBExprValue& v = Child(0).Evaluate();
  const THDBExprValue* format = nullptr;
  if (ChildCount() > 1) format = &Child(1).Evaluate();
  if (v.IsNull() || (format && format->IsNull())) {
    Value.SetNull(ResultType());
    return Value;
  }
  std::string formatText;
  if (format) AppendText(*format, formatText);
  switch (Operator) {
    case opToDate: {
      if (format && v.IsText()) {
        std::string text;
        AppendText(v, text);
        THDBTimeStamp stamp;
        if (!ParseDateTimeBy(formatText, text, stamp)) RaiseHDB(Errors::InvalidDateTimeText, text);
        Value.SetDateTime(stamp.Date, stamp.Time);
      } else {
        SetTotalMs(Value, btDateTime, TotalMs(v));
      }
      return Value;
    }
    case opToString: {
      std::string& s = Value.OwnedText();
      s.clear();
      if (format && IsDateType(v.Type())) {
        const std::int64_t total = TotalMs(v);
        const std::int64_t days = FloorDiv(total, MSecsPerDay);
        s = FormatDateTimeBy(formatText,
                             {static_cast<std::int32_t>(days + DateDelta), static_cast<std::int32_t>(total - days * MSecsPerDay)});
      } else if (format && IsNumericBaseType(v.Type())) {
        // The digits after the format's decimal point give the decimals.
        const std::size_t dot = formatText.find('.');
        const int decimals = dot == std::string::npos ? 0 : static_cast<int>(formatText.size() - dot - 1);
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*f", decimals, v.AsDouble());
        s = buf;
      } else {
        AppendText(v, s);
      }
      Value.SetOwnedLength(btString, s.size());
      return Value;
    }
    case opExtract: {
      const std::int64_t total = TotalMs(v);
      const std::int64_t days = FloorDiv(total, MSecsPerDay);
      const std::int64_t ms = total - days * MSecsPerDay;
      int year, month, day;
      DecodeDayNumber(static_cast<std::int32_t>(days + DateDelta), year, month, day);
      static constexpr std::uint16_t Year = Keyword("YEAR"), Month = Keyword("MONTH"), Day = Keyword("DAY"),
                                     Hour = Keyword("HOUR"), Minute = Keyword("MINUTE");
      std::int64_t part;
      if (Part == Year) part = year;
      else if (Part == Month) part = month;
      else if (Part == Day) part = day;
      else if (Part == Hour) part = ms / 3600000;
      else if (Part == Minute) part = ms / 60000 % 60;
      else part = ms / 1000 % 60;
      Value.SetInteger(part);
      return Value;
    }
    default:
      RaiseHDB(Errors::UnknownOperator, OperatorText(Operator));
  }
}

// ---- CAST, CASE, MIMETOBIN ----------------------------------------------------------

const THDBExprValue& THDBExprNodeCast::Evaluate() {
  const THDBExprValue& v = Child(0).Evaluate();
  if (v.IsNull()) {
    Value.SetNull(TargetBase);
    return Value;
  }
  if (IsWideType(TargetBase)) {
    std::u16string& w = Value.OwnedWide();
    w.clear();
    AppendWide(v, w);
    if (TargetSize > 0 && w.size() > static_cast<std::size_t>(TargetSize)) w.resize(static_cast<std::size_t>(TargetSize));
    Value.SetWideText(w, TargetBase);
  } else if (IsNarrowType(TargetBase)) {
    std::string& s = Value.OwnedText();
    s.clear();
    AppendText(v, s);
    if (TargetSize > 0 && s.size() > static_cast<std::size_t>(TargetSize)) s.resize(static_cast<std::size_t>(TargetSize));
    Value.SetOwnedLength(TargetBase, s.size());
  } else if (TargetBase == btBlob) {
    std::string s;
    AppendText(v, s);
    Value.SetBytes(btBlob, reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  } else if (v.IsWideText()) {
    std::string s;
    AppendText(v, s);
    ConvertValue(s.c_str(), btString, TargetBase, converted_);
    Value.SetMemoryForm(TargetBase, converted_.Data(), converted_.Size());
  } else {
    ConvertValue(v.Data(), v.Type(), TargetBase, converted_);
    Value.SetMemoryForm(TargetBase, converted_.Data(), converted_.Size());
  }
  return Value;
}

const THDBExprValue& THDBExprNodeCase::Evaluate() {
  std::size_t i = 0;
  const THDBExprValue* operand = nullptr;
  if (HasOperand) {
    operand = &Child(0).Evaluate();
    i = 1;
  }
  const std::size_t pairsEnd = ChildCount() - (HasElse ? 1 : 0);
  for (; i + 1 < pairsEnd; i += 2) {
    const bool hit = HasOperand ? !operand->IsNull() && CompareExprValues(*operand, Child(i).Evaluate(), CaseInsensitive,
                                                                          -1) == THDBCompareOutcome::Equal
                                : Child(i).Test() == THDBTruth::True;
    if (hit) {
      Value.Assign(Child(i + 1).Evaluate());
      return Value;
    }
  }
  if (HasElse) Value.Assign(Child(ChildCount() - 1).Evaluate());
  else Value.SetNull(0);
  return Value;
}

const THDBExprValue& THDBExprNodeBlob::Evaluate() {
  const THDBExprValue& v = Child(0).Evaluate();
  if (v.IsNull()) {
    Value.SetNull(btBlob);
    return Value;
  }
  std::string text;
  AppendText(v, text);
  std::vector<std::uint8_t> bytes;
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    const int d = Base64Digit(c);
    if (d < 0) continue;  // line breaks and blanks of MIME text
    bits = (bits << 6) | static_cast<std::uint32_t>(d);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes.push_back(static_cast<std::uint8_t>(bits >> count));
      bits &= (1u << count) - 1;
    }
  }
  Value.SetBytes(btBlob, bytes.data(), bytes.size());
  return Value;
}

}  // namespace hdb

namespace hdb {

// ---- Copies -------------------------------------------------------------------------

std::unique_ptr<THDBExprNode> THDBExprNode::CloneInto(std::unique_ptr<THDBExprNode> copy) const {
  copy->Operator = Operator;
  copy->Value.Assign(Value);
  copy->CaseInsensitive = CaseInsensitive;
  copy->PartialCompare = PartialCompare;
  for (const auto& c : Children) copy->AddChild(c->Clone());
  return copy;
}

std::unique_ptr<THDBExprNode> THDBExprNodeConst::Clone() const {
  return CloneInto(std::make_unique<THDBExprNodeConst>());
}

std::unique_ptr<THDBExprNode> THDBExprNodeField::Clone() const {
  auto copy = std::make_unique<THDBExprNodeField>();
  copy->Cursor = Cursor;
  copy->TableQualifier = TableQualifier;
  copy->FieldName = FieldName;
  copy->Alias = Alias;
  copy->FieldNo = FieldNo;
  copy->DataOffset = DataOffset;
  copy->DeclaredType = DeclaredType;
  copy->BaseType = BaseType;
  copy->DataSize = DataSize;
  copy->OuterCursor = OuterCursor;
  return CloneInto(std::move(copy));
}

std::unique_ptr<THDBExprNode> THDBExprNodeComparison::Clone() const {
  auto copy = std::make_unique<THDBExprNodeComparison>(Operator);
  copy->NullAwareCompare = NullAwareCompare;
  copy->Quantifier = Quantifier;
  copy->PartialSide = PartialSide;
  return CloneInto(std::move(copy));
}

std::unique_ptr<THDBExprNode> THDBExprNodeBoolean::Clone() const {
  auto copy = std::make_unique<THDBExprNodeBoolean>(Operator);
  copy->EscapeChar = EscapeChar;
  return CloneInto(std::move(copy));
}

std::unique_ptr<THDBExprNode> THDBExprNodeArithmetic::Clone() const {
  auto copy = std::make_unique<THDBExprNodeArithmetic>(Operator);
  copy->Mode = Mode;
  return CloneInto(std::move(copy));
}

std::unique_ptr<THDBExprNode> THDBExprNodeStringFunction::Clone() const {
  return CloneInto(std::make_unique<THDBExprNodeStringFunction>(Operator));
}

std::unique_ptr<THDBExprNode> THDBExprNodeDateFunction::Clone() const {
  auto copy = std::make_unique<THDBExprNodeDateFunction>(Operator);
  copy->Part = Part;
  return CloneInto(std::move(copy));
}

std::unique_ptr<THDBExprNode> THDBExprNodeCast::Clone() const {
  auto copy = std::make_unique<THDBExprNodeCast>();
  copy->TargetDeclared = TargetDeclared;
  copy->TargetBase = TargetBase;
  copy->TargetSize = TargetSize;
  return CloneInto(std::move(copy));
}

std::unique_ptr<THDBExprNode> THDBExprNodeCase::Clone() const {
  auto copy = std::make_unique<THDBExprNodeCase>();
  copy->HasOperand = HasOperand;
  copy->HasElse = HasElse;
  return CloneInto(std::move(copy));
}

std::unique_ptr<THDBExprNode> THDBExprNodeBlob::Clone() const {
  return CloneInto(std::make_unique<THDBExprNodeBlob>());
}

}  // namespace hdb
