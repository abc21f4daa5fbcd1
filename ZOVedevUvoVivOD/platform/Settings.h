#pragma once

#include <QString>

namespace olbra {

/// The per-user settings file of an application: $XDG_CONFIG_HOME/<application>.ini, or
/// ~/.config/<application>.ini when the variable is unset or empty.
QString settingsFilePath(const QString &application);

/// The text of one setting, or the empty text when the file, the section or the key is missing.
/// Section and key names match without regard to case. Nothing is ever written.
QString GetSetting(const QString &application, const QString &section, const QString &key);

} // namespace olbra
