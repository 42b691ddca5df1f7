// Field defaults given as expressions (CURRENT_DATE, 'A' || 'B', 2 * 8): the builder
// the field definitions call for a text default. It parses the text as a value
// expression without fields; when that works and the value, as text, differs from the
// text itself, the field owns the parsed expression and its default is computed each
// time it is applied. Otherwise the default stays the constant text.
//
// RegisterDefaultExpressions plugs the builder in, process-wide; the engine session
// calls it when it is created, before any table is opened. Thread-safe.
#pragma once

namespace hdb {

void RegisterDefaultExpressions();

}  // namespace hdb
