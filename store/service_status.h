// SSTAT, the packed status word of a service record: bits 0-13 one per maintenance item
// (service_items.h, set = carried out), bits 14-15 the service status 1 to 3 (0 = none
// chosen). SSTAT = status x 16384 + the sum of 2^bit over the items carried out.
//
// Constants and pure functions; thread-safe.
#pragma once

#include <array>
#include <cstdint>

namespace store {

enum TServiceStatus : std::uint16_t {
  StatusNone = 0,
  StatusCarriedOut = 1,
  StatusCarriedOutLate = 2,
  StatusOverdue = 3,
};

// The captions of statuses 1 to 3, in the editor's list order (position = status - 1).
inline constexpr std::array<const char*, 3> ServiceStatusCaptions = {
    "Service carried out", "Carried out late", "Overdue maintenance"};

inline constexpr int ServiceItemBits = 14;
inline constexpr std::uint16_t ServiceItemMask = (1u << ServiceItemBits) - 1;

constexpr std::uint16_t PackServiceStatus(std::uint16_t status, std::uint16_t items) {
  return static_cast<std::uint16_t>((status & 3u) << ServiceItemBits | (items & ServiceItemMask));
}
constexpr std::uint16_t StatusOf(std::uint16_t sstat) { return sstat >> ServiceItemBits; }
constexpr std::uint16_t ItemsOf(std::uint16_t sstat) { return sstat & ServiceItemMask; }
constexpr bool HasItem(std::uint16_t sstat, int bit) { return (sstat >> bit & 1u) != 0; }

// What the record editor lets a user store: a status of 1 to 3 and at least one item.
constexpr bool IsStorableStatus(std::uint16_t sstat) { return StatusOf(sstat) != StatusNone && ItemsOf(sstat) != 0; }

}  // namespace store
