#pragma once

#include "barotermversion.h"

#include <QString>

// Identity of the program and its publisher.
namespace appinfo {

inline const char* const kVersion = BAROTERM_VERSION;
// Follows the version in the window and About titles; empty in this edition.
inline const char* const kTitleSuffix = "";
inline const char* const kSettingsOrganisation = "Kelvra";
inline const char* const kSettingsApplication = "Baroterm";
inline const char* const kRegistryPath = "HKEY_CURRENT_USER\\Software\\Kelvra\\Baroterm";

// The publisher's web presence (placeholders under a reserved example domain).
inline const char* const kWebHost = "www.example.com";
inline const char* const kWebDomain = "example.com";
inline const char* const kWebSite = "https://www.example.com/";
inline const char* const kCalibrationPage = "https://www.example.com/baroterm/calibration";
inline const char* const kPublisherLine = "Kelvra Instruments, 2013-2021";

} // namespace appinfo
