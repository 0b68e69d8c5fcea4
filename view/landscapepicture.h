// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/fileerror.h"
#include "core/grid/landscapegrid.h"
#include "view/mapcolours.h"

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <optional>

class QPainter;

// How the map is laid out in its drawing area. The default value is the
// drawing described below; the other values add what GIS tools and image
// viewers offer: cells that keep the grid's shape, the file's first line on
// top, and a magnified part of the map.
struct PictureView {
    static constexpr double maximumZoom = 64;

    // The map keeps the shape of its grid (rows by its longest row) and is as
    // large as fits, centred in the drawing area.
    bool squareCells = false;
    // The first line of the file is the top row and its values run left to
    // right, as GIS tools show a grid.
    bool rowsAsRows = false;
    // 1 shows the whole map. Above 1 the map is that many times larger, and
    // the point `centre` of it (fractions of its width and height) lies at
    // the middle of the drawing area, as near as the map's edges allow.
    double zoom = 1;
    QPointF centre{0.5, 0.5};

    bool isDefault() const { return !squareCells && !rowsAsRows && zoom == 1; }
    bool operator==(const PictureView &) const = default;
};

// The map as the main window shows it: a translucent green rectangle over the
// drawing area and, on top, one rectangle per cell in its code's colour
// (MapColours: white for the matrix code and black for anything else on a
// map of two codes, a palette colour a code on a map of more, light grey for
// NoData), the rows running left to right and the positions of a row top to
// bottom.
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
//
// Any other PictureView than the default draws the grid as rows by its
// longest row (rows by rows when only zoomed, so that a magnified map is the
// default picture magnified), each cell the block of pixels whose centres
// fall in it, without outlines, and only the part inside the drawing area.
// Positions a short row lacks show the background.
class LandscapePicture final {
public:
    // The frame's geometry is given in the coordinates of the central widget,
    // but the picture is painted on the main window, whose menu bar and tool
    // bar push the central widget down. A fixed 35 pixels stands in for them.
    static constexpr int frameTopOffset = 35;

    // The colours of matrix cells and of all other cells of a two-class map.
    static constexpr QRgb matrixPixel = MapColours::matrixPixel;
    static constexpr QRgb habitatPixel = MapColours::habitatPixel;

    LandscapePicture() = default;
    Q_DISABLE_COPY_MOVE(LandscapePicture)

    // The grid is read, never copied, so it must outlive the picture or be
    // replaced first. Call this again after every change of its content: it
    // finds the map's codes (MapCodes), once. `noData` is the file's NoData
    // value (MapFileInfo::noData), whose cells are drawn light grey.
    void setGrid(const LandscapeGrid *grid, std::optional<double> noData = {});
    // The codes found by setGrid(), for a legend.
    const MapCodes &codes() const { return m_codes; }
    // Forces the next paint to render the cells again.
    void invalidate();

    void setView(const PictureView &view);
    const PictureView &view() const { return m_view; }

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
                         const QRect &frameGeometry, const QColor &clearColour,
                         const PictureView &view = {}, std::optional<double> noData = {});

    // A preview to save as a file: what the window shows in a drawing area of
    // `size` pixels, and black where no cell reaches. A two-class map's
    // preview is an 8-bit grey image, white where a cell holds the matrix
    // code, black everywhere else and light grey for NoData; a map of more
    // codes gives a colour image. The command line's render and the window's
    // export both write this.
    static QImage preview(const LandscapeGrid &grid, qint32 matrixValue, QSize size,
                          const PictureView &view = {}, std::optional<double> noData = {});
    // Previews are one pixel per cell up to this many pixels per side; the
    // default picture takes every map as square with as many columns as it
    // has rows, so the row count alone decides.
    static constexpr int previewMaximumSide = 1024;
    static QSize previewSize(std::size_t rowCount);
    // Writes `image` as a file that appears only once it is complete:
    // encoded in memory first, then saved with the checks that notice a
    // full disk. The format is the one the name's suffix asks for (PNG for
    // a name without one).
    static FileResult saveImage(const QImage &image, const QString &path);
    // Why `path` names a picture format that cannot be written, or nothing.
    static std::optional<QString> imageFormatRefusal(const QString &path);

    // Where the whole map lies for `view` (beyond the drawing area when
    // zoomed), and the same view zoomed by `factor` about the point `anchor`
    // or moved by `offset`, both in the painter's coordinates. The results
    // keep the zoom between 1 and PictureView::maximumZoom and the map over
    // as much of the area as it can cover.
    static QRectF mapRect(const LandscapeGrid &grid, const QRectF &area, const PictureView &view);
    static PictureView zoomed(const LandscapeGrid &grid, const QRectF &area, PictureView view,
                              double factor, QPointF anchor);
    static PictureView panned(const LandscapeGrid &grid, const QRectF &area, PictureView view,
                              QPointF offset);

    // The cell drawn at `point` (in the painter's coordinates) for `view`:
    // its row and its position in the row, counted from 0, or nothing where
    // no cell is drawn.
    struct Cell {
        std::size_t row;
        std::size_t column;
    };
    static std::optional<Cell> cellAt(const LandscapeGrid &grid, const QRectF &area,
                                      const PictureView &view, QPointF point);

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

    void renderCells(const QRect &frameGeometry, const Placement &placement);
    void renderViewCells(const QRect &frameGeometry, const Placement &placement);

    const LandscapeGrid *m_grid = nullptr;
    MapCodes m_codes;
    MapColours m_colours;
    bool m_stale = true;
    QRect m_frame;
    qint32 m_matrixValue = 0;
    PictureView m_view;
    PictureView m_renderedView;
    Placement m_placement;
    // The cells, with their top left pixel: in device pixels when the
    // placement is exact, otherwise in the painter's coordinates.
    QImage m_cells;
    QPoint m_cellsOrigin;
    std::uint64_t m_renderCount = 0;
};
