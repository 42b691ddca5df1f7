// Synchronisation of the service partner data and the service telephone numbers held
// in the head unit with the workshop's own settings. The settings values come in as a
// plain record so that this layer does not depend on the settings.
#pragma once

#include <string>

#include "headunit/head_unit_context.h"

namespace headunit {

// The workshop's partner data as the settings hold it (Windows-1252).
struct TPartnerData {
  std::string Name;
  std::string Telephone;
  std::string Country;
  std::string City;
  std::string Street;
};

// The service telephone numbers as the head unit reports them.
struct TTelephoneNumbers {
  std::string standby;     // STAT_NR_BEREITSCHAFTSDIENST
  std::string homeDealer;  // STAT_NR_HEIMATHAENDLER
  std::string passo;       // STAT_NR_PASSO
  std::string hotline;     // STAT_NR_HOTLINE
};

// The parameter of "steuern": the partner record 0xD0D5 with the fields at their
// current lengths, the name twice.
std::string PartnerBlock(const TPartnerData& partner);

// The parameter of "schreiben_telefonnummern": the unit's own numbers with the
// workshop's telephone in place of the home-dealer number.
std::string TelephoneNumbersParameter(const TTelephoneNumbers& numbers, const std::string& telephone);

// Compares the unit's partner name and telephone and its home-dealer number with the
// settings and, when they differ and the user agrees, writes the settings into the unit.
void SyncPartnerData(THeadUnitContext& context, const TPartnerData& partner);

}  // namespace headunit
