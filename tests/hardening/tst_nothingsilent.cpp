// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/hardening/tmpfsmount.h"

#include "tests/support/cli.h"
#include "tests/support/files.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QStringList fractalRun(const QString &out)
{
    return {"fractal", "--out",    out,      "-H", "0.5:0.5:0.1",
            "--cover", "10:90:10", "--size", "32", "--quiet"};
}

// A TCP listener on 127.0.0.1 only, on a port the system picks, that tells
// whether anything connected to it.
class LoopbackListener {
public:
    LoopbackListener()
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_socket < 0 ||
            ::bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            ::listen(m_socket, 16) != 0 ||
            ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
    }
    ~LoopbackListener()
    {
        if (m_socket >= 0)
            ::close(m_socket);
    }
    LoopbackListener(const LoopbackListener &) = delete;
    LoopbackListener &operator=(const LoopbackListener &) = delete;

    int port() const { return m_port; }
    // Whether a connection is waiting to be accepted; takes it if so.
    bool wasConnected()
    {
        const int client = ::accept(m_socket, nullptr, nullptr);
        if (client < 0)
            return false;
        ::close(client);
        return true;
    }

private:
    int m_socket = -1;
    int m_port = 0;
};

} // namespace

// Runs that could end silently, end without their records, or wait forever:
// each must say what happened, and keep what it wrote described.
class TestNothingSilent : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Surface files count in the checks made before anything is written:
    // their names must fit, and their bytes must fit on the disk.
    void surfacesAreCheckedBeforeTheRun()
    {
        QTemporaryDir dir;
        // Maps take the prefix and 18 bytes, surfaces the prefix and 22.
        const QString prefix(227, QLatin1Char('S'));
        const QString out = dir.filePath(QStringLiteral("names"));
        const CliRun named =
            runCli(fractalRun(out) + QStringList{"--write-surfaces", "--prefix", prefix});
        QCOMPARE(named.exitCode, 2);
        QVERIFY2(named.err.contains(QStringLiteral("_surface_")), qPrintable(named.err));
        QVERIFY(!QFileInfo::exists(out) || QDir(out).isEmpty());

        const QString disk = dir.filePath(QStringLiteral("disk"));
        TmpfsMount mount(disk, 200 << 10);
        if (!mount.isMounted())
            QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs: %1").arg(mount.error())));
        // The maps alone fit; with their surfaces they do not.
        const QString small = disk + QStringLiteral("/maps");
        const CliRun maps = runCli(fractalRun(small) + QStringList{"--replicates", "2"});
        QCOMPARE(maps.exitCode, 0);
        QVERIFY(QDir(small).removeRecursively());
        const CliRun both =
            runCli(fractalRun(small) + QStringList{"--replicates", "2", "--write-surfaces"});
        QCOMPARE(both.exitCode, 2);
        QVERIFY2(both.err.contains(QStringLiteral("free")), qPrintable(both.err));
        // The folder made for the run goes with it.
        QVERIFY(!QFileInfo::exists(small));
    }

    // A folder that cannot be made says the system's reason, whatever the
    // disk under it would hold, and the run is refused as given.
    void impossibleFolderGivesTheSystemsReason()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("file"));
        writeFile(file, "1\n");
        for (const auto &[out, error] :
             {std::pair{file + QStringLiteral("/x/y"), ENOTDIR},
              std::pair{QStringLiteral("/proc/patchwright-test/x"), ENOENT}}) {
            const CliRun run = runCli({"random", "--out", out, "--size", "4", "--cover", "10"});
            QCOMPARE(run.exitCode, 2);
            QVERIFY2(run.err.contains(systemText(error)), qPrintable(run.err));
        }
    }

    // A reference system is a definition, never a file or an address: none
    // is opened, none is connected to, and the run is refused at once.
    void crsNeverReachesTheNetworkOrFiles()
    {
        LoopbackListener listener;
        QVERIFY(listener.port() > 0);
        const QString url = QStringLiteral("http://127.0.0.1:%1/crs.prj").arg(listener.port());
        QTemporaryDir dir;
        const QString fifo = dir.filePath(QStringLiteral("crs.fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString wkt = dir.filePath(QStringLiteral("crs.prj"));
        writeFile(wkt, "EPSG:3035\n");
        // Definitions that name a file or a grid for PROJ or GDAL to read,
        // each naming the FIFO: read, any of them would wait for ever.
        const QString longlat = QStringLiteral("+proj=longlat +ellps=WGS84 ");
        const QString geographic = QStringLiteral(
            "GEOGCRS[\"x\",DATUM[\"d\",ELLIPSOID[\"WGS 84\",6378137,298.257223563]],"
            "CS[ellipsoidal,2],AXIS[\"lat\",north],AXIS[\"lon\",east],ANGLEUNIT[\"degree\","
            "0.0174532925199433]]");
        const QString json = QStringLiteral(
            "{\"type\":\"GeographicCRS\",\"name\":\"x\",\"datum\":{\"type\":"
            "\"GeodeticReferenceFrame\",\"name\":\"d\",\"ellipsoid\":{\"name\":\"WGS 84\","
            "\"semi_major_axis\":6378137,\"inverse_flattening\":298.257223563}},"
            "\"coordinate_system\":{\"subtype\":\"ellipsoidal\",\"axis\":[{\"name\":\"Lat\","
            "\"abbreviation\":\"lat\",\"direction\":\"north\",\"unit\":\"degree\"},"
            "{\"name\":\"Lon\",\"abbreviation\":\"lon\",\"direction\":\"east\",\"unit\":"
            "\"degree\"}]}}");
        const QStringList namingFiles{
            QStringLiteral("+init=%1:4326").arg(fifo),
            longlat + QStringLiteral("+nadgrids=%1").arg(fifo),
            longlat + QStringLiteral("+nadgrids=@%1").arg(fifo),
            longlat + QStringLiteral("+geoidgrids=%1").arg(fifo),
            longlat + QStringLiteral("+towgs84=@%1").arg(fifo),
            QStringLiteral("+proj=tinshift +file=%1").arg(fifo),
            QStringLiteral("+proj=defmodel +model=%1").arg(fifo),
            QStringLiteral("+proj=hgridshift +grids=%1").arg(fifo),
            QStringLiteral("+proj=deformation +xy_grids=%1 +t_epoch=2000").arg(fifo),
            QStringLiteral("DICT:crs.fifo,1"),
            QStringLiteral("BOUNDCRS[SOURCECRS[%1],TARGETCRS[%1],ABRIDGEDTRANSFORMATION[\"t\","
                           "METHOD[\"NTv2\"],PARAMETERFILE[\"Latitude and longitude difference "
                           "file\",\"%2\"]]]")
                .arg(geographic, fifo),
            QStringLiteral("GEOGCS[\"x\",DATUM[\"d\",SPHEROID[\"WGS 84\",6378137,298.257223563],"
                           "EXTENSION[\"PROJ4_GRIDS\",\"%1\"]],PRIMEM[\"Greenwich\",0],"
                           "UNIT[\"degree\",0.0174532925199433]]")
                .arg(fifo),
            QStringLiteral("{\"type\":\"BoundCRS\",\"source_crs\":%1,\"target_crs\":%1,"
                           "\"transformation\":{\"name\":\"t\",\"method\":{\"name\":\"NTv2\"},"
                           "\"parameters\":[{\"name\":\"Latitude and longitude difference "
                           "file\",\"value\":\"%2\"}]}}")
                .arg(json, fifo)};
        for (const QString &crs : QStringList{QStringLiteral("/vsicurl/") + url, url, fifo,
                                              QStringLiteral("/dev/stdin"), wkt} +
                                      namingFiles) {
            CliOptions options;
            options.timeoutMs = 20000;
            QElapsedTimer clock;
            clock.start();
            options.workingDirectory = dir.path();
            const CliRun run = runCli({"random", "--out", dir.filePath("out"), "--size", "4",
                                       "--cover", "10:10:1", "--format", "tif", "--crs", crs},
                                      options);
            QVERIFY2(clock.elapsed() < 15000, qPrintable(crs));
            QVERIFY2(run.exitCode == 2, qPrintable(crs + QLatin1Char(' ') + run.err));
            QVERIFY2(run.err.contains(QStringLiteral("--crs")) || run.err.contains(crs),
                     qPrintable(run.err));
            QVERIFY2(!listener.wasConnected(), qPrintable(crs));
        }
        QVERIFY(!QFileInfo::exists(dir.filePath("out")));
        // The one grid PROJ holds in itself, which the usual definition of
        // web maps names, is no file.
        const CliRun web = runCli(
            {"random", "--out", dir.filePath("web"), "--size", "4", "--cover", "10", "--format",
             "tif", "--origin", "0,0", "--quiet", "--crs",
             "+proj=merc +a=6378137 +b=6378137 +lat_ts=0 +lon_0=0 +x_0=0 +y_0=0 +k=1 +units=m "
             "+nadgrids=@null +wktext +no_defs"});
        QVERIFY2(web.exitCode == 0, qPrintable(web.err));
    }

    // Something other than a lock file at the lock's name holds no run: the
    // refusal says what is there instead of waiting on it or naming a
    // process that does not exist.
    void foreignFileAtTheLockNameIsNamed_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("said");
        QTest::newRow("fifo") << "fifo"
                              << "FIFO";
        QTest::newRow("folder") << "folder"
                                << "folder";
        QTest::newRow("link") << "link"
                              << "symbolic link";
    }

    void foreignFileAtTheLockNameIsNamed()
    {
        QFETCH(QString, kind);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(out));
        const QByteArray lock =
            QFile::encodeName(out + QStringLiteral("/RND_ListFragStat.fbt.lock"));
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(lock.constData(), 0600), 0);
        else if (kind == QLatin1String("folder"))
            QCOMPARE(::mkdir(lock.constData(), 0700), 0);
        else
            QCOMPARE(::symlink("/nonexistent/elsewhere", lock.constData()), 0);
        CliOptions options;
        options.timeoutMs = 20000;
        const CliRun run =
            runCli({"random", "--out", out, "--size", "4", "--cover", "10:10:1"}, options);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(said) && run.err.contains(QStringLiteral("no run")),
                 qPrintable(run.err));
        QVERIFY2(!run.err.contains(QStringLiteral("process 0")), qPrintable(run.err));
    }

    // config.txt is read as it always was, but what it did not supply is
    // said on every run.
    void configValuesNotSuppliedAreNamed_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("named");
        QTest::newRow("letters") << QByteArray("R_\n\nF_\n\nabc\n0\n") << "habitat code";
        QTest::newRow("decimal") << QByteArray("R_\n\nF_\n\n2.5\n0\n") << "matrix code";
        QTest::newRow("too large") << QByteArray("R_\n\nF_\n\n99999999999\n0\n") << "habitat code";
        QTest::newRow("empty") << QByteArray() << "habitat code";
        QTest::newRow("dangling link") << QByteArray("->") << "config.txt";
        QTest::newRow("NUL in a text")
            << QByteArray("R_\nx\0y\nF_\n\n1\n0\n", 14) << "line 2 holds a NUL";
    }

    void configValuesNotSuppliedAreNamed()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, named);
        QTemporaryDir dir;
        const QString config = dir.filePath(QStringLiteral("config.txt"));
        if (content == "->")
            QCOMPARE(::symlink("gone.txt", QFile::encodeName(config).constData()), 0);
        else
            writeFile(config, content);
        const CliRun run = runCli(
            {"random", "--out", "out", "--size", "4", "--cover", "10:10:1", "--quiet"}, dir.path());
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.contains(QStringLiteral("config.txt")) && run.err.contains(named),
                 qPrintable(run.err));
        QVERIFY2(run.err.contains(QStringLiteral("used")), qPrintable(run.err));
    }

    // User text shown in a message is never read as a format: a folder
    // named with %1 or %2 is shown as it is named.
    void folderNamesAreShownAsTheyAre()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("pct%2dir%1"));
        const QStringList batch{"random", "--out",   out,        "--size",
                                "4",      "--cover", "10:40:10", "--quiet"};
        QCOMPARE(runCli(batch).exitCode, 0);
        const CliRun again = runCli(batch);
        QCOMPARE(again.exitCode, 2);
        QVERIFY2(again.err.contains(QStringLiteral("pct%2dir%1")), qPrintable(again.err));
        const CliRun longNames =
            runCli(batch + QStringList{"--prefix", QString(250, QLatin1Char('P'))});
        QCOMPARE(longNames.exitCode, 2);
        QVERIFY2(longNames.err.contains(QStringLiteral("pct%2dir%1")), qPrintable(longNames.err));
    }

    // A GeoTIFF the system refuses says the system's reason.
    void geoTiffFailuresGiveTheSystemsReason()
    {
        QTemporaryDir dir;
        CliOptions limited;
        limited.fileSizeLimit = 20000;
        // Half a million random cells take some 45 KB however compressed.
        const CliRun tooLarge = runCli({"random", "--out", dir.filePath("big"), "--size", "700",
                                        "--cover", "50:50:1", "--format", "tif", "--quiet"},
                                       limited);
        QCOMPARE(tooLarge.exitCode, 1);
        QVERIFY2(tooLarge.err.contains(systemText(EFBIG)), qPrintable(tooLarge.err));

        const QString disk = dir.filePath(QStringLiteral("disk"));
        TmpfsMount mount(disk, 1 << 20);
        if (!mount.isMounted())
            QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs: %1").arg(mount.error())));
        const QString out = disk + QStringLiteral("/maps");
        QVERIFY(QDir().mkpath(out));
        QVERIFY(mount.remountReadOnly());
        const CliRun readOnly = runCli(
            {"random", "--out", out, "--size", "4", "--cover", "10:10:1", "--format", "tif"});
        QVERIFY(readOnly.exitCode != 0);
        QVERIFY2(readOnly.err.contains(systemText(EROFS)), qPrintable(readOnly.err));
    }

    // --quiet silences progress and the summary, never a warning.
    void shortfallIsSaidEvenWhenQuiet()
    {
        QTemporaryDir dir;
        const CliRun run = runCli({"fractal", "--out", dir.filePath("out"), "-H", "0.5:0.5:0.1",
                                   "--cover", "90:100:10", "--size", "16", "--quiet"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.contains(QStringLiteral("cover 100 fell short")), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestNothingSilent)
#include "tst_nothingsilent.moc"
