// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/fileerror.h"

#include <QList>
#include <QString>

#include <array>
#include <optional>

class QIODevice;

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

// The six values in the order the file holds them.
enum class ConfigValue {
    RandomPrefix,
    RandomPostString,
    FractalPrefix,
    FractalPostString,
    CoverValue,
    MatrixValue,
};

// Which values one reading of the file supplied: a file that ends early, or
// holds no whole number where a code belongs, leaves the rest as they were.
struct ConfigSupply {
    std::array<bool, 6> supplied{};
    // A text whose line holds a NUL is no text a user typed (a file saved
    // by a tool in UTF-16, or binary data): it is not taken, and its line
    // (from 1) is kept here to be named; 0 for the others.
    std::array<int, 6> lineWithNul{};
    bool has(ConfigValue value) const { return supplied[std::size_t(value)]; }
};

// A value as text (codes in decimal), set from text, and named as a message
// names it ("the habitat code").
QString configText(const AppSettings &settings, ConfigValue value);
void setConfigText(AppSettings &settings, ConfigValue value, const QString &text);
QString configValueName(ConfigValue value);

// Names the values among `wanted` that `supply` lacks, with what `settings`
// holds for each instead; nothing when the file supplied them all.
std::optional<QString> configGaps(const ConfigSupply &supply, const AppSettings &settings,
                                  const QList<ConfigValue> &wanted,
                                  const QString &fileName = defaultConfigFileName());

// Fills `settings` from the file, keeping the values of whatever the file
// does not supply. A missing file is not an error: the application simply
// starts with what it has. Only a regular file is read: a directory, a pipe
// or a device under that name, or a file that cannot be read, counts as
// missing, since opening a pipe without a writer would block and a device
// may never end; but unlike a missing file it is a problem the user should
// hear about, which the result says ("path: reason").
std::optional<QString> loadConfig(AppSettings &settings,
                                  const QString &fileName = defaultConfigFileName(),
                                  ConfigSupply *supply = nullptr);

// The same rules over a device that is already open for reading (or not
// open at all, which reads like a missing file). Reading takes time linear
// in the size of the data and memory bounded by the four texts, each of
// which keeps at most its first 64 KiB.
ConfigSupply readConfig(AppSettings &settings, QIODevice &device);

// Rewrites the whole file. Written through a temporary file and renamed, so
// that a crash or a full disk never leaves a truncated config behind.
FileResult saveConfig(const AppSettings &settings,
                      const QString &fileName = defaultConfigFileName());
