// The head unit's maintenance commands: the reset (also used after an erase and by the
// history transfer) and the erase of the unit's service history. Each initialises and
// ends the runtime itself and reports through the activity log only.
#pragma once

#include "headunit/head_unit_context.h"

namespace headunit {

// The first byte of the reset's "_RESPONSE" that acknowledges it.
inline constexpr unsigned char ResetAcknowledged = 0x51;

// Up to five resets until one is acknowledged; logs each failed try and the outcome.
void RebootHeadUnit(THeadUnitContext& context);

// Erases the head unit's service history (the local records stay), up to five tries,
// followed by a reset when rebootAfterClean is set and the erase succeeded.
void EraseServiceHistory(THeadUnitContext& context, bool rebootAfterClean);

}  // namespace headunit
