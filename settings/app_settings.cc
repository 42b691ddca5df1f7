#include "settings/app_settings.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "dbengine/storage/byte_layout.h"

namespace settings {

namespace {

namespace le = hdb::le;

// The record's layout: each text field is its length byte plus its capacity.
using NameField = le::Bytes<0, 31>;
using TelephoneField = le::Bytes<31, 13>;
using CountryField = le::Bytes<44, 21>;
using CityField = le::Bytes<65, 21>;
using StreetField = le::Bytes<86, 31>;
using AliasNameField = le::Bytes<117, 11>;
using EMailField = le::Bytes<128, 41>;
using UrlField = le::Bytes<169, 101>;
using VerifyPartnerDataField = le::Field<std::uint8_t, 270>;
using RebootAfterCleanField = le::Field<std::uint8_t, 271>;
using RebootAfterEachField = le::Field<std::uint8_t, 272>;
using RebootAfterLastField = le::Field<std::uint8_t, 273>;

static_assert(TelephoneField::offset == NameField::end && CountryField::offset == TelephoneField::end &&
              CityField::offset == CountryField::end && StreetField::offset == CityField::end &&
              AliasNameField::offset == StreetField::end && EMailField::offset == AliasNameField::end &&
              UrlField::offset == EMailField::end && VerifyPartnerDataField::offset == UrlField::end);
static_assert(RebootAfterLastField::end == AppSettingsSize);

struct TTextLayout {
  std::size_t offset;
  std::size_t capacity;
};

template <class F>
constexpr TTextLayout LayoutOf() {
  return {F::offset, F::size - 1};
}

TTextLayout TextLayout(TSettingsText field) {
  switch (field) {
    case TSettingsText::Name: return LayoutOf<NameField>();
    case TSettingsText::Telephone: return LayoutOf<TelephoneField>();
    case TSettingsText::Country: return LayoutOf<CountryField>();
    case TSettingsText::City: return LayoutOf<CityField>();
    case TSettingsText::Street: return LayoutOf<StreetField>();
    case TSettingsText::AliasName: return LayoutOf<AliasNameField>();
    case TSettingsText::EMail: return LayoutOf<EMailField>();
    case TSettingsText::Url: return LayoutOf<UrlField>();
  }
  assert(false);
  return {};
}

std::size_t FlagOffset(TSettingsFlag flag) {
  switch (flag) {
    case TSettingsFlag::VerifyPartnerData: return VerifyPartnerDataField::offset;
    case TSettingsFlag::RebootAfterClean: return RebootAfterCleanField::offset;
    case TSettingsFlag::RebootAfterEach: return RebootAfterEachField::offset;
    case TSettingsFlag::RebootAfterLast: return RebootAfterLastField::offset;
  }
  assert(false);
  return 0;
}

}  // namespace

std::size_t TAppSettings::Capacity(TSettingsText field) { return TextLayout(field).capacity; }

std::string TAppSettings::Text(TSettingsText field) const {
  const TTextLayout layout = TextLayout(field);
  const std::size_t length = std::min<std::size_t>(le::Load<std::uint8_t>(bytes_.data(), layout.offset), layout.capacity);
  const char* text = reinterpret_cast<const char*>(bytes_.data() + layout.offset + 1);
  // A zero byte within the length is the field's padding (a damaged length byte), never
  // part of the text: it would reach the dialog as an invisible character and the head
  // unit as a cut parameter.
  return std::string(text, std::find(text, text + length, '\0'));
}

void TAppSettings::SetText(TSettingsText field, std::string_view text) {
  const TTextLayout layout = TextLayout(field);
  const std::size_t length = std::min(text.size(), layout.capacity);
  le::Store<std::uint8_t>(bytes_.data(), layout.offset, static_cast<std::uint8_t>(length));
  std::memcpy(bytes_.data() + layout.offset + 1, text.data(), length);
}

bool TAppSettings::Flag(TSettingsFlag flag) const { return le::Load<std::uint8_t>(bytes_.data(), FlagOffset(flag)) != 0; }

void TAppSettings::SetFlag(TSettingsFlag flag, bool on) {
  le::Store<std::uint8_t>(bytes_.data(), FlagOffset(flag), on ? 1 : 0);
}

headunit::TPartnerData PartnerDataOf(const TAppSettings& settings) {
  return headunit::TPartnerData{settings.Name(), settings.Telephone(), settings.Country(), settings.City(),
                                settings.Street()};
}

}  // namespace settings
