// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "tests/hardening/processmemory.h"

#include "tests/support/files.h"
#include "tests/support/settings.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype keptTextLength = 1 << 16;

// The bytes of a literal that may hold NULs, without its terminating one.
template <std::size_t N> QByteArray bytesOf(const char (&literal)[N])
{
    return QByteArray(literal, qsizetype(N - 1));
}

// A start-up that blocks on the file (a pipe without a writer, a device
// without an end) ends the test by SIGALRM instead of hanging it.
class HangGuard {
public:
    explicit HangGuard(unsigned seconds) { ::alarm(seconds); }
    ~HangGuard() { ::alarm(0); }
    HangGuard(const HangGuard &) = delete;
    HangGuard &operator=(const HangGuard &) = delete;
};

using Setup = std::function<void(const QString &configPath)>;

AppSettings defaults()
{
    return AppSettings{};
}

AppSettings withTexts(const QString &a, const QString &b, const QString &c, const QString &d,
                      qint32 cover = 1, qint32 matrix = 0)
{
    return AppSettings{a, b, c, d, cover, matrix};
}

} // namespace

// Lets a failed comparison show both sides.
char *toString(const AppSettings &s)
{
    const QString text = QStringLiteral("{\"%1\", \"%2\", \"%3\", \"%4\", %5, %6}")
                             .arg(s.randomPrefix.left(40), s.randomPostString.left(40),
                                  s.fractalPrefix.left(40), s.fractalPostString.left(40))
                             .arg(s.coverValue)
                             .arg(s.matrixValue);
    return qstrdup(qPrintable(text));
}

Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(AppSettings)

// Whatever "config.txt" has become, the application starts, takes what the
// file's rules give and the defaults for the rest, and shows its window.
class TestHostileSettings : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_oldCwd;
    ScratchSettings m_settings;

private Q_SLOTS:
    void initTestCase()
    {
        m_oldCwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
    }

    void cleanupTestCase() { QDir::setCurrent(m_oldCwd); }

    void cleanup()
    {
        QFile::remove(QStringLiteral("config.txt"));
        QDir(QStringLiteral("config.txt")).removeRecursively();
    }

    void windowStartsWithWhatTheFileGives_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<AppSettings>("expected");

        QTest::newRow("binary") << Setup([](const QString &path) {
            writeFile(path, bytesOf("\x00\x01\xff\n\xfe\x00tail\n\x80\x81\n\x7f\n\x00\x00 12\n"));
        })
                                << withTexts(QString(), QString(), QStringLiteral("\u0080\u0081"),
                                             QStringLiteral("\u007f"));
        QTest::newRow("numbers far beyond 32 bits") << Setup([](const QString &path) {
            writeFile(path, "a\nb\nc\nd\n99999999999999999999999\n-99999999999999999999\n");
        }) << withTexts("a", "b", "c", "d");
        QTest::newRow("32-bit extremes beyond the settings form's range")
            << Setup([](const QString &path) {
                   writeFile(path, "a\nb\nc\nd\n-2147483648\n2147483647\n");
               })
            << withTexts("a", "b", "c", "d", -2147483647 - 1, 2147483647);
        QTest::newRow("a directory")
            << Setup([](const QString &path) { QDir().mkpath(path); }) << defaults();
        QTest::newRow("a pipe without a writer")
            << Setup([](const QString &path) { ::mkfifo(QFile::encodeName(path), 0600); })
            << defaults();
        QTest::newRow("a device without an end")
            << Setup([](const QString &path) { QFile::link(QStringLiteral("/dev/zero"), path); })
            << defaults();
        QTest::newRow("a link to itself, which no one can open")
            << Setup([](const QString &path) { QFile::link(path, path); }) << defaults();
        QTest::newRow("a dangling link") << Setup([](const QString &path) {
            QFile::link(QStringLiteral("/nonexistent/config.txt"), path);
        }) << defaults();
        if (::geteuid() != 0)
            QTest::newRow("no read permission") << Setup([](const QString &path) {
                writeFile(path, "a\nb\nc\nd\n3\n4\n");
                QFile::setPermissions(path, QFileDevice::WriteOwner);
            }) << defaults();
    }

    void windowStartsWithWhatTheFileGives()
    {
        QFETCH(Setup, setup);
        QFETCH(AppSettings, expected);
        setup(QDir::current().filePath(QStringLiteral("config.txt")));

        HangGuard guard(20);
        MainWindow w;
        QCOMPARE(w.appSettings(), expected);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
    }

    // The window keeps what the file gave but says, when it starts, which
    // values the file did not supply and what it uses instead.
    void windowSaysWhatTheFileDidNotSupply()
    {
        writeFile(QStringLiteral("config.txt"), "a\nb\nc\nd\nabc\n0\n");
        MainWindow w;
        QCOMPARE(w.appSettings(), withTexts("a", "b", "c", "d"));
        const QString message = w.statusBar()->currentMessage();
        QVERIFY2(message.contains(QStringLiteral("config.txt")) &&
                     message.contains(QStringLiteral("habitat code (1 is used)")) &&
                     message.contains(QStringLiteral("matrix code (0 is used)")),
                 qPrintable(message));
    }

    void enormousFirstLineIsCutAndTheRestStillRead()
    {
        // 200 MB without a line feed, then the other five lines: the first
        // text keeps its first 64 KiB, the file is read to its end, and the
        // reader holds no more than one text at a time.
        {
            QFile file(QStringLiteral("config.txt"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            const QByteArray block(1 << 20, 'A');
            for (int i = 0; i < 200; ++i)
                QCOMPARE(file.write(block), block.size());
            file.write("\nsecond\nthird\nfourth\n5\n6\n");
        }
        const qint64 before = ProcessMemory::residentBytes();
        MainWindow w;
        const qint64 after = ProcessMemory::residentBytes();
        QCOMPARE(w.appSettings(),
                 withTexts(QString(keptTextLength, QLatin1Char('A')), QStringLiteral("second"),
                           QStringLiteral("third"), QStringLiteral("fourth"), 5, 6));
        if (before > 0 && !ProcessMemory::underAddressSanitizer())
            QVERIFY2(after - before < 64 << 20, qPrintable(QString::number(after - before)));
    }

    void commandLineRunsWithHostileConfig()
    {
        // A prefix of 64 KiB makes every name too long for the file system:
        // the run is refused before anything is written, with the limit.
        writeFile(QStringLiteral("config.txt"), QByteArray(keptTextLength * 2, 'P') + "\n\n\n\n");
        QProcess cli;
        cli.start(QStringLiteral(PW_CLI_PATH),
                  {"random", "--out", "maps", "--cover", "0:100:100", "--size", "2", "--quiet"});
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 2);
        const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
        QVERIFY2(err.contains(QStringLiteral("allows 255 bytes in a name")),
                 qPrintable(err.left(300)));
        QVERIFY(QDir(QStringLiteral("maps")).entryList(QDir::Files).isEmpty());
        QDir(QStringLiteral("maps")).removeRecursively();
    }
};

QTEST_MAIN(TestHostileSettings)
#include "tst_hostilesettings.moc"
