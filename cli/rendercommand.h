#pragma once

#include "core/landscapegrid.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QImage>
#include <QSize>
#include <QStringList>

#include <cstddef>
#include <optional>

class CommandLine;

// The `render` command: draws map files as PNG previews, the way the main
// window draws them in its drawing area, without a display.
class RenderCommand final {
public:
    // Previews are one pixel per cell up to this many pixels per side.
    static constexpr int defaultMaximumSide = 1024;
    static constexpr int maximumSide = 8192;

    explicit RenderCommand(CommandLine &commandLine);

    int run(const QStringList &arguments);

    // The size of a preview when none is asked for. The window takes every
    // map as square with as many columns as it has rows, so the row count
    // alone decides.
    static QSize defaultSize(std::size_t rowCount);

    // What the window shows in a drawing area of `size` pixels, cell edges
    // and truncation included: white where a cell holds the matrix code,
    // black everywhere else, including the pixels no cell reaches.
    static QImage preview(const LandscapeGrid &grid, qint32 matrixValue, QSize size);

private:
    // Why the previews must not be written where asked: over a map that is
    // to be drawn, or into something that is not a regular file.
    static std::optional<QString> outputRefusal(const QStringList &maps, const QStringList &images);
    int renderOne(const QString &mapPath, const QString &imagePath, qint32 matrixValue, int width,
                  int height);

    CommandLine &m_cli;
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    QCommandLineOption m_out;
    QCommandLineOption m_width;
    QCommandLineOption m_height;
    QCommandLineOption m_matrixValue;
    QCommandLineOption m_quiet;
};
