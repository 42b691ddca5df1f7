#include "dbengine/storage/page_header.h"

#include <cstring>

#include "dbengine/storage/hdb_exception.h"

namespace hdb {

const char* PageTypeName(std::uint16_t type) {
  static constexpr const char* names[] = {
      "Unknown Page",  "Empty Page",        "EAM Page",          "PFS Page",
      "FileSystemDirectory Page",           "ActiveSessionList Page",
      "TableList Page", "TableLocks Page",  "TableMetaData Page", "TableMostUpdated Page",
      "TableRecord Page", "TableBlob Page", "TableIndex Page",
  };
  if (type >= std::size(names)) RaiseHDB(Errors::UnknownPageType, type);
  return names[type];
}

void InitPageHeader(void* buffer) {
  PageHeaderLayout::Signature::Set(buffer, PageSignature);
  PageHeaderLayout::PageVersion::Set(buffer, 0);
  PageHeaderLayout::PageType::Set(buffer, ptUnknown);
  PageHeaderLayout::NextPageNo::Set(buffer, -1);
  PageHeaderLayout::DataCRC::Set(buffer, 0);
  PageHeaderLayout::Reserved18::Fill(buffer, 0);
  PageHeaderLayout::CipherType::Set(buffer, 0);
  PageHeaderLayout::Reserved21::Set(buffer, 0);
  PageHeaderLayout::OwnerTableID::Set(buffer, -1);
  PageHeaderLayout::Reserved26::Set(buffer, -1);
  PageHeaderLayout::Reserved30::Set(buffer, 0);
  PageHeaderLayout::Reserved32::Fill(buffer, 0);
}

}  // namespace hdb
