#include "dbengine/components/engine_error.h"

namespace hdb {

EHDBEngineError::EHDBEngineError(std::int32_t errorCode, const std::string& text)
    : EDatabaseError("HDB Engine Error # " + std::to_string(errorCode) + " " + text), errorCode_(errorCode) {}

}  // namespace hdb
