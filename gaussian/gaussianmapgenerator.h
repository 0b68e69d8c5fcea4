// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/mapsource.h"
#include "core/batch/maptargets.h"
#include "core/batch/surfaceblend.h"
#include "gaussian/gaussianbatchrequest.h"
#include "gaussian/gaussianfield.h"

#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class MapWriter;

// Runs a Gaussian field batch: for every range (or H), requested cover and
// replicate, in that order, one field of its own is drawn, from the seed and
// those three values alone, and cut at the cover. Exact cuts (the default)
// leave exactly round(cover * cells / 100) cells of habitat; ladder cuts
// rescale the field to [0, 1] and take the lowest of the thresholds 0.10,
// 0.11, ... 0.89 whose whole percentage is the cover, or give no map.
//
// Fields are drawn ahead on helper threads while the run writes the maps of
// the ones before; each is a pure function of its stream, so the files are
// the same on any number of threads.
//
// With targets, every field is a draw of its cell (a range and a cover):
// draw d is the field of replicate d, and the maps kept are numbered in
// the order they pass.
class GaussianMapGenerator final : public MapSource {
public:
    explicit GaussianMapGenerator(const GaussianBatchRequest &request);
    ~GaussianMapGenerator() override;

    const FamilyRequest &request() const override { return m_request; }
    // The request's own refusal, or why one of its fields cannot be drawn
    // exactly.
    std::optional<Phrase> refusal() const override;
    QString longestMapName(const QString &nameStem) const override;
    ManifestColumns manifestColumns() const override;
    BatchResult makeMaps(const QString &nameStem, MapPublisher &publisher,
                         BatchProgress &progress) override;
    QList<Phrase> shortfalls(const MapTally &written) const override;
    QStringList acceptance() const override;
    void settleRecords(QList<MapRecord> &records) const override;

    // Whether this run makes the unit-th unit of the batch's shares
    // (GaussianBatchRequest::shareUnits): a field, or with targets a cell,
    // counted in the order the batch visits them.
    bool ownsUnit(qint64 unit) const;

    // The model of the request at one value of its sweep.
    static FieldModel fieldModel(const GaussianBatchRequest &request, double axisValue);
    // The stream of one field: the sweep's value enters in hundredths, so
    // that a map can be made again from its manifest row alone.
    static FieldStream fieldStream(const GaussianBatchRequest &request, double axisValue, int cover,
                                   int replicate);
    // The field a batch of the request, with one value of its sweep, draws
    // for a cover and a replicate (its draw, with targets), as drawn: what
    // the front ends give as a map's surface. Refused with the reason, in
    // the words of the arguments of their surface functions.
    static std::optional<Phrase> drawField(const GaussianBatchRequest &request, qint64 cover,
                                           qint64 replicate, std::vector<double> &values);

    static QString progressLabel(const GaussianBatchRequest &request, double axisValue,
                                 int replicate);

protected:
    bool ownsPlace(const NamePlace &place) const override;

private:
    // The name of a map of the batch, or of the field it was cut from.
    QString fileName(const QString &nameStem, double axisValue, int cover, int replicate,
                     bool surface) const;
    struct Field;
    // Where a field is cut, or nothing when no threshold of the ladder
    // gives its cover; `values` then points at what is cut.
    struct Cut {
        double threshold = 0;
        qint64 tiesAbove = 0;
    };
    // The embedding of the index-th value of the sweep, built once.
    const CirculantEmbedding *embedding(std::size_t index, QString *refusal) const;
    BatchResult drawAllFields(const QString &nameStem, MapWriter &writer, MapPublisher &publisher,
                              BatchProgress &progress);
    BatchResult drawUntilKept(const QString &nameStem, MapWriter &writer, MapPublisher &publisher,
                              BatchProgress &progress);
    std::optional<Cut> cutOf(Field &field, std::vector<double> &scratch) const;
    FileResult writeMap(const Field &field, const Cut &cut, const QString &nameStem,
                        MapWriter &writer, MapPublisher &publisher) const;
    QString notEnoughMemory(std::size_t axisIndex) const;
    // Blends the request's parts into a field just drawn.
    void blendInto(Field &field) const;

    GaussianBatchRequest m_request;
    std::vector<double> m_axis;
    mutable std::vector<std::unique_ptr<CirculantEmbedding>> m_embeddings;
    std::unique_ptr<SurfaceBlend> m_blend;
    SelectionLedger m_ledger;
};
