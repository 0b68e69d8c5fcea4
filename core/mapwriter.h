#pragma once

#include "core/batchrequest.h"
#include "core/fileerror.h"
#include "core/mapfilewriter.h"
#include "core/pendingfile.h"

#include <QString>

#include <cstdint>
#include <vector>

// Writes the maps of a batch, one at a time, in the batch's format, with the
// batch's codes. Generators decide which cells are habitat; everything about
// how a map is stored, and what else is taken from its cells on the way,
// lives here, so that a new format or measure needs no change to them.
//
// When the map only goes to a text file, each cell is decided while its row
// is formatted, which is the fastest way to write the default format. Any
// other use first settles a row's cells and then hands the row to every
// consumer.
class MapWriter final {
public:
    explicit MapWriter(const BatchOutput &output);
    MapWriter(const MapWriter &) = delete;
    MapWriter &operator=(const MapWriter &) = delete;

    FileResult open(const QString &path, int rowCount, int columnCount);

    // The next row, top first: isHabitat(column) for every column in order.
    template <typename IsHabitat> void putRow(int columnCount, IsHabitat isHabitat)
    {
        m_text.putRow(columnCount, isHabitat);
    }

    qint64 cellCount() const { return m_text.cellCount(); }
    qint64 habitatCellCount() const { return m_text.habitatCellCount(); }

    // Completes the map under its temporary name and hands it over.
    FileResult finish(PendingFile &file) { return m_text.finish(file); }
    void discard() { m_text.discard(); }

private:
    MapFileWriter m_text;
};
