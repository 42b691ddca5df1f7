#include "settings/settings_file.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <optional>

#include "dbengine/platform/codepage.h"
#include "dbengine/platform/posix_file.h"

namespace settings {

namespace {

namespace platform = hdb::platform;

// A failure of the file layer: the error's class name and its text (Windows-1252).
struct TFileError {
  std::string className;
  std::string message;
};

std::string PathText(const std::string& path) { return platform::Utf8ToWin1252(path); }

TFileError OpenError(const std::string& path, int err) {
  return TFileError{"EFOpenError", "Cannot open file \"" + PathText(path) + "\". " +
                                       platform::Utf8ToWin1252(platform::SystemErrorText(err))};
}

std::optional<TFileError> ReadRecord(const std::string& path, TAppSettings& settings) {
  int err = 0;
  int fd = platform::OpenExisting(path, platform::OpenAccess::Read, err);
  if (fd == platform::InvalidHandle) return OpenError(path, err);
  std::array<unsigned char, AppSettingsSize> buffer{};
  std::size_t got = 0;
  const bool read = platform::ReadAt(fd, buffer.data(), buffer.size(), 0, got, err);
  int closeErr = 0;
  platform::CloseHandle(fd, closeErr);
  // A folder opens for reading but refuses the first read: it is no file to open, so
  // this is the open error, not a stream shorter than the record.
  if (!read && err == EISDIR) return OpenError(path, err);
  std::memcpy(settings.Bytes().data(), buffer.data(), got);
  if (!read || got < AppSettingsSize) return TFileError{"EReadError", "Stream read error"};
  return std::nullopt;
}

std::optional<TFileError> WriteRecord(const std::string& path, const TAppSettings& settings) {
  int err = 0;
  int fd = platform::CreateAlways(path, err);
  if (fd == platform::InvalidHandle)
    return TFileError{"EFCreateError", "Cannot create file \"" + PathText(path) + "\". " +
                                           platform::Utf8ToWin1252(platform::SystemErrorText(err))};
  bool written = platform::WriteAt(fd, settings.Bytes().data(), settings.Bytes().size(), 0, err);
  if (!platform::CloseHandle(fd, err)) written = false;
  if (!written) return TFileError{"EWriteError", "Stream write error"};
  return std::nullopt;
}

void Report(const TFileError& error, headunit::TDialogs& dialogs) {
  dialogs.ShowMessage(error.message, std::string(headunit::AppCaption) + " - " + error.className,
                      headunit::TMessageIcon::Error);
}

}  // namespace

void ReadSettings(const std::string& path, TAppSettings& settings, headunit::TDialogs& dialogs) {
  if (std::optional<TFileError> error = ReadRecord(path, settings)) Report(*error, dialogs);
}

void WriteSettings(const std::string& path, const TAppSettings& settings, headunit::TDialogs& dialogs) {
  if (std::optional<TFileError> error = WriteRecord(path, settings)) Report(*error, dialogs);
}

}  // namespace settings
