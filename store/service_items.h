// The maintenance items of a service record: one bit of SSTAT each (bits 0 to 13), with
// the caption the editor and the history tree show and the code under which the head
// unit knows the item. The codes are text because they are only ever spliced into job
// parameters.
#pragma once

#include <array>

namespace store {

struct TServiceItem {
  const char* caption;
  const char* code;  // ServiceItemCodes
};

// In bit order.
inline constexpr std::array<TServiceItem, 14> ServiceItems = {{
    {"Engine oil", "1"},
    {"Oil microfilter", "4"},
    {"Air cleaner element", "11"},
    {"Fuel filter", "12"},
    {"Spark/glow plugs", "10"},
    {"Front brake pads", "2"},
    {"Rear brake pads", "6"},
    {"Brake fluid", "3"},
    {"Recirculated air filter", "5"},
    {"Vehicle check", "100"},
    {"Vehicle inspection", "32"},
    {"Emission inspection", "33"},
    {"Pre-delivery inspection", "20"},
    {"Running-in check", "21"},
}};

}  // namespace store
