#include "dbengine/components/database_error.h"

#include "dbengine/storage/hdb_exception.h"

namespace hdb {

const char* ExceptionClassName(const std::exception& error) noexcept {
  if (const auto* e = dynamic_cast<const EDatabaseError*>(&error)) return e->ClassName();
  if (dynamic_cast<const EHDBException*>(&error)) return "EHDBException";
  return "Exception";
}

}  // namespace hdb
