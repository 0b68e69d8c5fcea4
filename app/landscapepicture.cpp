#include "app/landscapepicture.h"

#include <QPainter>
#include <QPen>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

namespace {

constexpr QRgb matrixPixel = 0xffffffffu;
constexpr QRgb otherPixel = 0xff000000u;

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

QRgb pixelFor(qint32 value, qint32 matrixValue)
{
    return value == matrixValue ? matrixPixel : otherPixel;
}

// The grid and the cover of both axes, shared by the two passes below.
struct CellLayout {
    const LandscapeGrid &grid;
    std::size_t n;
    qint32 matrixValue;
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
                *pixel = pixelFor(row[std::size_t(i)], layout.matrixValue);
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
                    *pixel = pixelFor(row[std::size_t(i)], layout.matrixValue);
                    break;
                }
            }
        }
    }
}

} // namespace

void LandscapePicture::setGrid(const LandscapeGrid *grid)
{
    m_grid = grid;
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
        placement != m_placement)
        renderCells(frameGeometry, matrixValue, placement);
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

void LandscapePicture::renderCells(const QRect &frameGeometry, qint32 matrixValue,
                                   const Placement &placement)
{
    m_stale = false;
    m_frame = frameGeometry;
    m_matrixValue = matrixValue;
    m_placement = placement;
    m_cells = QImage();
    ++m_renderCount;

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
    const CellLayout layout{*m_grid, n, matrixValue, columns, rows};
    paintColumns(image, layout);
    // Which pixels the clipping of outlines drops is known only on the device
    // itself.
    if (placement.exact && width > 0 && height > 0)
        repaintLostCorners(image, layout, scale * width, scale * height);

    image.setDevicePixelRatio(scale);
    m_cells = image;
    m_cellsOrigin = QPoint(columns.first, rows.first);
}

QImage LandscapePicture::render(const LandscapeGrid &grid, qint32 matrixValue, QSize imageSize,
                                const QRect &frameGeometry, const QColor &clearColour)
{
    QImage image(imageSize, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return image;
    image.fill(clearColour);
    QPainter painter(&image);
    LandscapePicture picture;
    picture.setGrid(&grid);
    picture.paint(painter, frameGeometry, matrixValue);
    return image;
}
