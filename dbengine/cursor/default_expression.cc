#include "dbengine/cursor/default_expression.h"

#include <memory>
#include <string>

#include "dbengine/cursor/expression.h"
#include "dbengine/platform/codepage.h"
#include "dbengine/storage/byte_layout.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/field_defs.h"

namespace hdb {

namespace {

class THDBFieldDefaultExpression final : public THDBDefaultExpression {
 public:
  explicit THDBFieldDefaultExpression(std::unique_ptr<THDBExpression> e) : expression_(std::move(e)) {}
  void Evaluate(THDBVariant& result) override { expression_->Evaluate(nullptr).ToVariant(result); }

 private:
  std::unique_ptr<THDBExpression> expression_;
};

// Numbers and arithmetic only: for a text field such a default ("2020-01-01", "10/20")
// is the text the user wrote, not a sum or a quotient.
bool OnlyNumbers(const THDBExprNode& n) {
  if (n.Kind() == THDBExprNodeKind::Const) return IsNumericBaseType(n.Value.Type());
  if (n.Kind() != THDBExprNodeKind::Arithmetic) return false;
  if (n.Operator != opAdd && n.Operator != opSubtract && n.Operator != opMultiply && n.Operator != opDivide)
    return false;
  for (const auto& c : n.Children)
    if (!OnlyNumbers(*c)) return false;
  return true;
}

std::string TextOf(const THDBVariant& v) {
  if (IsWideStringBaseType(v.ValueType()) || v.ValueType() == btWideMemo) {
    std::u16string units;
    for (std::size_t i = 0; 2 * i + 1 < v.Size(); ++i) {
      const char16_t u = le::Load<std::uint16_t>(v.Data(), 2 * i);
      if (u == 0) break;
      units.push_back(u);
    }
    return platform::Utf16ToWin1252(units);
  }
  return v.AsString();
}

std::unique_ptr<THDBDefaultExpression> BuildDefaultExpression(const THDBFieldDef& field) {
  const std::string text = TextOf(field.DefaultValue);
  auto e = std::make_unique<THDBExpression>(nullptr);
  try {
    e->ParseValue(text);
    if (IsStringBaseType(field.BaseType) && OnlyNumbers(*e->Root())) return nullptr;
    THDBVariant value;
    e->Evaluate(nullptr).ToVariant(value);
    // A default whose value reads as its own text is a constant.
    if (!value.IsNull() && (value.ValueType() == btString || value.ValueType() == btFixedChar) &&
        value.AsString() == text)
      return nullptr;
    if (!value.IsNull() && !IsStringBaseType(value.ValueType()) && value.ValueType() != btMemo) {
      THDBValueBuffer asText;
      ConvertValue(value.Data(), value.ValueType(), btString, asText);
      if (std::string(reinterpret_cast<const char*>(asText.Data())) == text) return nullptr;
    }
  } catch (const EHDBException&) {
    return nullptr;
  }
  return std::make_unique<THDBFieldDefaultExpression>(std::move(e));
}

}  // namespace

void RegisterDefaultExpressions() { SetDefaultExpressionBuilder(&BuildDefaultExpression); }

}  // namespace hdb
