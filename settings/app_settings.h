// TAppSettings: the workshop's settings, one fixed 274-byte record kept in memory for
// the whole run and stored byte for byte in App.cfg. Each text is a length byte followed
// by its capacity of Windows-1252 characters; bytes beyond the length keep whatever an
// earlier, longer value left there, so a record read from a file is written back
// unchanged. A text ends at its length or at its first zero byte, whichever comes
// first; a length byte larger than the capacity (a damaged file) reads as the capacity.
// Flags are one byte each, any non-zero byte reads as on.
// Owned by the main window; used from the user-interface thread only.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "headunit/partner_data.h"

namespace settings {

inline constexpr std::size_t AppSettingsSize = 274;

enum class TSettingsText { Name, Telephone, Country, City, Street, AliasName, EMail, Url };
enum class TSettingsFlag { VerifyPartnerData, RebootAfterClean, RebootAfterEach, RebootAfterLast };

class TAppSettings {
 public:
  using TBytes = std::array<unsigned char, AppSettingsSize>;

  // Every text empty, every flag off.
  TAppSettings() { bytes_.fill(0); }

  static std::size_t Capacity(TSettingsText field);

  // The text in Windows-1252, without zero bytes.
  std::string Text(TSettingsText field) const;
  // Stores a Windows-1252 text cut to the field's capacity.
  void SetText(TSettingsText field, std::string_view text);
  bool Flag(TSettingsFlag flag) const;
  void SetFlag(TSettingsFlag flag, bool on);

  std::string Name() const { return Text(TSettingsText::Name); }
  std::string Telephone() const { return Text(TSettingsText::Telephone); }
  std::string Country() const { return Text(TSettingsText::Country); }
  std::string City() const { return Text(TSettingsText::City); }
  std::string Street() const { return Text(TSettingsText::Street); }
  std::string AliasName() const { return Text(TSettingsText::AliasName); }
  std::string EMail() const { return Text(TSettingsText::EMail); }
  std::string Url() const { return Text(TSettingsText::Url); }
  bool VerifyPartnerData() const { return Flag(TSettingsFlag::VerifyPartnerData); }
  bool RebootAfterClean() const { return Flag(TSettingsFlag::RebootAfterClean); }
  bool RebootAfterEach() const { return Flag(TSettingsFlag::RebootAfterEach); }
  bool RebootAfterLast() const { return Flag(TSettingsFlag::RebootAfterLast); }

  const TBytes& Bytes() const { return bytes_; }
  TBytes& Bytes() { return bytes_; }

 private:
  TBytes bytes_;
};

// The partner data the head unit receives from these settings.
headunit::TPartnerData PartnerDataOf(const TAppSettings& settings);

}  // namespace settings
