// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/surfaceblend.h"

#include "core/batch/batchoptions.h"
#include "core/rng/philox.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("SurfaceBlend", text);
}

// The draws of a blend's seeds: counter {part, replicate, cover, 0}.
constexpr philox::Domain blendDomain{0x42u};

// A part's option that its surface does not take: the options every
// family has are the batch's (its covers, size, files, classes, study
// area), and a part's seed is drawn for it.
bool batchOption(QAnyStringView key)
{
    if (key == QLatin1String("seed") || key == QLatin1String("first_seed") ||
        key == QLatin1String("write_surfaces"))
        return true;
    for (const MapFamily *family : mapFamilies())
        if (!findBatchOption(*family, key))
            return false;
    return true;
}

const BatchOption *seedRow(const MapFamily &family)
{
    if (const BatchOption *row = findBatchOption(family, "seed"))
        return row;
    return findBatchOption(family, "first_seed");
}

// A part's own words (its options, its refusals) as the blend writes
// them: key=value.
Phrase inBlendWords(const Phrase &phrase)
{
    return Phrase(phrase.spelled([](const QString &key, const QString &value) {
        return value.isEmpty() ? key : key + QLatin1Char('=') + value;
    }));
}

Phrase partRefusal(const BlendPart &part, const Phrase &reason)
{
    return Phrase::marked(tr("{blend} %1: ")).arg(part.family) + reason;
}

// The request a part's surface is drawn from, or why there is none.
std::unique_ptr<FamilyRequest> partRequest(const BlendPart &part, int rows, int columns,
                                           std::optional<Phrase> *why)
{
    const MapFamily *family = familyNamed(part.family);
    if (!family) {
        *why = Phrase::marked(tr("{blend} names no family \"%1\": the families are %2"))
                   .arg(part.family)
                   .arg(familyWords(tr("and")));
        return nullptr;
    }
    if (!family->blends()) {
        *why = partRefusal(part, Phrase(tr("its maps have no surface to blend")));
        return nullptr;
    }
    std::unique_ptr<FamilyRequest> request = family->newRequest();
    request->shape = {rows, columns};
    for (const auto &[key, value] : part.options) {
        const BatchOption *option = findBatchOption(*family, key);
        if (key == QLatin1String("blend")) {
            *why = partRefusal(part, Phrase(tr("blends are not nested: a part of a blend takes "
                                               "no blend of its own")));
            return nullptr;
        }
        if (!option || option->scope != OptionScope::Maps) {
            *why = partRefusal(part, Phrase(tr("the family has no option \"%1\"").arg(key)));
            return nullptr;
        }
        if (batchOption(key)) {
            *why = partRefusal(part, Phrase(tr("\"%1\" is the batch's option, not its "
                                               "surface's: the batch gives it to every part")
                                                .arg(key)));
            return nullptr;
        }
        if (const auto error = setOption(*request, *option, value)) {
            *why = partRefusal(part, Phrase(key + QLatin1Char(' ') + error->reason));
            return nullptr;
        }
    }
    if (auto refusal = request->refusal()) {
        *why = partRefusal(part, inBlendWords(*refusal));
        return nullptr;
    }
    return request;
}

// The least and greatest of rows x columns values `stride` apart.
std::pair<double, double> extremes(const double *values, int rows, int columns, qsizetype stride)
{
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (int r = 0; r < rows; ++r) {
        const double *row = values + r * stride;
        for (int c = 0; c < columns; ++c) {
            low = std::min(low, row[c]);
            high = std::max(high, row[c]);
        }
    }
    return {low, high};
}

// What values from `low` to `high` are divided by to lie in 0..1, the
// greatest exactly 1: a rescaled surface rescaled again stays as it is,
// bit for bit. A flat surface becomes 0 everywhere.
double spanOf(double low, double high)
{
    return high > low ? high - low : std::numeric_limits<double>::infinity();
}

} // namespace

std::optional<Phrase> blendRefusal(const FamilyRequest &request, int rows, int columns)
{
    if (request.blends.empty())
        return std::nullopt;
    if (!request.family().blends())
        return Phrase::marked(tr("{blend} adds surfaces to a family's surface, and %1 maps have "
                                 "none"))
            .arg(QLatin1String(request.family().word()));
    for (const BlendPart &part : request.blends) {
        std::optional<Phrase> why;
        if (!partRequest(part, rows, columns, &why))
            return why;
    }
    return std::nullopt;
}

std::uint32_t blendSeed(qint64 seed, std::size_t index, int cover, qint64 replicate,
                        std::uint64_t seeds)
{
    const philox::Counter bits =
        philox::bits(philox::key(std::uint32_t(seed), blendDomain),
                     {{std::uint32_t(index), std::uint32_t(replicate), std::uint32_t(cover), 0}});
    const std::uint64_t word = std::uint64_t(bits.v[0]) | std::uint64_t(bits.v[1]) << 32;
    return std::uint32_t((unsigned __int128)word * seeds >> 64);
}

struct SurfaceBlend::Part {
    BlendPart given;
    std::unique_ptr<FamilyRequest> request;
    const BatchOption *seed = nullptr;
    // Why the part cannot be drawn, for a request that skipped its refusal.
    std::optional<Phrase> refusal;
};

SurfaceBlend::SurfaceBlend(const FamilyRequest &request, int rows, int columns)
    : m_rows(rows)
    , m_columns(columns)
{
    for (const BlendPart &given : request.blends) {
        Part part{given, nullptr, nullptr, std::nullopt};
        part.request = partRequest(given, rows, columns, &part.refusal);
        if (part.request)
            part.seed = seedRow(part.request->family());
        m_parts.push_back(std::move(part));
    }
}

SurfaceBlend::~SurfaceBlend() = default;

SurfaceBlend::Blended SurfaceBlend::blend(double *values, qsizetype stride, qint64 seed, int cover,
                                          qint64 replicate) const
{
    Blended out;
    if (m_parts.empty())
        return out;
    const auto columns = std::size_t(m_columns);
    std::vector<double, BulkAllocator<double>> sum(std::size_t(m_rows) * columns, 0.0);
    MapFamily::Surface surface;
    QStringList record;
    for (std::size_t i = 0; i < m_parts.size(); ++i) {
        const Part &part = m_parts[i];
        if (!part.request) {
            out.failure = part.refusal->text();
            return out;
        }
        std::unique_ptr<FamilyRequest> request = part.request->clone();
        QString partRecord = blendPartText(part.given);
        if (part.seed) {
            const std::uint32_t partSeed = blendSeed(
                seed, i, cover, replicate, std::uint64_t(part.seed->limits.whole[0].max) + 1);
            setOption(*request, *part.seed, qint64(partSeed));
            partRecord += QStringLiteral(":seed=") + QString::number(partSeed);
        }
        record.append(partRecord);
        if (auto refusal = request->family().surface(*request, cover, 1, surface)) {
            out.failure = tr("The blended %1 surface could not be drawn: %2")
                              .arg(part.given.family, inBlendWords(*refusal).text());
            return out;
        }
        // A part's surface may be larger (a fractal's block): its corner is the map's.
        const qsizetype partStride = surface.columns;
        const auto [low, high] = extremes(surface.values.data(), m_rows, m_columns, partStride);
        const double span = spanOf(low, high);
        const double weight = part.given.weight;
        for (int r = 0; r < m_rows; ++r) {
            const double *row = surface.values.data() + r * partStride;
            double *to = sum.data() + std::size_t(r) * columns;
            for (std::size_t c = 0; c < columns; ++c)
                to[c] += weight * ((row[c] - low) / span);
        }
    }
    const auto [low, high] = extremes(values, m_rows, m_columns, stride);
    const double span = spanOf(low, high);
    for (int r = 0; r < m_rows; ++r) {
        double *row = values + r * stride;
        const double *add = sum.data() + std::size_t(r) * columns;
        for (std::size_t c = 0; c < columns; ++c)
            row[c] = (row[c] - low) / span + add[c];
    }
    const auto [least, most] = extremes(values, m_rows, m_columns, stride);
    const double blendSpan = spanOf(least, most);
    for (int r = 0; r < m_rows; ++r) {
        double *row = values + r * stride;
        for (std::size_t c = 0; c < columns; ++c)
            row[c] = (row[c] - least) / blendSpan;
    }
    out.record = record.join(QLatin1Char(';')).toUtf8();
    return out;
}
