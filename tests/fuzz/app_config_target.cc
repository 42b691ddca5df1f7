#include "app_config_target.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "dbengine/platform/codepage.h"
#include "headunit/partner_data.h"
#include "settings/app_settings.h"
#include "settings/settings_file.h"

namespace hdbfuzz {

namespace {

using settings::AppSettingsSize;
using settings::TAppSettings;
using settings::TSettingsFlag;
using settings::TSettingsText;

constexpr TSettingsText Texts[] = {TSettingsText::Name,   TSettingsText::Telephone, TSettingsText::Country,
                                   TSettingsText::City,   TSettingsText::Street,    TSettingsText::AliasName,
                                   TSettingsText::EMail,  TSettingsText::Url};
constexpr TSettingsFlag Flags[] = {TSettingsFlag::VerifyPartnerData, TSettingsFlag::RebootAfterClean,
                                   TSettingsFlag::RebootAfterEach, TSettingsFlag::RebootAfterLast};

// Counts the message boxes a read or a write shows.
struct CountingDialogs : headunit::TDialogs {
  void ShowMessage(const std::string&, const std::string&, headunit::TMessageIcon) override { ++shown; }
  headunit::TDialogAnswer Ask(const std::string&, const std::string&, headunit::TMessageIcon,
                              headunit::TDialogButtons) override {
    ++shown;
    return headunit::TDialogAnswer::Cancel;
  }
  int shown = 0;
};

void Require(bool rule, const char* what) {
  if (!rule) throw TargetFault(what);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Every text is within its capacity and holds no zero byte.
void CheckTexts(const TAppSettings& record) {
  for (TSettingsText field : Texts) {
    const std::string text = record.Text(field);
    Require(text.size() <= TAppSettings::Capacity(field), "a text is longer than its field");
    Require(text.find('\0') == std::string::npos, "a text holds a zero byte");
  }
}

}  // namespace

void ReadAppConfigFromBytes(const std::uint8_t* data, std::size_t size, const std::string& path) {
  WriteBytes(path, data, size);
  TAppSettings record;
  CountingDialogs dialogs;
  settings::ReadSettings(path, record, dialogs);
  // A file shorter than the record is a read error the user is told of, once; the bytes
  // it has are taken, the rest stays as it was (zero).
  Require(dialogs.shown == (size < AppSettingsSize ? 1 : 0), "a read reported the wrong number of errors");
  const std::size_t taken = std::min(size, AppSettingsSize);
  Require(std::memcmp(record.Bytes().data(), data, taken) == 0, "the record does not hold the file's bytes");
  Require(std::all_of(record.Bytes().begin() + static_cast<std::ptrdiff_t>(taken), record.Bytes().end(),
                      [](unsigned char b) { return b == 0; }),
          "bytes beyond a short file were changed");
  CheckTexts(record);
  for (TSettingsFlag flag : Flags) (void)record.Flag(flag);

  // What the head unit would receive from these settings.
  const headunit::TPartnerData partner = settings::PartnerDataOf(record);
  const std::string block = headunit::PartnerBlock(partner);
  Require(block.size() <= 161, "the partner block is longer than the fields allow");
  headunit::TelephoneNumbersParameter({record.Telephone(), record.Name(), record.City(), record.Url()},
                                      partner.Telephone);

  // The record written as read: the same bytes on disk.
  const std::string out = path + ".out";
  settings::WriteSettings(out, record, dialogs);
  Require(dialogs.shown == (size < AppSettingsSize ? 1 : 0), "a write of a readable record failed");
  const std::string written = ReadAll(out);
  Require(written.size() == AppSettingsSize &&
              std::memcmp(written.data(), record.Bytes().data(), AppSettingsSize) == 0,
          "the record was not written back byte for byte");

  // The settings dialog shows every text through UTF-16 and stores what it shows.
  TAppSettings edited = record;
  for (TSettingsText field : Texts) {
    const std::u16string shown = hdb::platform::Win1252ToUtf16(record.Text(field));
    const std::string stored = hdb::platform::Utf16ToWin1252(shown);
    edited.SetText(field, stored);
    const std::string again = edited.Text(field);
    Require(again.size() <= TAppSettings::Capacity(field), "a stored text is longer than its field");
    Require(again == stored.substr(0, std::min(stored.find('\0'), TAppSettings::Capacity(field))),
            "a stored text does not read back");
  }
  CheckTexts(edited);
  for (TSettingsFlag flag : Flags) {
    edited.SetFlag(flag, !record.Flag(flag));
    Require(edited.Flag(flag) == !record.Flag(flag), "a flag does not read back");
  }
  settings::WriteSettings(out, edited, dialogs);
  TAppSettings reread;
  settings::ReadSettings(out, reread, dialogs);
  Require(reread.Bytes() == edited.Bytes(), "an edited record does not read back from its file");
}

}  // namespace hdbfuzz
