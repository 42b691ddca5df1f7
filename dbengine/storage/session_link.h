// THDBSessionLink: what the database object needs of an engine session when the
// session attaches and detaches: its requests (exclusive, multi-user), its id, and a
// place for what the open found out. The engine session implements it.
#pragma once

#include <cstdint>

namespace hdb {

class THDBSessionLink {
 public:
  virtual ~THDBSessionLink() = default;
  virtual bool ExclusiveRequested() const = 0;
  virtual bool MultiUserRequested() const = 0;
  virtual std::int32_t SessionID() const = 0;
  virtual void SetSessionID(std::int32_t id) = 0;
  // Told by the first attach: whether the file needs repair, and the mode it opened in.
  virtual void SetOpenResult(bool needsRepair, bool multiUser) = 0;
  virtual bool InTransaction() const = 0;
};

}  // namespace hdb
