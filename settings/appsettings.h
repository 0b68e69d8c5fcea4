#pragma once

#include "app/fileerror.h"

#include <QString>

// The six user settings kept between runs in "config.txt". The two codes
// start as the settings form's own initial values, which is what a user
// without a config file sees in the dialog anyway.
struct AppSettings {
    QString randomPrefix;
    QString randomPostString;
    QString fractalPrefix;
    QString fractalPostString;
    qint32 coverValue = 1;
    qint32 matrixValue = 0;

    friend bool operator==(const AppSettings &, const AppSettings &) = default;
};

inline QString defaultConfigFileName()
{
    return QStringLiteral("config.txt");
}

// Fills `settings` from the file, keeping the values of whatever the file
// does not supply. A missing or unreadable file is not an error: the
// application simply starts with what it has.
void loadConfig(AppSettings &settings, const QString &fileName = defaultConfigFileName());

// Rewrites the whole file. Written through a temporary file and renamed, so
// that a crash or a full disk never leaves a truncated config behind.
FileResult saveConfig(const AppSettings &settings,
                      const QString &fileName = defaultConfigFileName());
