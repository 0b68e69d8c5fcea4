// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "view/landscapepicture.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include <optional>

class CommandLine;

// The `render` command: draws map files as PNG previews, the way the main
// window draws them in its drawing area, without a display.
class RenderCommand final {
public:
    static constexpr int maximumSide = 8192;

    explicit RenderCommand(CommandLine &commandLine);

    int run(const QStringList &arguments);

private:
    // Why the previews must not be written where asked: over a map that is
    // to be drawn, or into something that is not a regular file.
    static std::optional<QString> outputRefusal(const QStringList &maps, const QStringList &images);
    int renderOne(const QString &mapPath, const QString &imagePath, qint32 matrixValue, int width,
                  int height, const PictureView &view, bool legend);

    CommandLine &m_cli;
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    QCommandLineOption m_out;
    QCommandLineOption m_width;
    QCommandLineOption m_height;
    QCommandLineOption m_matrixValue;
    QCommandLineOption m_rowsAsRows;
    QCommandLineOption m_legend;
    QCommandLineOption m_quiet;
};
