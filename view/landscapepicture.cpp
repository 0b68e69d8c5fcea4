// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/landscapepicture.h"

#include "core/files/writefully.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>
#include <QPen>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

namespace {

// Far beyond any screen, yet small enough that scaling a coordinate by the
// largest supported device scale and adding a cell extent cannot overflow.
constexpr double pixelLimit = 1 << 26;
constexpr int maximumScale = 4;

// Cell corners are products and sums in double precision truncated toward
// zero. Values beyond the limit cannot be on any device, and clamping them
// keeps the conversion defined for absurd frames.
int truncated(double value)
{
    return static_cast<int>(std::clamp(value, -pixelLimit, pixelLimit));
}

// Which cells cover each device pixel along one axis. Cell k starts at device
// pixel scale * trunc(k * cell + start) + offset and covers `extent` pixels
// from there. Starts never decrease with k, so the cells over a pixel form one
// run of indices; lo > hi marks a pixel that no cell reaches.
struct AxisCover {
    double start = 0;
    double cell = 0;
    int scale = 1;
    int offset = 0;
    int first = 0;
    std::vector<std::ptrdiff_t> lo;
    std::vector<std::ptrdiff_t> hi;

    int startOf(std::size_t k) const
    {
        return scale * truncated(double(k) * cell + start) + offset;
    }
    int size() const { return int(lo.size()); }
    bool covered(int u) const { return lo[std::size_t(u)] <= hi[std::size_t(u)]; }
};

AxisCover coverAxis(std::size_t n, double start, double cell, int scale, int offset, int extent,
                    int clipBegin, int clipEnd)
{
    AxisCover axis;
    axis.start = start;
    axis.cell = cell;
    axis.scale = scale;
    axis.offset = offset;
    const int begin = std::max(axis.startOf(0), clipBegin);
    const int end = std::min(axis.startOf(n - 1) + extent, clipEnd);
    if (end <= begin)
        return axis;

    axis.first = begin;
    axis.lo.resize(std::size_t(end - begin));
    axis.hi.resize(std::size_t(end - begin));

    // Two cursors sweep the cells once: `last` is the last cell starting at or
    // before the pixel, `firstOver` the first cell not yet ended before it.
    std::size_t last = 0;
    int lastStart = axis.startOf(0);
    int nextStart = n > 1 ? axis.startOf(1) : 0;
    std::size_t firstOver = 0;
    int firstOverStart = lastStart;
    for (int u = begin; u < end; ++u) {
        while (last + 1 < n && nextStart <= u) {
            ++last;
            lastStart = nextStart;
            nextStart = last + 1 < n ? axis.startOf(last + 1) : 0;
        }
        while (firstOver < n && firstOverStart + extent <= u) {
            ++firstOver;
            firstOverStart = firstOver < n ? axis.startOf(firstOver) : 0;
        }
        const std::size_t index = std::size_t(u - begin);
        if (lastStart <= u && firstOver <= last) {
            axis.lo[index] = std::ptrdiff_t(firstOver);
            axis.hi[index] = std::ptrdiff_t(last);
        } else {
            axis.lo[index] = 1;
            axis.hi[index] = 0;
        }
    }
    return axis;
}

// The grid and the cover of both axes, shared by the two passes below.
struct CellLayout {
    const LandscapeGrid &grid;
    std::size_t n;
    const MapColours &colours;
    const AxisCover &columns;
    const AxisCover &rows;

    // Positions past the end of a short row are not drawn, and those past
    // the number of rows never are.
    std::ptrdiff_t drawnLength(std::span<const qint32> row) const
    {
        return std::ptrdiff_t(std::min(row.size(), n));
    }
};

void paintColumns(QImage &image, const CellLayout &layout)
{
    auto *bits = reinterpret_cast<QRgb *>(image.bits());
    const qsizetype stride = image.bytesPerLine() / qsizetype(sizeof(QRgb));
    const AxisCover &columns = layout.columns;
    const AxisCover &rows = layout.rows;
    const int pixelRows = rows.size();

    for (int u = 0; u < columns.size(); ++u) {
        if (!columns.covered(u))
            continue;
        // Walking the grid rows over this pixel column from the last drawn
        // one back, each row claims the pixels that none after it reached.
        // A row of length L reaches the pixel rows whose first covering
        // position is below L, and those form a prefix of the column, so
        // the claimed part only ever grows downwards.
        int v = 0;
        for (std::ptrdiff_t k = columns.hi[std::size_t(u)];
             k >= columns.lo[std::size_t(u)] && v < pixelRows; --k) {
            const std::span<const qint32> row = layout.grid.row(std::size_t(k));
            const std::ptrdiff_t length = layout.drawnLength(row);
            QRgb *pixel = bits + u + v * stride;
            for (; v < pixelRows; ++v, pixel += stride) {
                if (!rows.covered(v))
                    continue;
                if (rows.lo[std::size_t(v)] >= length)
                    break;
                const std::ptrdiff_t i = std::min(rows.hi[std::size_t(v)], length - 1);
                *pixel = layout.colours(row[std::size_t(i)]);
            }
        }
    }
}

// An outline whose left edge lies two or more pixels left of the device is
// clipped before it is drawn, and the clipped bottom edge then loses its first
// pixel, the bottom right corner of the rectangle. Such corners can only fall
// in the device columns left of `cornerWidth` - 1, which are therefore worked
// out cell by cell. `cornerWidth` and `cornerHeight` are the distances from a
// rectangle's top left pixel to its bottom right one.
void repaintLostCorners(QImage &image, const CellLayout &layout, int cornerWidth, int cornerHeight)
{
    auto *bits = reinterpret_cast<QRgb *>(image.bits());
    const qsizetype stride = image.bytesPerLine() / qsizetype(sizeof(QRgb));
    const AxisCover &columns = layout.columns;
    const AxisCover &rows = layout.rows;

    for (int u = 0; u < columns.size() && columns.first + u <= cornerWidth - 2; ++u) {
        if (!columns.covered(u))
            continue;
        const int x = columns.first + u;
        QRgb *pixel = bits + u;
        for (int v = 0; v < rows.size(); ++v, pixel += stride) {
            if (!rows.covered(v))
                continue;
            const int y = rows.first + v;
            *pixel = 0;
            for (std::ptrdiff_t k = columns.hi[std::size_t(u)];
                 k >= columns.lo[std::size_t(u)] && *pixel == 0; --k) {
                const int left = columns.startOf(std::size_t(k));
                const bool cornerLost = left <= -2 && x == left + cornerWidth;
                const std::span<const qint32> row = layout.grid.row(std::size_t(k));
                for (std::ptrdiff_t i =
                         std::min(rows.hi[std::size_t(v)], layout.drawnLength(row) - 1);
                     i >= rows.lo[std::size_t(v)]; --i) {
                    if (cornerLost && y == rows.startOf(std::size_t(i)) + cornerHeight)
                        continue;
                    *pixel = layout.colours(row[std::size_t(i)]);
                    break;
                }
            }
        }
    }
}

// The map as another view than the default lays it out: how many cells
// across and down.
struct MapShape {
    std::size_t columns = 0;
    std::size_t rows = 0;
    bool isEmpty() const { return columns == 0 || rows == 0; }
};

MapShape shapeOf(const LandscapeGrid &grid, const PictureView &view)
{
    const std::size_t n = grid.rowCount();
    std::size_t longest = n;
    if (view.squareCells || view.rowsAsRows) {
        longest = 0;
        for (std::size_t r = 0; r < n; ++r)
            longest = std::max(longest, grid.row(r).size());
    }
    return view.rowsAsRows ? MapShape{longest, n} : MapShape{n, longest};
}

// Where the whole map lies before any zoom.
QRectF fitRect(const QRectF &area, const MapShape &shape, const PictureView &view)
{
    if (!view.squareCells || shape.isEmpty())
        return area;
    const double cell =
        std::min(area.width() / double(shape.columns), area.height() / double(shape.rows));
    QRectF fit(0, 0, cell * double(shape.columns), cell * double(shape.rows));
    fit.moveCenter(area.center());
    return fit;
}

// A map larger than the area along an axis covers it whole; a smaller one
// is centred.
double clampedCentre(double centre, double mapSize, double areaSize)
{
    if (!(mapSize > areaSize))
        return 0.5;
    const double half = 0.5 * areaSize / mapSize;
    return std::clamp(centre, half, 1 - half);
}

QPointF clampedCentre(QPointF centre, QSizeF mapSize, QSizeF areaSize)
{
    return QPointF(clampedCentre(centre.x(), mapSize.width(), areaSize.width()),
                   clampedCentre(centre.y(), mapSize.height(), areaSize.height()));
}

// The cell index under each pixel along one axis, or -1 where the pixel's
// centre lies outside the map. Pixel u's centre is at begin + (u + 0.5) /
// scale in the painter's coordinates.
std::vector<std::ptrdiff_t> cellsAlong(int pixels, int begin, int scale, double mapStart,
                                       double mapExtent, std::size_t cells)
{
    std::vector<std::ptrdiff_t> index(std::size_t(pixels), -1);
    const double perUnit = double(cells) / mapExtent;
    for (int u = 0; u < pixels; ++u) {
        const double x = double(begin) + (double(u) + 0.5) / double(scale);
        const double cell = std::floor((x - mapStart) * perUnit);
        if (cell >= 0 && cell < double(cells))
            index[std::size_t(u)] = std::ptrdiff_t(cell);
    }
    return index;
}

} // namespace

void LandscapePicture::setView(const PictureView &view)
{
    m_view = view;
}

QRectF LandscapePicture::mapRect(const LandscapeGrid &grid, const QRectF &area,
                                 const PictureView &view)
{
    const MapShape shape = shapeOf(grid, view);
    const QRectF fit = fitRect(area, shape, view);
    if (view.zoom <= 1)
        return fit;
    const QSizeF size = fit.size() * view.zoom;
    const QPointF centre = clampedCentre(view.centre, size, area.size());
    return QRectF(area.center() - QPointF(centre.x() * size.width(), centre.y() * size.height()),
                  size);
}

std::optional<LandscapePicture::Cell> LandscapePicture::cellAt(const LandscapeGrid &grid,
                                                               const QRectF &area,
                                                               const PictureView &view,
                                                               QPointF point)
{
    const MapShape shape = shapeOf(grid, view);
    const QRectF map = mapRect(grid, area, view);
    if (shape.isEmpty() || !area.contains(point) || !map.contains(point))
        return std::nullopt;
    const auto index = [](double offset, double extent, std::size_t cells) {
        return std::min(std::size_t(offset / extent * double(cells)), cells - 1);
    };
    const std::size_t across = index(point.x() - map.left(), map.width(), shape.columns);
    const std::size_t down = index(point.y() - map.top(), map.height(), shape.rows);
    const Cell cell = view.rowsAsRows ? Cell{down, across} : Cell{across, down};
    // A short row leaves its missing positions undrawn.
    if (cell.row >= grid.rowCount() || cell.column >= grid.row(cell.row).size())
        return std::nullopt;
    return cell;
}

PictureView LandscapePicture::zoomed(const LandscapeGrid &grid, const QRectF &area,
                                     PictureView view, double factor, QPointF anchor)
{
    const QRectF before = mapRect(grid, area, view);
    view.zoom = std::clamp(view.zoom * factor, 1.0, PictureView::maximumZoom);
    if (view.zoom == 1 || before.isEmpty()) {
        view.zoom = 1;
        view.centre = QPointF(0.5, 0.5);
        return view;
    }
    // The point of the map under the anchor stays under it.
    const QPointF held((anchor.x() - before.left()) / before.width(),
                       (anchor.y() - before.top()) / before.height());
    const QSizeF size = fitRect(area, shapeOf(grid, view), view).size() * view.zoom;
    const QPointF fromCentre = anchor - area.center();
    view.centre = clampedCentre(QPointF(held.x() - fromCentre.x() / size.width(),
                                        held.y() - fromCentre.y() / size.height()),
                                size, area.size());
    return view;
}

PictureView LandscapePicture::panned(const LandscapeGrid &grid, const QRectF &area,
                                     PictureView view, QPointF offset)
{
    if (view.zoom <= 1)
        return view;
    const QSizeF size = mapRect(grid, area, view).size();
    if (size.isEmpty())
        return view;
    view.centre = clampedCentre(QPointF(view.centre.x() - offset.x() / size.width(),
                                        view.centre.y() - offset.y() / size.height()),
                                size, area.size());
    return view;
}

void LandscapePicture::setGrid(const LandscapeGrid *grid, std::optional<double> noData)
{
    m_grid = grid;
    m_codes = grid ? MapCodes::of(*grid, noData) : MapCodes();
    m_stale = true;
}

void LandscapePicture::invalidate()
{
    m_stale = true;
}

QRectF LandscapePicture::drawingArea(const QRect &frameGeometry)
{
    return QRectF(frameGeometry.x(), double(frameGeometry.y()) + frameTopOffset,
                  frameGeometry.width(), frameGeometry.height());
}

LandscapePicture::Placement LandscapePicture::placementOf(const QPainter &painter)
{
    Placement placement;
    const QPaintDevice *device = painter.device();
    const QTransform transform = painter.deviceTransform();
    const double scale = transform.m11();
    const auto whole = [](double value) {
        return std::abs(value) < pixelLimit && value == std::floor(value);
    };
    if (!device || transform.type() > QTransform::TxScale || transform.m22() != scale ||
        scale < 1 || scale > maximumScale || !whole(scale) || !whole(transform.dx()) ||
        !whole(transform.dy()))
        return placement;

    placement.exact = true;
    placement.scale = int(scale);
    placement.offset = QPoint(int(transform.dx()), int(transform.dy()));
    // The device's own rectangle in device pixels: its size in the painter's
    // unscaled coordinates taken through everything but the world transform.
    // Two pixels of margin keep any rounding of that size on the safe side.
    const QTransform toDevice = painter.worldTransform().inverted() * transform;
    placement.deviceArea =
        toDevice.mapRect(QRect(0, 0, device->width(), device->height())).adjusted(-2, -2, 2, 2);
    return placement;
}

void LandscapePicture::paint(QPainter &painter, const QRect &frameGeometry, qint32 matrixValue)
{
    painter.save();
    painter.setPen(QPen());
    painter.setBrush(QBrush(QColor(0, 255, 0, 120)));
    const QRectF area = drawingArea(frameGeometry);
    painter.drawRects(&area, 1);

    const Placement placement = placementOf(painter);
    if (m_stale || frameGeometry != m_frame || matrixValue != m_matrixValue ||
        placement != m_placement || m_view != m_renderedView) {
        m_stale = false;
        m_frame = frameGeometry;
        m_matrixValue = matrixValue;
        m_colours = MapColours(m_codes, matrixValue);
        m_placement = placement;
        m_renderedView = m_view;
        m_cells = QImage();
        ++m_renderCount;
        if (m_view.isDefault())
            renderCells(frameGeometry, placement);
        else
            renderViewCells(frameGeometry, placement);
    }
    if (!m_cells.isNull()) {
        // With an exact placement the image lands on the device pixel for
        // pixel; otherwise it was rendered in the painter's coordinates and
        // goes through the painter's transform like everything else.
        const QPointF origin =
            placement.exact ? painter.deviceTransform().inverted().map(QPointF(m_cellsOrigin))
                            : QPointF(m_cellsOrigin);
        painter.drawImage(origin, m_cells);
    }
    painter.restore();
}

void LandscapePicture::renderCells(const QRect &frameGeometry, const Placement &placement)
{
    if (!m_grid || m_grid->isEmpty() || frameGeometry.width() < 0 || frameGeometry.height() < 0)
        return;

    const std::size_t n = m_grid->rowCount();
    const QRectF area = drawingArea(frameGeometry);
    const double cellWidth = area.width() / double(n);
    const double cellHeight = area.height() / double(n);
    const int width = truncated(cellWidth);
    const int height = truncated(cellHeight);
    // With only one of width and height 0 the outline still draws a line one
    // pixel wide. With both 0 the rectangle itself would leave no pixel at
    // all, and a map with more rows than the area has pixels would show
    // nothing; such a cell marks the one pixel at its corner instead, which
    // is what the line becomes as its length goes to 0.

    // The fill covers the scaled width and height and the outline, in the
    // same colour and one device pixel wide, adds one column on the right and
    // one row at the bottom.
    const int scale = placement.scale;
    const QRect clip = placement.exact
                           ? placement.deviceArea
                           : QRect(QPoint(-(1 << 29), -(1 << 29)), QPoint(1 << 29, 1 << 29));
    const AxisCover columns = coverAxis(n, area.x(), cellWidth, scale, placement.offset.x(),
                                        scale * width + 1, clip.left(), clip.right() + 1);
    const AxisCover rows = coverAxis(n, area.y(), cellHeight, scale, placement.offset.y(),
                                     scale * height + 1, clip.top(), clip.bottom() + 1);
    if (columns.size() == 0 || rows.size() == 0)
        return;

    QImage image(columns.size(), rows.size(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return;
    image.fill(Qt::transparent);
    const CellLayout layout{*m_grid, n, m_colours, columns, rows};
    paintColumns(image, layout);
    // Which pixels the clipping of outlines drops is known only on the device
    // itself.
    if (placement.exact && width > 0 && height > 0)
        repaintLostCorners(image, layout, scale * width, scale * height);

    image.setDevicePixelRatio(scale);
    m_cells = image;
    m_cellsOrigin = QPoint(columns.first, rows.first);
}

void LandscapePicture::renderViewCells(const QRect &frameGeometry, const Placement &placement)
{
    if (!m_grid || frameGeometry.width() <= 0 || frameGeometry.height() <= 0)
        return;
    const MapShape shape = shapeOf(*m_grid, m_view);
    if (shape.isEmpty())
        return;
    const QRectF area = drawingArea(frameGeometry);
    const QRectF map = mapRect(*m_grid, area, m_view);
    // Whole pixels of the painter's coordinates, so that the image lands on
    // the device pixel for pixel; the area's edges are whole already.
    const int left = int(std::floor(std::max(area.left(), map.left())));
    const int top = int(std::floor(std::max(area.top(), map.top())));
    const int right = int(std::ceil(std::min(area.right(), map.right())));
    const int bottom = int(std::ceil(std::min(area.bottom(), map.bottom())));
    if (right <= left || bottom <= top)
        return;

    const int scale = placement.exact ? placement.scale : 1;
    QImage image((right - left) * scale, (bottom - top) * scale,
                 QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return;
    image.fill(Qt::transparent);
    const auto across =
        cellsAlong(image.width(), left, scale, map.left(), map.width(), shape.columns);
    const auto down = cellsAlong(image.height(), top, scale, map.top(), map.height(), shape.rows);

    auto *bits = reinterpret_cast<QRgb *>(image.bits());
    const qsizetype stride = image.bytesPerLine() / qsizetype(sizeof(QRgb));
    const auto paint = [&](std::span<const qint32> row, std::ptrdiff_t position, QRgb *pixel) {
        if (position >= 0 && std::size_t(position) < row.size())
            *pixel = m_colours(row[std::size_t(position)]);
    };
    if (m_view.rowsAsRows) {
        for (int v = 0; v < image.height(); ++v) {
            const std::ptrdiff_t k = down[std::size_t(v)];
            if (k < 0)
                continue;
            QRgb *line = bits + v * stride;
            // Pixel rows of the same grid row are alike.
            if (v > 0 && down[std::size_t(v) - 1] == k) {
                std::copy_n(line - stride, image.width(), line);
                continue;
            }
            const std::span<const qint32> row = m_grid->row(std::size_t(k));
            for (int u = 0; u < image.width(); ++u)
                paint(row, across[std::size_t(u)], line + u);
        }
    } else {
        for (int u = 0; u < image.width(); ++u) {
            const std::ptrdiff_t k = across[std::size_t(u)];
            if (k < 0)
                continue;
            const std::span<const qint32> row = m_grid->row(std::size_t(k));
            for (int v = 0; v < image.height(); ++v)
                paint(row, down[std::size_t(v)], bits + u + v * stride);
        }
    }
    image.setDevicePixelRatio(scale);
    m_cells = image;
    // With an exact placement the origin is in device pixels, as for the
    // default drawing.
    m_cellsOrigin =
        placement.exact ? QPoint(left, top) * scale + placement.offset : QPoint(left, top);
}

QImage LandscapePicture::render(const LandscapeGrid &grid, qint32 matrixValue, QSize imageSize,
                                const QRect &frameGeometry, const QColor &clearColour,
                                const PictureView &view, std::optional<double> noData)
{
    QImage image(imageSize, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return image;
    image.fill(clearColour);
    QPainter painter(&image);
    LandscapePicture picture;
    picture.setGrid(&grid, noData);
    picture.setView(view);
    picture.paint(painter, frameGeometry, matrixValue);
    return image;
}

QSize LandscapePicture::previewSize(std::size_t rowCount)
{
    const int side = int(std::min<std::size_t>(rowCount, previewMaximumSide));
    return QSize(side, side);
}

QImage LandscapePicture::preview(const LandscapeGrid &grid, qint32 matrixValue, QSize size,
                                 const PictureView &view, std::optional<double> noData)
{
    // A frame this far above the image puts the drawing area, which lies
    // frameTopOffset below its frame, exactly on the image.
    const QRect frame(0, -frameTopOffset, size.width(), size.height());
    // Drawn on a transparent image, only the cells come out opaque: the
    // window's background, which shows where no cell reaches (a line along
    // the right and bottom edges at most, and the positions a short row
    // lacks), stays translucent, apart from its black outline.
    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    if (picture.isNull())
        return picture;
    picture.fill(Qt::transparent);
    LandscapePicture drawn;
    drawn.setGrid(&grid, noData);
    drawn.setView(view);
    {
        QPainter painter(&picture);
        drawn.paint(painter, frame, matrixValue);
    }
    const MapColours &colours = drawn.m_colours;
    // A preview has no background, so only the cells' colours are kept.
    // A two-class map stays the grey image it has always been.
    QImage image(size, colours.twoClass() ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    if (image.isNull())
        return image;
    for (int y = 0; y < size.height(); ++y) {
        const auto *in = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        if (colours.twoClass()) {
            uchar *out = image.scanLine(y);
            for (int x = 0; x < size.width(); ++x)
                out[x] = in[x] == matrixPixel               ? 255
                         : in[x] == MapColours::noDataPixel ? uchar(qGray(MapColours::noDataPixel))
                                                            : 0;
        } else {
            auto *out = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < size.width(); ++x)
                out[x] = qAlpha(in[x]) == 255 ? in[x] : habitatPixel;
        }
    }
    return image;
}

namespace {

QByteArray imageFormatOf(const QString &path)
{
    const QByteArray suffix = QFileInfo(path).suffix().toLower().toLatin1();
    return suffix.isEmpty() ? QByteArrayLiteral("png") : suffix;
}

} // namespace

std::optional<QString> LandscapePicture::imageFormatRefusal(const QString &path)
{
    const QByteArray format = imageFormatOf(path);
    const QList<QByteArray> formats = QImageWriter::supportedImageFormats();
    if (formats.contains(format))
        return std::nullopt;
    QStringList names;
    for (const QByteArray &name : formats)
        names.append(QString::fromLatin1(name));
    return QCoreApplication::translate("LandscapePicture",
                                       "%1: pictures cannot be written as .%2; name the file "
                                       "with one of .%3")
        .arg(QDir::toNativeSeparators(path), QString::fromLatin1(format),
             names.join(QStringLiteral(", .")));
}

FileResult LandscapePicture::saveImage(const QImage &image, const QString &path)
{
    const QByteArray format = imageFormatOf(path);
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    // Qt's PNG quality 80 is zlib's fastest level: for the worst picture, a
    // random map at half cover, it encodes several times faster than the
    // default level for a file a fifth larger, and the pixels are the same.
    if (format == "png")
        writer.setQuality(80);
    if (!writer.write(image))
        return FileError{QDir::toNativeSeparators(path),
                         QCoreApplication::translate("LandscapePicture",
                                                     "the image could not be encoded as %1: %2")
                             .arg(QString::fromLatin1(format).toUpper(), writer.errorString())};
    return saveBytes(path, encoded);
}
