// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/maplegend.h"

#include <QCoreApplication>
#include <QFile>
#include <QPainter>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int fontPixels = 12;
constexpr int lineHeight = 18;
constexpr int swatchSide = 12;
constexpr int margin = 8;
constexpr int labelGap = 5;
constexpr int columnGap = 14;
// A small preview still gets a legend this many entries tall, so that its
// text is not squeezed into many narrow columns.
constexpr int leastRows = 8;

QString tr(const char *text)
{
    return QCoreApplication::translate("MapLegend", text);
}

// One face of the font fontconfig finds for sans-serif, at fontPixels.
class Face final {
public:
    Face() = default;
    Q_DISABLE_COPY_MOVE(Face)
    ~Face()
    {
        if (m_face)
            FT_Done_Face(m_face);
        if (m_library)
            FT_Done_FreeType(m_library);
    }

    // Why no font could be loaded, or an empty string.
    QString open()
    {
        const QByteArray file = fontFile();
        if (file.isEmpty())
            return tr("no font for the legend: fontconfig finds none for sans-serif (install "
                      "fonts-dejavu-core)");
        if (FT_Init_FreeType(&m_library) != 0)
            return tr("no font for the legend: FreeType could not start");
        if (FT_New_Face(m_library, file.constData(), 0, &m_face) != 0 ||
            FT_Set_Pixel_Sizes(m_face, 0, fontPixels) != 0)
            return tr("no font for the legend: %1 could not be loaded")
                .arg(QFile::decodeName(file));
        return {};
    }

    int width(const QString &text)
    {
        int advance = 0;
        for (const QChar c : text)
            if (FT_Load_Char(m_face, c.unicode(), FT_LOAD_DEFAULT) == 0)
                advance += int(m_face->glyph->advance.x >> 6);
        return advance;
    }

    // Writes `text` in black on `image`, which is white there, its baseline
    // at `y`. Glyphs are grey levels of coverage, blended accordingly.
    void draw(QImage &image, int x, int y, const QString &text)
    {
        for (const QChar c : text) {
            if (FT_Load_Char(m_face, c.unicode(), FT_LOAD_RENDER) != 0)
                continue;
            const FT_GlyphSlot glyph = m_face->glyph;
            const FT_Bitmap &bitmap = glyph->bitmap;
            for (unsigned row = 0; row < bitmap.rows; ++row) {
                const int py = y - glyph->bitmap_top + int(row);
                if (py < 0 || py >= image.height())
                    continue;
                auto *line = reinterpret_cast<QRgb *>(image.scanLine(py));
                for (unsigned column = 0; column < bitmap.width; ++column) {
                    const int px = x + glyph->bitmap_left + int(column);
                    if (px < 0 || px >= image.width())
                        continue;
                    const int coverage = bitmap.buffer[row * unsigned(bitmap.pitch) + column];
                    const int level = qGray(line[px]) * (255 - coverage) / 255;
                    line[px] = qRgb(level, level, level);
                }
            }
            x += int(glyph->advance.x >> 6);
        }
    }

    int ascent() const { return int(m_face->size->metrics.ascender >> 6); }

private:
    static QByteArray fontFile()
    {
        FcConfig *config = FcInitLoadConfigAndFonts();
        if (!config)
            return {};
        QByteArray file;
        FcPattern *pattern = FcNameParse(reinterpret_cast<const FcChar8 *>("sans-serif"));
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        if (FcPattern *match = FcFontMatch(config, pattern, &result)) {
            FcChar8 *name = nullptr;
            if (FcPatternGetString(match, FC_FILE, 0, &name) == FcResultMatch)
                file = reinterpret_cast<const char *>(name);
            FcPatternDestroy(match);
        }
        FcPatternDestroy(pattern);
        FcConfigDestroy(config);
        return file;
    }

    FT_Library m_library = nullptr;
    FT_Face m_face = nullptr;
};

} // namespace

namespace maplegend {

QString label(const MapColours::LegendEntry &entry, const MapColours &colours, qint32 matrixValue)
{
    if (!entry.code)
        return tr("NoData");
    const QString code = QString::number(*entry.code);
    if (!colours.twoClass())
        return code;
    return *entry.code == matrixValue ? tr("%1 matrix").arg(code) : tr("%1 habitat").arg(code);
}

QString tooManyText()
{
    return tr("more than %1 codes, coloured by code modulo %1").arg(MapCodes::maximumClasses);
}

std::variant<QImage, QString> withLegend(const QImage &preview, const MapColours &colours,
                                         qint32 matrixValue)
{
    Face face;
    if (const QString failure = face.open(); !failure.isEmpty())
        return failure;

    struct Line {
        std::optional<QRgb> swatch;
        QString text;
    };
    std::vector<Line> lines;
    for (const MapColours::LegendEntry &entry : colours.legend())
        lines.push_back({entry.colour, label(entry, colours, matrixValue)});
    if (colours.tooManyToList())
        lines.insert(lines.begin(), Line{std::nullopt, tooManyText()});

    const int count = int(lines.size());
    const int height =
        std::max(preview.height(), 2 * margin + lineHeight * std::min(count, leastRows));
    const int rowsPerColumn = std::max(1, (height - 2 * margin) / lineHeight);
    const int columns = (count + rowsPerColumn - 1) / rowsPerColumn;
    int textWidth = 0;
    for (const Line &line : lines)
        textWidth = std::max(textWidth, face.width(line.text));
    const int columnWidth = swatchSide + labelGap + textWidth + columnGap;
    const int panelWidth = margin + columns * columnWidth;

    QImage image(preview.width() + panelWidth, height, QImage::Format_RGB32);
    if (image.isNull())
        return tr("not enough memory for the legend");
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.drawImage(0, 0, preview);
        painter.setPen(Qt::gray);
        for (int i = 0; i < count; ++i) {
            if (!lines[std::size_t(i)].swatch)
                continue;
            const int x = preview.width() + margin + (i / rowsPerColumn) * columnWidth;
            const int y = margin + (i % rowsPerColumn) * lineHeight;
            const QRect swatch(x, y, swatchSide, swatchSide);
            painter.fillRect(swatch, QColor(*lines[std::size_t(i)].swatch));
            painter.drawRect(swatch.adjusted(0, 0, -1, -1));
        }
    }
    // The swatch's middle and the text's middle line up.
    const int baseline = (swatchSide + face.ascent()) / 2 - 1;
    for (int i = 0; i < count; ++i) {
        const Line &line = lines[std::size_t(i)];
        const int x = preview.width() + margin + (i / rowsPerColumn) * columnWidth +
                      (line.swatch ? swatchSide + labelGap : 0);
        face.draw(image, x, margin + (i % rowsPerColumn) * lineHeight + baseline, line.text);
    }
    return image;
}

} // namespace maplegend
