// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/metrics/metricnames.h"

#include <QCoreApplication>

#include <array>

namespace {

// In the order of the enums, which is the order of the names.
constexpr std::array<const char *, classMetricCount> classNames = {
    "ai",       "area_am",  "area_cv", "area_mn", "ca",        "clumpy",    "cohesion",
    "division", "ed",       "enn_mn",  "frac_mn", "gyrate_am", "gyrate_mn", "iji",
    "lpi",      "lsi",      "mesh",    "np",      "pafrac",    "pd",        "pladj",
    "pland",    "shape_mn", "split",   "te"};

constexpr std::array<const char *, landscapeMetricCount> landscapeNames = {
    "ai",  "area_mn",  "cohesion", "contag", "division", "ed",     "enn_mn", "gyrate_mn",
    "iji", "lpi",      "lsi",      "mesh",   "np",       "pafrac", "pd",     "pladj",
    "pr",  "shape_mn", "shdi",     "shei",   "sidi",     "split",  "ta",     "te"};

} // namespace

const char *metricName(ClassMetric metric)
{
    return classNames[std::size_t(metric)];
}

const char *metricName(LandscapeMetric metric)
{
    return landscapeNames[std::size_t(metric)];
}

const char *levelName(MetricLevel level)
{
    return level == MetricLevel::Class ? "class" : "landscape";
}

MetricSelection MetricSelection::all()
{
    MetricSelection selection;
    selection.m_class.set();
    selection.m_landscape.set();
    return selection;
}

QString MetricSelection::text() const
{
    if (*this == all())
        return QStringLiteral("all");
    QStringList names;
    for (int m = 0; m < classMetricCount; ++m)
        if (m_class.test(std::size_t(m)))
            names.append(QLatin1String(classNames[std::size_t(m)]));
    for (int m = 0; m < landscapeMetricCount; ++m)
        if (m_landscape.test(std::size_t(m)) &&
            !names.contains(QLatin1String(landscapeNames[std::size_t(m)])))
            names.append(QLatin1String(landscapeNames[std::size_t(m)]));
    return names.join(QLatin1Char(','));
}

QStringList MetricSelection::knownNames(MetricLevel level)
{
    QStringList names;
    if (level == MetricLevel::Class) {
        for (const char *name : classNames)
            names.append(QLatin1String(name));
    } else {
        for (const char *name : landscapeNames)
            names.append(QLatin1String(name));
    }
    return names;
}

std::optional<MetricSelection> MetricSelection::parse(const QString &text, QString &refusal)
{
    if (text.trimmed() == QLatin1String("all"))
        return all();
    MetricSelection selection;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QString name = part.trimmed();
        bool known = false;
        for (int m = 0; m < classMetricCount; ++m) {
            if (name == QLatin1String(classNames[std::size_t(m)])) {
                selection.m_class.set(std::size_t(m));
                known = true;
            }
        }
        for (int m = 0; m < landscapeMetricCount; ++m) {
            if (name == QLatin1String(landscapeNames[std::size_t(m)])) {
                selection.m_landscape.set(std::size_t(m));
                known = true;
            }
        }
        if (!known) {
            refusal = QCoreApplication::translate(
                          "MetricSelection",
                          "unknown metric '%1'; the class metrics are %2, the landscape metrics "
                          "are %3, and 'all' names them all")
                          .arg(name, knownNames(MetricLevel::Class).join(QLatin1String(", ")),
                               knownNames(MetricLevel::Landscape).join(QLatin1String(", ")));
            return std::nullopt;
        }
    }
    return selection;
}

std::optional<double> findMetricValue(std::span<const MetricRow> rows, MetricLevel level,
                                      qint32 classCode, QAnyStringView metric)
{
    for (const MetricRow &row : rows)
        if (row.level == level && (level == MetricLevel::Landscape || row.classCode == classCode) &&
            QAnyStringView::compare(metric, QLatin1String(row.metric)) == 0)
            return row.value;
    return std::nullopt;
}
