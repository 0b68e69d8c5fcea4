// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/mapcolours.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

// Okabe and Ito's palette, in their order: black, orange, sky blue, bluish
// green, yellow, blue, vermillion, reddish purple.
constexpr std::array<QRgb, 8> okabeIto{0xff000000u, 0xffe69f00u, 0xff56b4e9u, 0xff009e73u,
                                       0xfff0e442u, 0xff0072b2u, 0xffd55e00u, 0xffcc79a7u};

// How far each round moves the eight hues toward white (above 0) or black
// (below 0). The rounds alternate, so that a hue's versions lie far apart in
// lightness, and none is as pale as the NoData grey.
constexpr std::array<double, 8> roundShift{0, 0.5, -0.4, 0.25, -0.65, 0.7, -0.2, 0.35};
// Black's rounds, whose darker ones would all stay black: greys spread
// between black and 75 % white, the lighter for the rounds that lighten,
// and none so dark that it passes for black.
constexpr std::array<int, 8> blackRound{0, 150, 70, 110, 50, 190, 90, 130};

// Codes spanning at most this many values get a table of their colours;
// maps of a few classes nearly always do.
constexpr qint64 tableSpan = 4096;

int shifted(int channel, double shift)
{
    const double target = shift > 0 ? 255 : 0;
    return int(std::lround(channel + (target - channel) * std::abs(shift)));
}

} // namespace

std::optional<qint32> MapCodes::noDataCode(std::optional<double> noData)
{
    if (!noData || !std::isfinite(*noData) || *noData != std::floor(*noData) ||
        *noData < double(std::numeric_limits<qint32>::min()) ||
        *noData > double(std::numeric_limits<qint32>::max()))
        return std::nullopt;
    return qint32(*noData);
}

MapCodes MapCodes::of(const LandscapeGrid &grid, std::optional<double> noData)
{
    MapCodes result;
    result.noData = noDataCode(noData);
    // NoData is counted like any code here and taken out at the end, so the
    // search may need one code more before it can stop.
    const std::size_t stopAt = maximumClasses + 1 + (result.noData ? 1 : 0);
    std::array<bool, 256> small{};
    std::vector<qint32> others;
    qint32 lastOther = 0;
    bool anyOther = false;
    std::size_t distinct = 0;
    // The row the search stopped in, or the number of rows.
    std::size_t r = 0;
    for (; r < grid.rowCount(); ++r) {
        for (const qint32 code : grid.row(r)) {
            if (quint32(code) < small.size()) {
                if (small[std::size_t(code)])
                    continue;
                small[std::size_t(code)] = true;
            } else {
                if (anyOther && code == lastOther)
                    continue;
                lastOther = code;
                anyOther = true;
                const auto at = std::lower_bound(others.begin(), others.end(), code);
                if (at != others.end() && *at == code)
                    continue;
                others.insert(at, code);
            }
            if (++distinct == stopAt)
                break;
        }
        if (distinct == stopAt)
            break;
    }
    for (std::size_t code = 0; code < small.size(); ++code)
        if (small[code])
            result.codes.push_back(qint32(code));
    result.codes.insert(result.codes.end(), others.begin(), others.end());
    std::sort(result.codes.begin(), result.codes.end());
    if (result.noData) {
        const auto at = std::lower_bound(result.codes.begin(), result.codes.end(), *result.noData);
        if (at != result.codes.end() && *at == *result.noData) {
            result.codes.erase(at);
            result.hasNoDataCells = true;
        }
        // The legend names NoData only when cells hold it, which the rows
        // the search did not reach may still tell.
        for (; r < grid.rowCount() && !result.hasNoDataCells; ++r) {
            const auto row = grid.row(r);
            result.hasNoDataCells = std::find(row.begin(), row.end(), *result.noData) != row.end();
        }
    }
    if (result.codes.size() > maximumClasses + 1)
        result.codes.resize(maximumClasses + 1);
    return result;
}

MapColours::MapColours(qint32 matrixValue)
    : m_matrixValue(matrixValue)
{}

MapColours::MapColours(const MapCodes &codes, qint32 matrixValue)
    : m_matrixValue(matrixValue)
    , m_noData(codes.hasNoDataCells ? codes.noData : std::nullopt)
    , m_twoClass(codes.codes.size() <= 2)
    , m_tooMany(codes.tooManyToList())
    , m_hasNoDataCells(codes.hasNoDataCells)
{
    if (!m_tooMany) {
        for (std::size_t i = 0; i < codes.codes.size(); ++i) {
            const qint32 code = codes.codes[i];
            const QRgb colour =
                m_twoClass ? (code == matrixValue ? matrixPixel : habitatPixel) : classColour(i);
            m_legend.push_back({code, colour});
        }
    }
    if (m_hasNoDataCells)
        m_legend.push_back({std::nullopt, noDataPixel});
    if (m_twoClass || m_tooMany)
        return;
    m_codes = codes.codes;
    m_low = m_codes.front();
    if (qint64(m_codes.back()) - m_low < tableSpan) {
        m_byOffset.assign(std::size_t(qint64(m_codes.back()) - m_low + 1), habitatPixel);
        for (std::size_t i = 0; i < m_codes.size(); ++i)
            m_byOffset[std::size_t(qint64(m_codes[i]) - m_low)] = classColour(i);
    }
}

QRgb MapColours::classColour(std::size_t index)
{
    const std::size_t hue = index % okabeIto.size();
    const std::size_t round = (index / okabeIto.size()) % roundShift.size();
    if (hue == 0)
        return qRgb(blackRound[round], blackRound[round], blackRound[round]);
    const QRgb base = okabeIto[hue];
    const double shift = roundShift[round];
    return qRgb(shifted(qRed(base), shift), shifted(qGreen(base), shift),
                shifted(qBlue(base), shift));
}

QRgb MapColours::classPixel(qint32 code) const
{
    if (m_tooMany) {
        const qint64 modulus = qint64(MapCodes::maximumClasses);
        return classColour(std::size_t(((qint64(code) % modulus) + modulus) % modulus));
    }
    if (!m_byOffset.empty()) {
        const qint64 offset = qint64(code) - m_low;
        return offset >= 0 && offset < qint64(m_byOffset.size()) ? m_byOffset[std::size_t(offset)]
                                                                 : habitatPixel;
    }
    const auto at = std::lower_bound(m_codes.begin(), m_codes.end(), code);
    return at != m_codes.end() && *at == code ? classColour(std::size_t(at - m_codes.begin()))
                                              : habitatPixel;
}
