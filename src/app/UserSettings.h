#pragma once
#include <QSettings>

namespace trimora {

// The per-user application settings, kept under the application title "Trimora".
inline QSettings UserSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, "Trimora", "Trimora");
}

}  // namespace trimora
