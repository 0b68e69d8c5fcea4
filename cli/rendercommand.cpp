// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/rendercommand.h"

#include "cli/commandline.h"
#include "core/batch/rangeparser.h"
#include "core/files/outputpaths.h"
#include "core/grid/mapreader.h"
#include "settings/appsettings.h"
#include "view/maplegend.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRect>

#include <algorithm>
#include <sys/stat.h>
#include <utility>
#include <variant>

RenderCommand::RenderCommand(CommandLine &commandLine)
    : m_cli(commandLine)
    , m_help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
             QStringLiteral("Shows this help."))
    , m_out(QStringLiteral("out"),
            QStringLiteral("The PNG file to write; with several maps, or when it is a folder, "
                           "the folder for NAME.png of every map (created if missing)."),
            QStringLiteral("FILE|DIR"))
    , m_width(QStringLiteral("width"),
              QStringLiteral("Width in pixels, 1..8192 (default: one pixel per map row up to "
                             "1024, or the height)."),
              QStringLiteral("W"))
    , m_height(QStringLiteral("height"),
               QStringLiteral("Height in pixels, 1..8192 (default: as the width)."),
               QStringLiteral("H"))
    , m_matrixValue(QStringLiteral("matrix-value"),
                    QStringLiteral("Code of the matrix cells, drawn white (default from "
                                   "config.txt, else 0)."),
                    QStringLiteral("N"))
    , m_rowsAsRows(QStringLiteral("rows-as-rows"),
                   QStringLiteral("Draws the first line of a map as the top row, as GIS tools "
                                  "show a grid, like the window's View > Rows as rows."))
    , m_legend(QStringLiteral("legend"),
               QStringLiteral("Adds a legend to the right of the map: every code with its "
                              "colour, and NoData."))
    , m_quiet(QStringLiteral("quiet"), QStringLiteral("No summary."))
{}

int RenderCommand::renderOne(const QString &mapPath, const QString &imagePath, qint32 matrixValue,
                             int width, int height, const PictureView &view, bool legend)
{
    LandscapeGrid grid;
    MapFileInfo info;
    const FileResult error = readMap(mapPath, grid, {}, &info);
    if (error)
        return m_cli.runFailure(QStringLiteral("cannot read %1").arg(error->message()));
    if (grid.isEmpty())
        return m_cli.runFailure(
            QStringLiteral("%1: no map rows in the file").arg(QDir::toNativeSeparators(mapPath)));

    QSize size = LandscapePicture::previewSize(grid.rowCount());
    if (width > 0 || height > 0)
        size = QSize(width > 0 ? width : height, height > 0 ? height : width);
    QImage image = LandscapePicture::preview(grid, matrixValue, size, view, info.noData);
    const QString shownImage = QDir::toNativeSeparators(imagePath);
    if (image.isNull())
        return m_cli.runFailure(QStringLiteral("%1: not enough memory for %2 x %3 pixels")
                                    .arg(shownImage)
                                    .arg(size.width())
                                    .arg(size.height()));
    if (legend) {
        const MapColours colours(MapCodes::of(grid, info.noData), matrixValue);
        auto withLegend = maplegend::withLegend(image, colours, matrixValue);
        if (const auto *failure = std::get_if<QString>(&withLegend))
            return m_cli.runFailure(QStringLiteral("%1: %2").arg(shownImage, *failure));
        image = std::get<QImage>(std::move(withLegend));
    }

    if (const FileResult error = LandscapePicture::saveImage(image, imagePath))
        return m_cli.runFailure(error->message());
    return CommandLine::Success;
}

std::optional<QString> RenderCommand::outputRefusal(const QStringList &maps,
                                                    const QStringList &images)
{
    // The same file under two names is the same device and inode.
    auto identity = [](const QString &path) -> std::optional<std::pair<dev_t, ino_t>> {
        struct stat info = {};
        if (::stat(QFile::encodeName(path).constData(), &info) != 0)
            return std::nullopt;
        return std::pair{info.st_dev, info.st_ino};
    };
    for (const QString &image : images) {
        const QString shown = QDir::toNativeSeparators(image);
        const QFileInfo info(image);
        if (info.exists() && !info.isFile())
            return QStringLiteral("%1 is not a regular file; previews are written only as PNG "
                                  "files, never into a folder, a device or a pipe")
                .arg(shown);
        const auto out = identity(image);
        if (!out)
            continue;
        for (const QString &map : maps) {
            if (identity(map) == out)
                return QStringLiteral("%1 is the map %2 itself; its preview would replace it")
                    .arg(shown, QDir::toNativeSeparators(map));
        }
    }
    return std::nullopt;
}

int RenderCommand::run(const QStringList &arguments)
{
    m_parser.setApplicationDescription(QStringLiteral(
        "Draws map files (plain, ESRI ASCII grids or GeoTIFF) as PNG previews the way\n"
        "the main window draws them: the first line of a map is the leftmost column\n"
        "(the top row with --rows-as-rows). A map of at most two codes is drawn\n"
        "with matrix cells white and all others black; a map of more codes gets\n"
        "a colour-blind-safe colour a code, in ascending order of code. Cells\n"
        "holding the file's NoData value are light grey. Maps are taken as\n"
        "square, with as many columns as rows; with --rows-as-rows the longest\n"
        "line sets the columns."));
    m_parser.addOption(m_help);
    m_parser.addOptions({m_out, m_width, m_height, m_matrixValue, m_rowsAsRows, m_legend, m_quiet});
    m_parser.addPositionalArgument(QStringLiteral("MAP"), QStringLiteral("Map files to draw."),
                                   QStringLiteral("MAP..."));
    if (const auto done = m_cli.parseArguments(
            m_parser, m_help, arguments,
            QStringLiteral("Usage: %1 render MAP... --out FILE.png [options]")))
        return *done;

    const QStringList maps = m_parser.positionalArguments();
    if (maps.isEmpty())
        return m_cli.usageError(QStringLiteral("no map file given"));
    if (!m_parser.isSet(m_out) || m_parser.value(m_out).trimmed().isEmpty())
        return m_cli.usageError(QStringLiteral("--out FILE.png is required"));

    // 0 stands for a side that was not given.
    auto side = [this](const QCommandLineOption &option, int &value) {
        if (!m_parser.isSet(option))
            return true;
        const auto parsed = parseInt(m_parser.value(option));
        if (!parsed || *parsed < 1 || *parsed > maximumSide)
            return false;
        value = *parsed;
        return true;
    };
    int width = 0;
    int height = 0;
    if (!side(m_width, width))
        return m_cli.usageError(
            QStringLiteral("--width must be a whole number between 1 and %1").arg(maximumSide));
    if (!side(m_height, height))
        return m_cli.usageError(
            QStringLiteral("--height must be a whole number between 1 and %1").arg(maximumSide));

    AppSettings settings;
    if (QFileInfo(defaultConfigFileName()).isFile() && !m_parser.isSet(m_matrixValue)) {
        ConfigSupply supply;
        loadConfig(settings, defaultConfigFileName(), &supply);
        if (const auto gaps = configGaps(supply, settings, {ConfigValue::MatrixValue}))
            m_cli.printErr(QStringLiteral("%1: warning: %2\n").arg(m_cli.program(), *gaps));
    }
    qint32 matrixValue = settings.matrixValue;
    if (m_parser.isSet(m_matrixValue)) {
        const auto parsed = parseInt(m_parser.value(m_matrixValue));
        if (!parsed)
            return m_cli.usageError(QStringLiteral("--matrix-value is not a whole number: '%1'")
                                        .arg(m_parser.value(m_matrixValue)));
        matrixValue = *parsed;
    }

    const QString out = m_parser.value(m_out);
    const bool intoFolder = maps.size() > 1 || QFileInfo(out).isDir() ||
                            out.endsWith(QLatin1Char('/')) || out.endsWith(QDir::separator());
    QStringList images;
    if (intoFolder) {
        // Two maps of the same name from different folders would silently
        // leave one preview; that is refused before anything is drawn.
        QHash<QString, QString> mapOfImage;
        for (const QString &map : maps) {
            const QString image =
                QDir(out).filePath(QFileInfo(map).completeBaseName() + QStringLiteral(".png"));
            if (mapOfImage.contains(image))
                return m_cli.usageError(
                    QStringLiteral("%1 and %2 would both be drawn to %3")
                        .arg(mapOfImage.value(image), map, QDir::toNativeSeparators(image)));
            mapOfImage.insert(image, map);
            images.append(image);
        }
        if (const auto refusal = prepareOutputFolder(out))
            return m_cli.runFailure(*refusal);
    } else {
        if (const auto refusal = LandscapePicture::imageFormatRefusal(out))
            return m_cli.usageError(*refusal);
        images.append(out);
    }

    if (const auto refusal = outputRefusal(maps, images))
        return m_cli.usageError(*refusal);

    // Every map is tried, so that one bad file in a long list does not cost
    // the previews of the others; the status still reports it.
    int status = CommandLine::Success;
    int written = 0;
    PictureView view;
    view.rowsAsRows = m_parser.isSet(m_rowsAsRows);
    for (qsizetype i = 0; i < maps.size(); ++i) {
        if (renderOne(maps.at(i), images.at(i), matrixValue, width, height, view,
                      m_parser.isSet(m_legend)) == CommandLine::Success)
            ++written;
        else
            status = CommandLine::RunFailed;
    }
    if (!m_parser.isSet(m_quiet) && written > 0)
        m_cli.printOut(
            intoFolder
                ? QStringLiteral("%1 previews written to %2\n")
                      .arg(written)
                      .arg(QDir::toNativeSeparators(out))
                : QStringLiteral("preview written to %1\n").arg(QDir::toNativeSeparators(out)));
    return status;
}
