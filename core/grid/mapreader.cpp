// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/mapreader.h"

#include "core/files/regularfile.h"
#include "core/grid/asciigridreader.h"
#include "core/grid/geotiff.h"
#include "core/grid/mapcontent.h"
#include "core/grid/mapfilereader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace {

// Hands a text reader the file's bytes and shows each block to the content
// check, if any, on its way, so that the file is read once. Once the check
// has seen binary content the device reports its end, and the reader stops
// instead of turning megabytes of an image into cells that are thrown away;
// once `stop` says so, the device fails with the reason.
class CheckedDevice final : public QIODevice {
public:
    CheckedDevice(QIODevice &source, MapContentCheck *check, const ReadStop &stop)
        : m_source(source)
        , m_check(check)
        , m_stop(stop)
        , m_size(source.size() - source.pos())
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }

    bool isSequential() const override { return true; }
    bool stopped() const { return m_stopped; }
    // The plain reader sizes its grid from this.
    qint64 size() const override { return m_size; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (m_check && m_check->isBinary())
            return 0;
        if (m_stop && m_stop()) {
            m_stopped = true;
            setErrorString(readStoppedReason());
            return -1;
        }
        const qint64 got = m_source.read(data, maxSize);
        if (got < 0)
            setErrorString(m_source.errorString());
        else if (m_check)
            m_check->feed(std::string_view(data, std::size_t(got)));
        return got;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QIODevice &m_source;
    MapContentCheck *m_check;
    const ReadStop &m_stop;
    bool m_stopped = false;
    qint64 m_size;
};

} // namespace

FileResult readMap(const QString &path, LandscapeGrid &grid, const ReadStop &stop,
                   MapFileInfo *info)
{
    grid.clear();
    if (info)
        *info = {};
    // One open for both the look at the first bytes and the read, so that
    // what is read is the file that was looked at.
    QFile file;
    if (FileResult error = openRegularFile(path, file))
        return error;
    const QString shown = QDir::toNativeSeparators(path);
    const QByteArray start = file.peek(AsciiGridReader::bytesToTell);
    if (AsciiGridReader::isAsciiGrid(start)) {
        FileResult result;
        if (!stop) {
            result = AsciiGridReader::read(file, shown, grid, info);
        } else {
            CheckedDevice device(file, nullptr, stop);
            result = AsciiGridReader::read(device, shown, grid, info);
        }
        if (info)
            info->format = MapFormat::AsciiGrid;
        return result;
    }
    // GDAL opens a GeoTIFF by its name; the file checked above is a regular
    // one, so the open cannot wait on a pipe or a device.
    if (looksLikeTiff(start)) {
        FileResult result = readGeoTiff(path, grid, stop, info);
        if (info)
            info->format = MapFormat::GeoTiff;
        return result;
    }

    MapContentCheck check;
    CheckedDevice device(file, &check, stop);
    std::optional<MapFileReader::CellPosition> madeUp;
    if (FileResult error = MapFileReader::read(device, shown, grid, &madeUp)) {
        // The plain format keeps the rows read before a failure of the disk;
        // a read that was stopped is not wanted at all.
        if (device.stopped())
            grid.clear();
        return error;
    }
    if (check.isMap()) {
        if (info && madeUp)
            info->madeUpCell = QCoreApplication::translate("readMap", "row %1, cell %2")
                                   .arg(madeUp->row)
                                   .arg(madeUp->cell);
        return std::nullopt;
    }
    grid.clear();
    return FileError{
        shown,
        check.isBinary()
            ? QCoreApplication::translate("readMap",
                                          "not a map file: it holds bytes that no text file holds")
            : QCoreApplication::translate("readMap", "not a map file: no whole number in it")};
}
