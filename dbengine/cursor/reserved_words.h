// The reserved words of the filter and statement language, in keyword-number order
// (a keyword token's number is its index here), and the compile-time lookup the
// parser names keywords with. Constant data; thread-safe.
#pragma once

#include <cstdint>
#include <string_view>

namespace hdb {

inline constexpr std::string_view ReservedWords[] = {
    "ACTION", "ADD", "ALL", "ALLOCATE", "ALTER", "AND", "ANY", "ARE",
    "AS", "ASC", "ASSERTION", "AT", "AUTHORIZATION", "AVG", "BEGIN", "BETWEEN",
    "BIT", "BIT_LENGTH", "BOTH", "BY", "CASCADE", "CASCADED", "CASE", "CAST",
    "CATALOG", "CHAR", "CHARACTER", "CHAR_LENGTH", "CHARACTER_LENGTH", "CHECK", "CLOSE", "COALESCE",
    "COLLATE", "COLLATION", "COLUMN", "COMMIT", "CONNECT", "CONNECTION", "CONSTRAINT", "CONSTRAINTS",
    "CONTINUE", "CONVERT", "CORRESPONDING", "COUNT", "CREATE", "CROSS", "CURRENT", "CURRENT_DATE",
    "CURRENT_TIME", "CURRENT_TIMESTAMP", "CURRENT_USER", "CURSOR", "DATE", "DAY", "DEALLOCATE", "DEC",
    "DECIMAL", "DECLARE", "DEFAULT", "DEFERRABLE", "DEFERRED", "DELETE", "DESC", "DESCRIBE",
    "DESCRIPTOR", "DIAGNOSTICS", "DISCONNECT", "DISTINCT", "DOMAIN", "DOUBLE", "DROP", "ELSE",
    "END", "END-EXEC", "ESCAPE", "EXCEPT", "EXCEPTION", "EXEC", "EXECUTE", "EXISTS",
    "EXTERNAL", "EXTRACT", "FALSE", "FETCH", "FIRST", "FLOAT", "FOR", "FOREIGN",
    "FOUND", "FROM", "FULL", "GET", "GLOBAL", "GO", "GOTO", "GRANT",
    "GROUP", "HAVING", "HOUR", "IDENTITY", "IMMEDIATE", "IN", "INDICATOR", "INITIALLY",
    "INNER", "INPUT", "INSENSITIVE", "INSERT", "INT", "INTEGER", "INTERSECT", "INTERVAL",
    "INTO", "IS", "ISOLATION", "JOIN", "KEY", "LANGUAGE", "LAST", "LEADING",
    "LEFT", "LEVEL", "LIKE", "LOCAL", "LOWER", "MATCH", "MAX", "MEMORY",
    "MIN", "MINUS", "MINUTE", "MODULE", "MONTH", "NAMES", "NATIONAL", "NATURAL",
    "NCHAR", "NEXT", "NO", "NOT", "NULL", "NULLIF", "NUMERIC", "OCTET_LENGTH",
    "OF", "ON", "ONLY", "OPEN", "OPTION", "OR", "ORDER", "OUTER",
    "OUTPUT", "OVERLAPS", "PAD", "PARTIAL", "POSITION", "PRECISION", "PREPARE", "PRESERVE",
    "PRIMARY", "PRIOR", "PRIVILEGES", "PROCEDURE", "PUBLIC", "READ", "REAL", "REFERENCES",
    "RELATIVE", "RESTRICT", "REVOKE", "RIGHT", "ROLLBACK", "ROWS", "SCHEMA", "SCROLL",
    "SECOND", "SECTION", "SELECT", "SESSION", "SESSION_USER", "SET", "SIZE", "SMALLINT",
    "SOME", "SPACE", "SQL", "SQLCODE", "SQLERROR", "SQLSTATE", "SUBSTRING", "SUM",
    "SYSTEM_USER", "TABLE", "TEMPORARY", "THEN", "TIME", "TIMESTAMP", "TIMEZONE_HOUR", "TIMEZONE_MINUTE",
    "TO", "TOP", "TRAILING", "TRANSACTION", "TRANSLATE", "TRANSLATION", "TRIM", "TRUE",
    "UNION", "UNIQUE", "UNKNOWN", "UPDATE", "UPPER", "USAGE", "USER", "USING",
    "VALUE", "VALUES", "VARCHAR", "VARYING", "VIEW", "WHEN", "WHENEVER", "WHERE",
    "WITH", "WORK", "WRITE", "YEAR", "ZONE", "PASSWORD", "BLOBBLOCKSIZE", "BLOBCOMPRESSIONMODE",
    "BLOBCOMPRESSIONALGORITHM", "LASTAUTOINC", "MODIFY", "NEW", "INDEX", "NOCASE", "LTRIM", "RTRIM",
    "POS", "LENGTH", "SYSDATE", "NOW", "TODATE", "TOSTRING", "AUTOINDEXES", "NOAUTOINDEXES",
    "INCREMENT", "LASTVALUE", "MAXVALUE", "MINVALUE", "CYCLED", "NOMAXVALUE", "NOMINVALUE", "NOCYCLED",
    "INITIALVALUE", "STARTVALUE", "RENAME", "START", "FLUSH", "AUTOINC", "MIMETOBIN", "ROWNUM",
    "IF", "TRUNCATE", "ABS", "ACOS", "ASIN", "ATAN", "CEIL", "COS",
    "EXP", "FLOOR", "LOG", "POWER", "RAND", "ROUND", "SIGN", "SIN",
    "SQR", "SQRT", "HALFEVEN", "HALFPOS", "HALFNEG", "HALFDOWN", "HALFUP", "RNDNEG",
    "RNDPOS", "RNDDOWN", "RNDUP",
};
static_assert(sizeof(ReservedWords) / sizeof(ReservedWords[0]) == 291);

// The keyword number of a reserved word (upper case); 291 when it is none.
constexpr std::uint16_t Keyword(std::string_view word) {
  for (std::uint16_t i = 0; i < 291; ++i)
    if (ReservedWords[i] == word) return i;
  return 291;
}

}  // namespace hdb
