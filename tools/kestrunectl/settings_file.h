// The port name the window stores, read without Qt. The command line reads the settings file
// but never creates or writes it.
#pragma once

#include <string>

namespace kestrune::ctl {

// The port used when the settings file names none that can be used.
inline constexpr char kDefaultStoredPort[] = "COM3:";

// $XDG_CONFIG_HOME/Quenterra/Kestrune.conf, else ~/.config/Quenterra/Kestrune.conf; empty when
// neither can be told.
std::string settingsFilePath();
// The settings file as messages name it: its path, or "the settings file" when that cannot be
// told.
std::string settingsFileShown();

// The Port value of the [General] section, as the window stores it (Port=COM3:). A file that is
// missing, not a regular file, larger than 64 KiB or anything but plain key=value lines, or a
// value that is quoted, escaped, a list, not printable ASCII, or neither a short name nor a path
// that leads to a terminal device under /dev (see storablePortName), gives the default.
std::string storedPortName(const std::string& path);

}  // namespace kestrune::ctl
