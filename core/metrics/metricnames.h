// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <QAnyStringView>

#include <bitset>
#include <cstdint>
#include <optional>
#include <span>

// The metrics a landscape is measured by, at the level of each class and of
// the whole landscape, under the short names of the field's reference tool
// (its `lsm_c_*` and `lsm_l_*` functions), so that its tables and ours
// bind. Within a level they are in the order of their names, as that tool
// sorts its output. docs/metrics.md gives every formula.
enum class MetricLevel : std::uint8_t { Class, Landscape };

enum class ClassMetric : std::uint8_t {
    Ai,
    AreaAm,
    AreaCv,
    AreaMn,
    Ca,
    Clumpy,
    Cohesion,
    Division,
    Ed,
    EnnMn,
    FracMn,
    GyrateAm,
    GyrateMn,
    Iji,
    Lpi,
    Lsi,
    Mesh,
    Np,
    Pafrac,
    Pd,
    Pladj,
    Pland,
    ShapeMn,
    Split,
    Te,
};
constexpr int classMetricCount = int(ClassMetric::Te) + 1;

enum class LandscapeMetric : std::uint8_t {
    Ai,
    AreaMn,
    Cohesion,
    Contag,
    Division,
    Ed,
    EnnMn,
    GyrateMn,
    Iji,
    Lpi,
    Lsi,
    Mesh,
    Np,
    Pafrac,
    Pd,
    Pladj,
    Pr,
    ShapeMn,
    Shdi,
    Shei,
    Sidi,
    Split,
    Ta,
    Te,
};
constexpr int landscapeMetricCount = int(LandscapeMetric::Te) + 1;

// "area_mn" and the like: static text, which rows of results point to.
const char *metricName(ClassMetric metric);
const char *metricName(LandscapeMetric metric);
// "class" or "landscape", as the reference tool's `level` column says.
const char *levelName(MetricLevel level);

// The metrics a run reports. A name picks the metric at every level that
// has it (np is both a class and a landscape metric).
class MetricSelection final {
public:
    static MetricSelection all();
    static MetricSelection none() { return {}; }

    // "all", or names separated by commas ("np,contag, enn_mn"). A name no
    // level knows is refused with a reason that lists the known names.
    static std::optional<MetricSelection> parse(const QString &text, QString &refusal);
    // What parse() reads back as this selection: "all", or its names in
    // order, each once.
    QString text() const;
    // The known names of each level, in order, for help texts and refusals.
    static QStringList knownNames(MetricLevel level);

    void add(ClassMetric metric) { m_class.set(std::size_t(metric)); }
    void add(LandscapeMetric metric) { m_landscape.set(std::size_t(metric)); }
    bool has(ClassMetric metric) const { return m_class.test(std::size_t(metric)); }
    bool has(LandscapeMetric metric) const { return m_landscape.test(std::size_t(metric)); }
    bool isEmpty() const { return m_class.none() && m_landscape.none(); }
    int classCount() const { return int(m_class.count()); }
    int landscapeCount() const { return int(m_landscape.count()); }

    friend bool operator==(const MetricSelection &, const MetricSelection &) = default;

private:
    std::bitset<classMetricCount> m_class;
    std::bitset<landscapeMetricCount> m_landscape;
};

// One value in the reference tool's long ("tidy") layout.
struct MetricRow {
    MetricLevel level;
    // The class the value describes; 0 at landscape level, where there is
    // none.
    qint32 classCode;
    // The metric's short name, static text.
    const char *metric;
    // NaN where the reference tool gives NA, such as PAFRAC for fewer than
    // ten patches; docs/metrics.md lists every case.
    double value;
};

// The value of `metric` at `level` (for class `classCode` at class level) in
// a map's rows, or nothing when they do not hold it: what a target on any
// metric reads.
std::optional<double> findMetricValue(std::span<const MetricRow> rows, MetricLevel level,
                                      qint32 classCode, QAnyStringView metric);
