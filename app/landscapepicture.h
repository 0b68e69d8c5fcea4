#pragma once

#include "core/landscapegrid.h"

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <cstdint>

class QPainter;

// The map as the main window shows it: a translucent green rectangle over the
// drawing area and, on top, one rectangle per cell, white for the matrix code
// and black for anything else, the rows running left to right and the
// positions of a row top to bottom.
//
// Drawing every cell as its own rectangle costs n * n draw calls, which makes
// a 4096 x 4096 map unusable. Each cell is a rectangle whose outline is drawn
// in its own fill colour, so it covers a solid pixel block one pixel wider and
// taller than its integer width and height (and nothing at all when both are
// 0). Later cells overwrite earlier ones, so the colour of a pixel is that of
// the last drawn cell over it, and because the blocks form a product of column
// and row bands, the winner is found per axis. The cells are therefore
// rendered once, in time linear in the pixels plus the map size, into an
// image that is reused until the map, the frame, the matrix code or the
// painter's placement on its device changes.
//
// The result is pixel for pixel what the one-rectangle-per-cell drawing gives
// whenever the painter reaches its device through a whole translation and a
// whole scale factor of at most 4, as a window's painter does. Under any other
// transform the cells are rendered in the painter's coordinates and the image
// goes through the transform, which is close but not exact.
//
// Positions of a row shorter than the number of rows are left undrawn, so the
// cells of earlier rows show through there. A frame of negative width or
// height draws the background only.
class LandscapePicture final {
public:
    // The frame's geometry is given in the coordinates of the central widget,
    // but the picture is painted on the main window, whose menu bar and tool
    // bar push the central widget down. A fixed 35 pixels stands in for them.
    static constexpr int frameTopOffset = 35;

    LandscapePicture() = default;
    Q_DISABLE_COPY_MOVE(LandscapePicture)

    // The grid is read, never copied, so it must outlive the picture or be
    // replaced first. Call this again after every change of its content.
    void setGrid(const LandscapeGrid *grid);
    // Forces the next paint to render the cells again.
    void invalidate();

    // Draws the background rectangle with the painter's default pen and then
    // the cells, rendering them only when something they depend on changed.
    void paint(QPainter &painter, const QRect &frameGeometry, qint32 matrixValue);

    // How many times the cells were rendered, so that the reuse of the cache
    // can be observed.
    std::uint64_t renderCount() const { return m_renderCount; }

    // The drawing area for a frame: the frame moved down by frameTopOffset.
    static QRectF drawingArea(const QRect &frameGeometry);

    // The whole picture as the main window draws it, on an image of
    // `imageSize` first filled with `clearColour` (the window's background).
    // The frame is in the image's coordinates and is moved down by
    // frameTopOffset like the window's, so a frame at y = -frameTopOffset
    // starts the picture at the image's top.
    static QImage render(const LandscapeGrid &grid, qint32 matrixValue, QSize imageSize,
                         const QRect &frameGeometry, const QColor &clearColour);

private:
    // Where device pixels lie relative to the painter's coordinates. Cells
    // can be placed exactly as the rasteriser places them only when that is a
    // whole scale factor and a whole translation.
    struct Placement {
        bool exact = false;
        int scale = 1;
        QPoint offset;
        QRect deviceArea;
        bool operator==(const Placement &) const = default;
    };
    static Placement placementOf(const QPainter &painter);

    void renderCells(const QRect &frameGeometry, qint32 matrixValue, const Placement &placement);

    const LandscapeGrid *m_grid = nullptr;
    bool m_stale = true;
    QRect m_frame;
    qint32 m_matrixValue = 0;
    Placement m_placement;
    // The cells, with their top left pixel: in device pixels when the
    // placement is exact, otherwise in the painter's coordinates.
    QImage m_cells;
    QPoint m_cellsOrigin;
    std::uint64_t m_renderCount = 0;
};
