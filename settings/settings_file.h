// App.cfg, the file of the settings record in the program's folder: read once at start,
// written whenever the settings dialog applies. Both operations report any failure of
// the file layer in a message box (caption "Halvarin - " and the error's class name)
// and return; the program goes on with whatever the record then holds.
#pragma once

#include <string>

#include "headunit/dialogs.h"
#include "settings/app_settings.h"

namespace settings {

inline constexpr char SettingsFileName[] = "App.cfg";

// Reads the first 274 bytes of the file into the record. From a shorter file the bytes
// present are taken and the rest of the record keeps its previous content.
void ReadSettings(const std::string& path, TAppSettings& settings, headunit::TDialogs& dialogs);

// Creates or truncates the file and writes the 274 bytes of the record.
void WriteSettings(const std::string& path, const TAppSettings& settings, headunit::TDialogs& dialogs);

}  // namespace settings
