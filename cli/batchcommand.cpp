#include "cli/batchcommand.h"

#include "cli/commandline.h"
#include "cli/consoleprogress.h"
#include "cli/rangeparser.h"
#include "core/batchjob.h"
#include "fractal/fractalmapgenerator.h"
#include "random/randommapgenerator.h"
#include "settings/appsettings.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

#include <unistd.h>

namespace {

QString span(IntLimits limits)
{
    return QStringLiteral("%1..%2").arg(limits.min).arg(limits.max);
}

QString span(HundredthsLimits limits)
{
    return QStringLiteral("%1..%2").arg(limits.min).arg(limits.max);
}

bool stderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

} // namespace

BatchCommand::BatchCommand(CommandLine &commandLine, const QString &name)
    : m_cli(commandLine)
    , m_name(name)
    , m_help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
             QStringLiteral("Shows this help."))
    , m_out(QStringLiteral("out"),
            QStringLiteral("Folder for the maps and the batch list; created if missing."),
            QStringLiteral("DIR"))
    , m_cover(QStringLiteral("cover"),
              QStringLiteral("Cover percentages FIRST:LAST:STEP; FIRST %1, LAST %2, STEP %3 "
                             "(default 1:100:1).")
                  .arg(span(RandomBatchRequest::firstCoverLimits),
                       span(RandomBatchRequest::lastCoverLimits),
                       span(RandomBatchRequest::coverStepLimits)),
              QStringLiteral("FIRST:LAST:STEP"), QStringLiteral("1:100:1"))
    , m_size(QStringLiteral("size"),
             QStringLiteral("Cells per side of each square map (default 100)."),
             QStringLiteral("N"), QStringLiteral("100"))
    , m_replicates(QStringLiteral("replicates"),
                   QStringLiteral("Maps per cover, %1 (default 1).")
                       .arg(span(RandomBatchRequest::replicateLimits)),
                   QStringLiteral("N"), QStringLiteral("1"))
    , m_prefix(QStringLiteral("prefix"),
               QStringLiteral("File name prefix (default from config.txt)."),
               QStringLiteral("TEXT"))
    , m_postString(QStringLiteral("post-string"),
                   QStringLiteral("Text appended to every batch list line (default from "
                                  "config.txt, else empty)."),
                   QStringLiteral("TEXT"))
    , m_coverValue(QStringLiteral("cover-value"),
                   QStringLiteral("Code written for habitat cells, %1 (default from "
                                  "config.txt, else 1).")
                       .arg(span(BatchOutput::coverValueLimits)),
                   QStringLiteral("N"))
    , m_matrixValue(QStringLiteral("matrix-value"),
                    QStringLiteral("Code written for matrix cells, %1 (default from "
                                   "config.txt, else 0).")
                        .arg(span(BatchOutput::matrixValueLimits)),
                    QStringLiteral("N"))
    , m_quiet(QStringLiteral("quiet"), QStringLiteral("No progress line and no summary."))
    , m_format(QStringLiteral("format"),
               QStringLiteral("File format of the maps: plain (the default, .txt), asc (ESRI "
                              "ASCII grid, .asc) or tif (GeoTIFF, .tif), both for GIS tools."),
               QStringLiteral("FORMAT"), QStringLiteral("plain"))
    , m_overwrite(QStringLiteral("overwrite"),
                  QStringLiteral("Replace the files of an earlier run with the same prefix in the "
                                 "folder; without it such a run is refused."))
    , m_noSync(QStringLiteral("no-sync"),
               QStringLiteral("Name maps without waiting for the disk to hold them: faster on a "
                              "busy disk, but a crash can then leave a name on a partial map. "
                              "For scratch runs on a RAM disk."))
    , m_generator(QStringLiteral("generator"),
                  QStringLiteral("Where the randomness comes from: classic (the default, the "
                                 "15-bit generator every earlier batch used) or philox "
                                 "(independent replicates; see the README)."),
                  QStringLiteral("NAME"), QStringLiteral("classic"))
    , m_noData(QStringLiteral("nodata"),
               QStringLiteral("NODATA value of asc and tif maps, neither code (default: -9999 for "
                              "asc, for tif -9999 or the largest value of the cell type that is "
                              "not a code)."),
               QStringLiteral("N"))
    , m_cellSize(QStringLiteral("cell-size"),
                 QStringLiteral("Side of a cell in map units, for asc and tif maps and the "
                                "metrics' areas (default 1)."),
                 QStringLiteral("S"), QStringLiteral("1"))
    , m_origin(QStringLiteral("origin"),
               QStringLiteral("Lower-left corner of asc and tif maps (default 0,0)."),
               QStringLiteral("X,Y"))
    , m_crs(QStringLiteral("crs"),
            QStringLiteral("Coordinate reference system of tif maps, as GDAL takes it (for "
                           "example EPSG:3035); none by default."),
            QStringLiteral("CRS"))
    , m_metrics(QStringLiteral("metrics"),
                QStringLiteral("Adds each map's landscape metrics to the manifest: habitat "
                               "cells, NP, LPI, AREA_MN, AREA_AM, ED and GYRATE_AM."))
    , m_neighbours(QStringLiteral("neighbours"),
                   QStringLiteral("Cells that join into one patch for the metrics: 8 (sides and "
                                  "corners, the default) or 4 (sides)."),
                   QStringLiteral("N"), QStringLiteral("8"))
{}

std::optional<int> BatchCommand::parse(const QStringList &arguments, const QString &description,
                                       const QList<QCommandLineOption> &ownOptions)
{
    m_parser.setApplicationDescription(description);
    m_parser.addOption(m_help);
    m_parser.addOptions({m_out, m_cover, m_size, m_replicates, m_prefix, m_postString, m_coverValue,
                         m_matrixValue, m_quiet, m_format, m_overwrite, m_noSync, m_generator,
                         m_noData, m_cellSize, m_origin, m_crs, m_metrics, m_neighbours});
    m_parser.addOptions(ownOptions);

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
    if (!m_parser.isSet(m_out) || m_parser.value(m_out).trimmed().isEmpty())
        return m_cli.usageError(QStringLiteral("--out DIR is required"));
    return std::nullopt;
}

std::optional<int> BatchCommand::intOption(const QCommandLineOption &option, const QString &name)
{
    const QString text = m_parser.value(option);
    const auto value = parseInt(text);
    if (!value && m_error.isEmpty())
        m_error = QStringLiteral("%1 is not a whole number: '%2'").arg(name, text);
    return value;
}

int BatchCommand::choice(const QCommandLineOption &option, const QStringList &choices)
{
    const QString value = m_parser.value(option);
    const qsizetype index = choices.indexOf(value);
    if (index < 0 && m_error.isEmpty())
        m_error = QStringLiteral("--%1 must be %2, not '%3'")
                      .arg(option.names().constLast(), choices.join(QStringLiteral(" or ")), value);
    return int(std::max<qsizetype>(index, 0));
}

void BatchCommand::readCommon(CoverRange &covers, int &size, int &replicates, BatchOutput &output,
                              bool fractal)
{
    if (const auto cover = parseIntRange(m_parser.value(m_cover)))
        covers = {cover->first, cover->last, cover->step};
    else
        m_error = QStringLiteral("--cover must be FIRST:LAST:STEP with whole numbers, not '%1'")
                      .arg(m_parser.value(m_cover));

    output.format = MapFormat(
        choice(m_format, {QStringLiteral("plain"), QStringLiteral("asc"), QStringLiteral("tif")}));
    if (m_parser.isSet(m_noData))
        output.noData = intOption(m_noData, QStringLiteral("--nodata"));
    if (const auto cellSize = parseDouble(m_parser.value(m_cellSize)))
        output.georeference.cellSize = *cellSize;
    else if (m_error.isEmpty())
        m_error =
            QStringLiteral("--cell-size is not a number: '%1'").arg(m_parser.value(m_cellSize));
    if (m_parser.isSet(m_origin)) {
        const QStringList corner = m_parser.value(m_origin).split(QLatin1Char(','));
        const auto x = corner.size() == 2 ? parseDouble(corner[0]) : std::nullopt;
        const auto y = corner.size() == 2 ? parseDouble(corner[1]) : std::nullopt;
        if (x && y) {
            output.georeference.originX = *x;
            output.georeference.originY = *y;
        } else if (m_error.isEmpty()) {
            m_error =
                QStringLiteral("--origin must be X,Y, not '%1'").arg(m_parser.value(m_origin));
        }
    }
    output.georeference.crs = m_parser.value(m_crs);
    output.metrics = m_parser.isSet(m_metrics);
    output.neighbours = intOption(m_neighbours, QStringLiteral("--neighbours")).value_or(8);

    size = intOption(m_size, QStringLiteral("--size")).value_or(0);
    replicates = intOption(m_replicates, QStringLiteral("--replicates")).value_or(0);

    // The file decides the texts and codes it holds, as it does for the GUI;
    // without it the names still say which kind of batch made them.
    AppSettings settings;
    settings.randomPrefix = QStringLiteral("RND_");
    settings.fractalPrefix = QStringLiteral("FBM_");
    const QFileInfo config(defaultConfigFileName());
    if (config.exists() || config.isSymLink()) {
        AppSettings fromFile = settings;
        ConfigSupply supply;
        if (const auto problem = loadConfig(fromFile, defaultConfigFileName(), &supply)) {
            m_cli.printErr(QStringLiteral("%1: warning: cannot read %2; the defaults are used\n")
                               .arg(m_cli.program(), *problem));
        } else {
            settings = fromFile;
            // Only what this run takes from the file: the options given
            // replace the rest.
            QList<ConfigValue> wanted;
            if (!m_parser.isSet(m_prefix))
                wanted << (fractal ? ConfigValue::FractalPrefix : ConfigValue::RandomPrefix);
            if (!m_parser.isSet(m_postString))
                wanted << (fractal ? ConfigValue::FractalPostString
                                   : ConfigValue::RandomPostString);
            if (!m_parser.isSet(m_coverValue))
                wanted << ConfigValue::CoverValue;
            if (!m_parser.isSet(m_matrixValue))
                wanted << ConfigValue::MatrixValue;
            if (const auto gaps = configGaps(supply, settings, wanted))
                m_cli.printErr(QStringLiteral("%1: warning: %2\n").arg(m_cli.program(), *gaps));
        }
    }
    // Codes the file holds meet the same limits as the options, and a
    // refusal says where they came from.
    auto checkCode = [this](qint32 code, IntLimits limits, const char *what) {
        if (!limits.contains(code) && m_error.isEmpty())
            m_error = QStringLiteral("%1 holds %2 %3, which must be between %4 and %5")
                          .arg(defaultConfigFileName(), QLatin1String(what))
                          .arg(code)
                          .arg(limits.min)
                          .arg(limits.max);
    };
    if (!m_parser.isSet(m_coverValue))
        checkCode(settings.coverValue, BatchOutput::coverValueLimits, "the habitat code");
    if (!m_parser.isSet(m_matrixValue))
        checkCode(settings.matrixValue, BatchOutput::matrixValueLimits, "the matrix code");
    output.prefix = fractal ? settings.fractalPrefix : settings.randomPrefix;
    output.postString = fractal ? settings.fractalPostString : settings.randomPostString;
    output.coverValue = settings.coverValue;
    output.matrixValue = settings.matrixValue;
    if (m_parser.isSet(m_coverValue))
        output.coverValue = intOption(m_coverValue, QStringLiteral("--cover-value")).value_or(0);
    if (m_parser.isSet(m_matrixValue))
        output.matrixValue = intOption(m_matrixValue, QStringLiteral("--matrix-value")).value_or(0);
    if (m_parser.isSet(m_prefix))
        output.prefix = m_parser.value(m_prefix);
    if (m_parser.isSet(m_postString))
        output.postString = m_parser.value(m_postString);
    output.folder = QDir(m_parser.value(m_out)).absolutePath();
    output.overwrite = m_parser.isSet(m_overwrite);
    output.sync = !m_parser.isSet(m_noSync);
}

int BatchCommand::run(BatchJob &job)
{
    if (const auto refusal = job.prepare()) {
        switch (refusal->kind) {
        case BatchRefusal::Kind::Request:
            return m_cli.usageError(refusal->message);
        case BatchRefusal::Kind::Folder:
            return m_cli.runFailure(refusal->message);
        case BatchRefusal::Kind::ExistingFiles:
            m_cli.printErr(
                QStringLiteral("%1: %2 (--overwrite)\n").arg(m_cli.program(), refusal->message));
            return CommandLine::UsageError;
        case BatchRefusal::Kind::DiskSpace:
        case BatchRefusal::Kind::Names:
        case BatchRefusal::Kind::Locked:
        case BatchRefusal::Kind::Conflict:
            // No option is wrong, so there is no usage hint; the request
            // still cannot run as given.
            m_cli.printErr(QStringLiteral("%1: %2\n").arg(m_cli.program(), refusal->message));
            return CommandLine::UsageError;
        }
    }

    ConsoleProgress::installSignalHandlers();
    ConsoleProgress progress(stderrIsTerminal() && !m_parser.isSet(m_quiet));
    const BatchReport report = job.run(progress);
    progress.finish();

    const auto written = report.maps.size();
    int status = CommandLine::Success;
    if (report.result.status == BatchResult::Status::Failed)
        status = m_cli.runFailure(
            QStringLiteral("stopped after %1 maps: %2").arg(written).arg(report.result.message));
    if (report.batchListError)
        status = m_cli.runFailure(
            QStringLiteral("batch list not written: %1").arg(report.batchListError->message()));
    if (report.manifestError)
        status = m_cli.runFailure(
            QStringLiteral("manifest not written: %1").arg(report.manifestError->message()));
    const QString listName = QDir::toNativeSeparators(report.batchListPath);
    if (report.olderMapsKept > 0)
        m_cli.printErr(QStringLiteral("%1: note: %2 maps of the earlier run with this prefix were "
                                      "not rewritten; they are still in the folder but in no "
                                      "batch list\n")
                           .arg(m_cli.program(), QString::number(report.olderMapsKept)));
    if (status == CommandLine::Success && report.result.status == BatchResult::Status::Canceled) {
        const int signal = ConsoleProgress::stopSignal();
        m_cli.printErr(
            QStringLiteral("%1: stopped by signal %2 after %3 maps; they are listed in "
                           "%4\n")
                .arg(m_cli.program(), QString::number(signal), QString::number(written), listName));
        return 128 + signal;
    }
    // A shortfall is a warning, which --quiet does not silence.
    for (const QString &line : report.shortfalls)
        m_cli.printErr(QStringLiteral("%1: warning: %2\n").arg(m_cli.program(), line));
    if (status == CommandLine::Success && !m_parser.isSet(m_quiet))
        m_cli.printOut(QStringLiteral("%1 maps written; batch list %2\n")
                           .arg(QString::number(written), listName));
    return status;
}

int BatchCommand::runRandom(const QStringList &arguments)
{
    const QCommandLineOption seedOption(QStringLiteral("seed"),
                                        QStringLiteral("Seed of the batch, %1 (default 5).")
                                            .arg(span(RandomBatchRequest::seedLimits)),
                                        QStringLiteral("N"), QStringLiteral("5"));
    if (const auto done = parse(
            arguments,
            QStringLiteral(
                "Writes a batch of random maps: for every cover FIRST, FIRST+STEP, ... up to "
                "LAST,\n"
                "REPLICATES maps in which each cell is habitat with the cover as probability.\n"
                "The same seed and values give byte-identical files. Files are named\n"
                "PREFIX + cover (3 digits) + _SIZExSIZE_a + replicate + .txt (.asc, .tif);\n"
                "the batch list PREFIX + ListFragStat.fbt and the manifest PREFIX +\n"
                "manifest.csv are written beside them."),
            {seedOption}))
        return *done;

    RandomBatchRequest request;
    readCommon(request.covers, request.size, request.replicates, request.output, false);
    request.seed = intOption(seedOption, QStringLiteral("--seed")).value_or(0);
    request.generator =
        Generator(choice(m_generator, {QStringLiteral("classic"), QStringLiteral("philox")}));
    if (!m_error.isEmpty())
        return m_cli.usageError(m_error);
    BatchJob job = randomBatchJob(request);
    return run(job);
}

int BatchCommand::runFractal(const QStringList &given)
{
    // --surfaces N says how many surfaces each H may build; --surfaces with
    // no number after it asks for the surface files, as --write-surfaces
    // does.
    QStringList arguments = given;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--surfaces") &&
            (i + 1 == arguments.size() || !parseInt(arguments[i + 1])))
            arguments[i] = QStringLiteral("--write-surfaces");
    }
    // The H range was once given as --h, which now asks for help; a script
    // still using it would otherwise print the help and succeed without a
    // single map.
    for (const QString &argument : arguments.mid(1))
        if (argument == QLatin1String("--h") || argument.startsWith(QLatin1String("--h=")))
            return m_cli.usageError(
                QStringLiteral("--h is no longer the H range: use --hurst FIRST:LAST:STEP (or "
                               "-H); -h and --help show the help"));

    const QCommandLineOption hurstOption(
        QStringList{QStringLiteral("H"), QStringLiteral("hurst")},
        QStringLiteral("Hurst exponents FIRST:LAST:STEP with at most two decimals; FIRST %1, "
                       "LAST %2, STEP %3 (default 0.1:0.9:0.1).")
            .arg(span(FractalBatchRequest::firstHurstLimits),
                 span(FractalBatchRequest::lastHurstLimits),
                 span(FractalBatchRequest::hurstStepLimits)),
        QStringLiteral("FIRST:LAST:STEP"), QStringLiteral("0.1:0.9:0.1"));
    const QCommandLineOption surfacesOption(
        QStringLiteral("surfaces"),
        QStringLiteral("Surfaces each H may build, %1 (default %2).")
            .arg(span(FractalBatchRequest::surfaceLimits))
            .arg(FractalBatchRequest::surfacesPerH),
        QStringLiteral("N"), QString::number(FractalBatchRequest::surfacesPerH));
    const QCommandLineOption firstSeedOption(
        QStringLiteral("first-seed"),
        QStringLiteral("Seed of each H's first surface, %1 (default 0); give runs of different "
                       "H disjoint seeds with it.")
            .arg(span(FractalBatchRequest::firstSeedLimits)),
        QStringLiteral("S"), QStringLiteral("0"));
    const QCommandLineOption distinctOption(
        QStringLiteral("distinct-surfaces"),
        QStringLiteral("No surface gives two maps of one H and cover: replicates come from "
                       "different surfaces."));
    const QCommandLineOption writeSurfacesOption(
        QStringLiteral("write-surfaces"),
        QStringLiteral("Also writes, for every surface that gave a map, the rescaled surface the "
                       "maps were cut from (PREFIX + H + _surface_ + seed; float32 .tif with "
                       "--format tif, else an ESRI grid with 7 significant digits); the "
                       "manifest then names it. --surfaces with no number does the same."));
    const QCommandLineOption cutOption(
        QStringLiteral("cut"),
        QStringLiteral("How a surface is cut: ladder (the default, 80 fixed thresholds) or "
                       "exact (at its own quantile, so each map holds exactly round(cover x "
                       "cells / 100) habitat cells)."),
        QStringLiteral("HOW"), QStringLiteral("ladder"));
    if (const auto done = parse(
            arguments,
            QStringLiteral(
                "Writes a batch of fractal maps. For every H, surfaces are built for the seeds\n"
                "0 to 199 (see --first-seed, --surfaces) and cut at 80 thresholds (see --cut);\n"
                "every cut whose cover is a requested one still short of REPLICATES maps is\n"
                "written. Files are named PREFIX + H (two decimals) + _ + cover (3 digits) +\n"
                "_ + replicate (5 digits) + .txt (.asc, .tif);\n"
                "the batch list PREFIX + ListFragStat.fbt and the manifest PREFIX +\n"
                "manifest.csv are written beside them. Maps can be at most %1 cells per side.")
                .arg(FractalBatchRequest::maxMapSize),
            {hurstOption, surfacesOption, firstSeedOption, distinctOption, cutOption,
             writeSurfacesOption}))
        return *done;

    FractalBatchRequest request;
    readCommon(request.covers, request.size, request.replicates, request.output, true);
    if (const auto hurst = parseDoubleRange(m_parser.value(hurstOption)))
        request.hurst = {hurst->first, hurst->last, hurst->step};
    else if (m_error.isEmpty())
        m_error = QStringLiteral("--hurst must be FIRST:LAST:STEP with decimal numbers, not '%1'")
                      .arg(m_parser.value(hurstOption));
    request.generator =
        Generator(choice(m_generator, {QStringLiteral("classic"), QStringLiteral("philox")}));
    request.cut =
        FractalCut(choice(cutOption, {QStringLiteral("ladder"), QStringLiteral("exact")}));
    request.distinctSurfaces = m_parser.isSet(distinctOption);
    request.writeSurfaces = m_parser.isSet(writeSurfacesOption);
    request.surfaces = intOption(surfacesOption, QStringLiteral("--surfaces")).value_or(0);
    request.firstSeed = intOption(firstSeedOption, QStringLiteral("--first-seed")).value_or(0);
    if (!m_error.isEmpty())
        return m_cli.usageError(m_error);
    BatchJob job = fractalBatchJob(request);
    return run(job);
}
