// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

// Points every QSettings the process makes afterwards at INI files in a
// fresh temporary folder, so that a suite never reads or changes the user's
// own settings (folders, window geometry, view options) and starts from none.
// A suite holds one for its whole run and clears it before each test.
class ScratchSettings {
public:
    ScratchSettings()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Patchwright"));
        QCoreApplication::setApplicationName(QStringLiteral("Patchwright"));
        QSettings::setDefaultFormat(QSettings::IniFormat);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope,
                           QDir(m_dir.path()).filePath(QStringLiteral("system")));
    }

    // As at the very first start.
    void clear() { QSettings().clear(); }

private:
    QTemporaryDir m_dir;
};
