#include "cli/batchcommand.h"

#include "cli/commandline.h"
#include "cli/consoleprogress.h"
#include "cli/rangeparser.h"
#include "core/batchlist.h"
#include "core/batchmanifest.h"
#include "core/batchresult.h"
#include "core/diskspace.h"
#include "core/hsweep.h"
#include "core/mapfilewriter.h"
#include "core/outputpaths.h"
#include "fractal/fractalmapgenerator.h"
#include "random/randommapgenerator.h"
#include "settings/appsettings.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>
#include <unistd.h>

namespace {

struct Bounds {
    int min;
    int max;
};

// The application's dialogs allow exactly these values; the command line
// holds to the same limits so that both produce the same batches.
constexpr Bounds initialCoverBounds{0, 99};
constexpr Bounds finalCoverBounds{1, 100};
constexpr Bounds coverStepBounds{1, 100};
constexpr Bounds sizeBounds{2, 9999999};
constexpr Bounds replicateBounds{1, 999999};
constexpr Bounds seedBounds{-999999, 999999};
constexpr Bounds coverValueBounds{-99999, 99999};
constexpr Bounds matrixValueBounds{-999999, 999999};

struct HBounds {
    double min;
    double max;
};
constexpr HBounds initialHBounds{0.1, 1.0};
constexpr HBounds finalHBounds{0.01, 1.0};
constexpr HBounds hStepBounds{0.01, 1.0};

QString outOfBounds(const QString &what, Bounds b)
{
    return QStringLiteral("%1 must be between %2 and %3").arg(what).arg(b.min).arg(b.max);
}

// The dialog's H boxes hold two decimals; a value it could not show is
// refused rather than rounded behind the user's back.
bool hasTwoDecimals(double value)
{
    const double hundredths = value * 100.0;
    return std::fabs(hundredths - std::round(hundredths)) < 1e-9;
}

bool withinH(double value, HBounds b)
{
    // Compare in hundredths so that 0.1 typed is 0.1 allowed.
    const long v = std::lround(value * 100.0);
    return v >= std::lround(b.min * 100.0) && v <= std::lround(b.max * 100.0);
}

// A batch the disk cannot hold is a request that cannot run as given: it
// is refused before anything is written, without the usage hint, since no
// option is wrong.
int refuseForSpace(CommandLine &cli, const QString &reason)
{
    cli.printErr(QStringLiteral("%1: %2\n").arg(cli.program(), reason));
    return CommandLine::UsageError;
}

bool stderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

} // namespace

struct BatchCommand::Common {
    int initialCover = 1;
    int finalCover = 100;
    int coverStep = 1;
    int size = 100;
    int replicates = 1;
    QString folder;
    MapFileWriter::Format format = MapFileWriter::Format::Plain;
    AppSettings *settings = nullptr;
};

BatchCommand::BatchCommand(CommandLine &commandLine, const QString &name)
    : m_cli(commandLine)
    , m_name(name)
    , m_help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
             QStringLiteral("Shows this help."))
    , m_out(QStringLiteral("out"),
            QStringLiteral("Folder for the maps and the batch list; created if missing."),
            QStringLiteral("DIR"))
    , m_cover(QStringLiteral("cover"),
              QStringLiteral("Cover percentages FIRST:LAST:STEP; FIRST 0..99, LAST 1..100, STEP "
                             "1..100 (default 1:100:1)."),
              QStringLiteral("FIRST:LAST:STEP"), QStringLiteral("1:100:1"))
    , m_size(QStringLiteral("size"),
             QStringLiteral("Cells per side of each square map (default 100)."),
             QStringLiteral("N"), QStringLiteral("100"))
    , m_replicates(QStringLiteral("replicates"),
                   QStringLiteral("Maps per cover, 1..999999 (default 1)."), QStringLiteral("N"),
                   QStringLiteral("1"))
    , m_prefix(QStringLiteral("prefix"),
               QStringLiteral("File name prefix (default from config.txt)."),
               QStringLiteral("TEXT"))
    , m_postString(QStringLiteral("post-string"),
                   QStringLiteral("Text appended to every batch list line (default from "
                                  "config.txt, else empty)."),
                   QStringLiteral("TEXT"))
    , m_coverValue(QStringLiteral("cover-value"),
                   QStringLiteral("Code written for habitat cells, -99999..99999 (default from "
                                  "config.txt, else 1)."),
                   QStringLiteral("N"))
    , m_matrixValue(QStringLiteral("matrix-value"),
                    QStringLiteral("Code written for matrix cells, -999999..999999 (default from "
                                   "config.txt, else 0)."),
                    QStringLiteral("N"))
    , m_quiet(QStringLiteral("quiet"), QStringLiteral("No progress line and no summary."))
    , m_format(QStringLiteral("format"),
               QStringLiteral("File format of the maps: plain (the default, .txt) or asc (ESRI "
                              "ASCII grid, .asc, for GIS tools)."),
               QStringLiteral("FORMAT"), QStringLiteral("plain"))
    , m_seed(QStringLiteral("seed"),
             QStringLiteral("Seed of the batch, -999999..999999 (default 5)."), QStringLiteral("N"),
             QStringLiteral("5"))
    , m_h(QStringLiteral("h-range"), QString(), QString())
{}

std::optional<int> BatchCommand::parse(const QStringList &arguments, const QString &description)
{
    m_parser.setApplicationDescription(description);
    m_parser.addOption(m_help);
    m_parser.addOptions({m_out, m_cover, m_size, m_replicates, m_prefix, m_postString, m_coverValue,
                         m_matrixValue, m_quiet, m_format});
    if (m_name == QLatin1String("random"))
        m_parser.addOption(m_seed);
    else
        m_parser.addOption(m_h);

    if (!m_parser.parse(arguments))
        return m_cli.usageError(m_parser.errorText());
    if (m_parser.isSet(m_help)) {
        // The parser names the executable's path in its usage line; the
        // command belongs there too.
        QString text = m_parser.helpText();
        text.replace(
            0, text.indexOf(QLatin1Char('\n')),
            QStringLiteral("Usage: %1 %2 --out DIR [options]").arg(m_cli.program(), m_name));
        m_cli.printOut(text);
        return CommandLine::Success;
    }
    if (!m_parser.positionalArguments().isEmpty())
        return m_cli.usageError(
            QStringLiteral("unexpected argument '%1'").arg(m_parser.positionalArguments().first()));
    return std::nullopt;
}

std::optional<int> BatchCommand::readCommon(Common &common, bool fractal)
{
    auto intValue = [this](const QCommandLineOption &option, Bounds bounds,
                           const QString &what) -> int {
        const QString text = m_parser.value(option);
        const auto value = parseInt(text);
        if (!m_error.isEmpty())
            return 0;
        if (!value)
            m_error = QStringLiteral("%1 is not a whole number: '%2'").arg(what, text);
        else if (*value < bounds.min || *value > bounds.max)
            m_error = outOfBounds(what, bounds);
        return value.value_or(0);
    };

    if (!m_parser.isSet(m_out) || m_parser.value(m_out).trimmed().isEmpty())
        return m_cli.usageError(QStringLiteral("--out DIR is required"));

    const auto cover = parseIntRange(m_parser.value(m_cover));
    if (!cover)
        return m_cli.usageError(
            QStringLiteral("--cover must be FIRST:LAST:STEP with whole numbers, not '%1'")
                .arg(m_parser.value(m_cover)));
    if (cover->first < initialCoverBounds.min || cover->first > initialCoverBounds.max)
        return m_cli.usageError(outOfBounds(QStringLiteral("the first cover"), initialCoverBounds));
    if (cover->last < finalCoverBounds.min || cover->last > finalCoverBounds.max)
        return m_cli.usageError(outOfBounds(QStringLiteral("the last cover"), finalCoverBounds));
    if (cover->step < coverStepBounds.min || cover->step > coverStepBounds.max)
        return m_cli.usageError(outOfBounds(QStringLiteral("the cover step"), coverStepBounds));
    common.initialCover = cover->first;
    common.finalCover = cover->last;
    common.coverStep = cover->step;

    const QString format = m_parser.value(m_format);
    if (format == QLatin1String("asc"))
        common.format = MapFileWriter::Format::AsciiGrid;
    else if (format != QLatin1String("plain"))
        return m_cli.usageError(
            QStringLiteral("--format must be plain or asc, not '%1'").arg(format));

    common.size = intValue(m_size, sizeBounds, QStringLiteral("--size"));
    common.replicates = intValue(m_replicates, replicateBounds, QStringLiteral("--replicates"));

    AppSettings &settings = *common.settings;
    if (QFileInfo(defaultConfigFileName()).isFile()) {
        // The file decides the texts it holds, as it does for the GUI.
        AppSettings fromFile = settings;
        loadConfig(fromFile);
        settings = fromFile;
    }
    if (m_parser.isSet(m_coverValue))
        settings.coverValue =
            intValue(m_coverValue, coverValueBounds, QStringLiteral("--cover-value"));
    if (m_parser.isSet(m_matrixValue))
        settings.matrixValue =
            intValue(m_matrixValue, matrixValueBounds, QStringLiteral("--matrix-value"));
    if (!m_error.isEmpty())
        return m_cli.usageError(m_error);
    QString &prefix = fractal ? settings.fractalPrefix : settings.randomPrefix;
    QString &postString = fractal ? settings.fractalPostString : settings.randomPostString;
    if (m_parser.isSet(m_prefix))
        prefix = m_parser.value(m_prefix);
    if (m_parser.isSet(m_postString))
        postString = m_parser.value(m_postString);

    common.folder = QDir(m_parser.value(m_out)).absolutePath();
    return std::nullopt;
}

int BatchCommand::finish(const BatchResult &result, const QStringList &fileNames,
                         const QList<MapRecord> &records, const QString &stem,
                         const QString &postString)
{
    if (result.status == BatchResult::Status::Refused)
        return m_cli.usageError(result.message);

    // The list names exactly the maps that are complete on disk, also after
    // a failure or a stop, so the run's work is never orphaned.
    const FileResult listError = writeBatchList(fileNames, stem, postString);
    int status = CommandLine::Success;
    if (result.status == BatchResult::Status::WriteFailed)
        status = m_cli.runFailure(
            QStringLiteral("stopped after %1 maps: %2").arg(fileNames.size()).arg(result.message));
    if (listError)
        status = m_cli.runFailure(
            QStringLiteral("batch list not written: %1").arg(listError->message()));
    if (const FileResult manifestError = writeManifest(records, stem))
        status = m_cli.runFailure(
            QStringLiteral("manifest not written: %1").arg(manifestError->message()));
    const QString listName = QDir::toNativeSeparators(batchListFileName(stem));
    if (status == CommandLine::Success && result.status == BatchResult::Status::Canceled) {
        const int signal = ConsoleProgress::stopSignal();
        m_cli.printErr(QStringLiteral("%1: stopped by signal %2 after %3 maps; they are listed in "
                                      "%4\n")
                           .arg(m_cli.program())
                           .arg(signal)
                           .arg(fileNames.size())
                           .arg(listName));
        return 128 + signal;
    }
    if (status == CommandLine::Success && !m_parser.isSet(m_quiet))
        m_cli.printOut(
            QStringLiteral("%1 maps written; batch list %2\n").arg(fileNames.size()).arg(listName));
    return status;
}

int BatchCommand::runRandom(const QStringList &arguments)
{
    if (const auto done = parse(
            arguments,
            QStringLiteral(
                "Writes a batch of random maps: for every cover FIRST, FIRST+STEP, ... up to "
                "LAST,\n"
                "REPLICATES maps in which each cell is habitat with the cover as probability.\n"
                "The same seed and values give byte-identical files. Files are named\n"
                "PREFIX + cover (3 digits) + _SIZExSIZE_a + replicate + .txt (or .asc); the\n"
                "batch list PREFIX + ListFragStat.fbt and the manifest PREFIX + manifest.csv\n"
                "are written beside them.")))
        return *done;

    AppSettings settings;
    settings.randomPrefix = QStringLiteral("RND_");
    Common common;
    common.settings = &settings;
    if (const auto done = readCommon(common, false))
        return *done;
    const int seed = [this] {
        const auto value = parseInt(m_parser.value(m_seed));
        if (!value)
            m_error =
                QStringLiteral("--seed is not a whole number: '%1'").arg(m_parser.value(m_seed));
        else if (*value < seedBounds.min || *value > seedBounds.max)
            m_error = outOfBounds(QStringLiteral("--seed"), seedBounds);
        return value.value_or(0);
    }();
    if (!m_error.isEmpty())
        return m_cli.usageError(m_error);

    const QString stem = nameStem(common.folder, settings.randomPrefix);
    if (const auto refusal =
            DiskSpace(common.folder)
                .randomBatchRefusal({common.initialCover, common.finalCover, common.coverStep,
                                     common.size, common.replicates, settings.matrixValue,
                                     settings.coverValue, stem, settings.randomPostString}))
        return refuseForSpace(m_cli, *refusal);

    if (const auto refusal = prepareOutputFolder(common.folder))
        return m_cli.runFailure(*refusal);

    ConsoleProgress::installSignalHandlers();
    ConsoleProgress progress(stderrIsTerminal() && !m_parser.isSet(m_quiet));
    QStringList fileNames;
    QList<MapRecord> records;
    RandomMapGenerator generator;
    generator.setFormat(common.format);
    generator.setRecords(&records);
    const BatchResult result =
        generator.runBatch(common.initialCover, common.finalCover, common.coverStep, common.size,
                           common.size, common.replicates, settings.matrixValue,
                           settings.coverValue, stem, quint32(seed), fileNames, progress);
    progress.finish();
    return finish(result, fileNames, records, stem, settings.randomPostString);
}

int BatchCommand::runFractal(const QStringList &arguments)
{
    m_h = QCommandLineOption(QStringLiteral("h"),
                             QStringLiteral("Hurst exponents FIRST:LAST:STEP with at most two "
                                            "decimals; FIRST 0.1..1, LAST and STEP 0.01..1 "
                                            "(default 0.1:0.9:0.1)."),
                             QStringLiteral("FIRST:LAST:STEP"), QStringLiteral("0.1:0.9:0.1"));
    // -h is taken by H here, so help is --help only.
    m_help = QCommandLineOption(QStringLiteral("help"), QStringLiteral("Shows this help."));
    if (const auto done = parse(
            arguments,
            QStringLiteral(
                "Writes a batch of fractal maps. For every H, surfaces are built for the seeds\n"
                "0 to 199 and cut at 80 thresholds; every cut whose cover is a requested one\n"
                "still short of REPLICATES maps is written. Files are named PREFIX + H (two\n"
                "decimals) + _ + cover (3 digits) + _ + replicate (5 digits) + .txt (or .asc);\n"
                "the batch list PREFIX + ListFragStat.fbt and the manifest PREFIX +\n"
                "manifest.csv are written beside them. Maps can be at most 4096 cells per side.")))
        return *done;

    AppSettings settings;
    settings.fractalPrefix = QStringLiteral("FBM_");
    Common common;
    common.settings = &settings;
    if (const auto done = readCommon(common, true))
        return *done;

    const auto h = parseDoubleRange(m_parser.value(m_h));
    if (!h)
        return m_cli.usageError(
            QStringLiteral("--h must be FIRST:LAST:STEP with decimal numbers, not '%1'")
                .arg(m_parser.value(m_h)));
    if (!hasTwoDecimals(h->first) || !hasTwoDecimals(h->last) || !hasTwoDecimals(h->step))
        return m_cli.usageError(QStringLiteral("H values have at most two decimals"));
    if (!withinH(h->first, initialHBounds))
        return m_cli.usageError(QStringLiteral("the first H must be between 0.1 and 1"));
    if (!withinH(h->last, finalHBounds))
        return m_cli.usageError(QStringLiteral("the last H must be between 0.01 and 1"));
    if (!withinH(h->step, hStepBounds))
        return m_cli.usageError(QStringLiteral("the H step must be between 0.01 and 1"));
    if (common.size > FractalMapGenerator::maxMapSize)
        return m_cli.usageError(QStringLiteral("fractal maps can be at most %1 cells per side")
                                    .arg(FractalMapGenerator::maxMapSize));

    const QString stem = nameStem(common.folder, settings.fractalPrefix);
    if (const auto refusal =
            DiskSpace(common.folder)
                .fractalBatchRefusal({common.initialCover, common.finalCover, common.coverStep,
                                      common.size, common.replicates, settings.matrixValue,
                                      settings.coverValue, stem, settings.fractalPostString},
                                     int(hValues(h->first, h->last, h->step).size())))
        return refuseForSpace(m_cli, *refusal);

    if (const auto refusal = prepareOutputFolder(common.folder))
        return m_cli.runFailure(*refusal);

    ConsoleProgress::installSignalHandlers();
    ConsoleProgress progress(stderrIsTerminal() && !m_parser.isSet(m_quiet));
    QStringList fileNames;
    QList<MapRecord> records;
    FractalMapGenerator generator;
    generator.setFormat(common.format);
    generator.setRecords(&records);
    const BatchResult result = generator.runFractalBatch(
        h->first, h->last, h->step, common.initialCover, common.finalCover, common.coverStep,
        common.size, common.replicates, settings.matrixValue, settings.coverValue, stem, fileNames,
        progress);
    progress.finish();
    return finish(result, fileNames, records, stem, settings.fractalPostString);
}
