// The per-user settings store: where the updater keeps what Windows would keep in the registry
// (the port number map, "PortOfMonitor", the interface language). It is an INI file in the
// user's configuration folder, "Selvane Works/Orvane Update.ini".
//
// Thread contract: each call opens its own QSettings object, which is reentrant; share none
// between threads. SetSettingsFolder must run before other threads use the store.
#pragma once

#include <memory>
#include <string>

class QSettings;

namespace orvane {

inline constexpr const char* kSettingsOrganization = "Selvane Works";
inline constexpr const char* kSettingsApplication = "Orvane Update";

// Opens the user's settings store.
std::unique_ptr<QSettings> OpenSettingsStore();

// Opens the store at an explicit file instead (tests, a portable installation).
std::unique_ptr<QSettings> OpenSettingsFile(const std::string& file);

// The folder that holds the user's store ("~/.config/Selvane Works"): the user's
// configuration folder for everything else the updater keeps (trusted keys, for one).
std::string SettingsFolder();

// Moves the user's store into another folder for the rest of the process (tests point it at a
// temporary folder).
void SetSettingsFolder(const std::string& folder);

} // namespace orvane
