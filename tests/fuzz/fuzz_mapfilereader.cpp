// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the streaming map reader in arbitrary blocks and
// checks the grid against a plain transcription of the reading rules: split
// the data into lines, each line into tokens at every space, and convert all
// tokens but the last with the toolkit's own integer conversion, refusing a
// whole number beyond its range at its line and column.
#include "core/grid/mapfilereader.h"
#include "tests/support/grids.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses how the rest is cut into blocks, so that state
    // carried across block boundaries is exercised at every position.
    std::uint32_t state = data[0] * 2654435761u + 1;
    const std::string_view bytes(reinterpret_cast<const char *>(data + 1), size - 1);

    LandscapeGrid grid;
    MapFileReader reader(grid);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        state = state * 1664525u + 1013904223u;
        const std::size_t length = 1 + (state >> 24) % 64;
        const std::size_t take = length < bytes.size() - pos ? length : bytes.size() - pos;
        reader.feed(bytes.substr(pos, take));
        pos += take;
    }
    reader.finish();

    const PlainMap map = plainReference(bytes);
    if (map.beyondRange.has_value() != reader.failure().has_value())
        std::abort();
    if (map.beyondRange) {
        if (!namesPlace(*reader.failure(), *map.beyondRange))
            std::abort();
        return 0;
    }
    const Rows &expected = map.rows;
    if (grid.rowCount() != expected.size())
        std::abort();
    for (std::size_t r = 0; r < expected.size(); ++r) {
        const auto row = grid.row(r);
        if (row.size() != expected[r].size())
            std::abort();
        for (std::size_t c = 0; c < row.size(); ++c)
            if (row[c] != expected[r][c])
                std::abort();
    }
    return 0;
}
