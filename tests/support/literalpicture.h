// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/grid/landscapegrid.h"
#include "view/mapcolours.h"

#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>
#include <QTest>

// The drawing the main window has always made, as a literal QPainter loop,
// and ways to compare pictures with it. The picture suite and the window
// suite both hold the real drawing to it.

// The picture exactly as the window drew it before there was a cache: one
// background rectangle, then one rectangle per cell, rows outer and positions
// inner, with a fresh brush and pen for every cell. Positions past the end of
// a short row are skipped. A map of more than two codes, or with NoData
// cells, takes its cells' colours from MapColours, whose choice of colours
// the picture suite checks on its own.
inline void paintOneByOne(QPainter &painter, const LandscapeGrid &grid, qint32 matrixValue,
                          const QRect &frame, std::optional<double> noData = {})
{
    const MapColours colours(MapCodes::of(grid, noData), matrixValue);
    const double x0 = frame.x();
    const double y0 = frame.y() + 35;
    const double w = frame.width();
    const double h = frame.height();
    painter.setBrush(QBrush(QColor(0, 255, 0, 120), Qt::SolidPattern));
    const QRectF background(x0, y0, w, h);
    painter.drawRects(&background, 1);

    const int n = int(grid.rowCount());
    if (n == 0)
        return;
    const double cw = w / n;
    const double ch = h / n;
    for (int k = 0; k < n; ++k) {
        const auto row = grid.row(std::size_t(k));
        for (int i = 0; i < n; ++i) {
            if (std::size_t(i) >= row.size())
                continue;
            const QColor colour = colours.twoClass() && !colours.hasNoDataCells()
                                      ? (row[std::size_t(i)] == matrixValue ? Qt::white : Qt::black)
                                      : QColor(colours(row[std::size_t(i)]));
            painter.setBrush(QBrush(colour, Qt::SolidPattern));
            painter.setPen(QPen(QBrush(colour), 0));
            const QRect cell(int(k * cw + x0), int(i * ch + y0), int(cw), int(ch));
            // Qt draws nothing for a rectangle with no width and no height;
            // the view marks the cell's pixel so that big maps stay visible.
            if (cell.width() == 0 && cell.height() == 0)
                painter.drawPoint(cell.topLeft());
            else
                painter.drawRects(&cell, 1);
        }
    }
}

inline const QColor clearColour(120, 130, 140);

// The picture on an image first filled with `fill`, as a window's background
// fills it.
inline QImage literalImage(const LandscapeGrid &grid, qint32 matrixValue, QSize size,
                           const QRect &frame, const QColor &fill = clearColour,
                           std::optional<double> noData = {})
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    QPainter painter(&image);
    paintOneByOne(painter, grid, matrixValue, frame, noData);
    return image;
}

// Says where the first differing pixel is instead of only that the images
// differ.
inline QString firstDifference(const QImage &actual, const QImage &expected)
{
    if (actual.size() != expected.size())
        return QStringLiteral("sizes differ");
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width(); ++x)
            if (actual.pixel(x, y) != expected.pixel(x, y))
                return QStringLiteral("pixel (%1, %2) is %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(actual.pixel(x, y), 8, 16)
                    .arg(expected.pixel(x, y), 8, 16);
    return QString();
}

#define COMPARE_IMAGES(actual, expected)                                                           \
    do {                                                                                           \
        const QString difference = firstDifference(actual, expected);                              \
        QVERIFY2(difference.isEmpty(), qPrintable(difference));                                    \
    } while (false)
