// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/batchcommand.h"

#include "cli/commandline.h"
#include "cli/consoleprogress.h"
#include "core/batch/batchjob.h"
#include "core/batch/batchoptions.h"
#include "core/batch/rangeparser.h"
#include "fractal/fractalmapgenerator.h"
#include "gaussian/gaussianmapgenerator.h"
#include "random/randommapgenerator.h"
#include "settings/appsettings.h"

#include <QDir>
#include <QFileInfo>

#include <string_view>
#include <type_traits>

#include <unistd.h>

namespace {

bool stderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

// config.txt keeps its six lines: the prefixes and post-strings of random
// and fractal batches, and the codes, which every kind shares.
bool hasConfigLines(BatchKind kind)
{
    return kind != BatchKind::Gaussian;
}

// Options whose default the command line takes from config.txt, as the
// window does, before the description's own.
bool fromConfigFile(BatchKind kind, const BatchOption &option)
{
    const std::string_view key = option.key;
    if (key == "prefix" || key == "post_string")
        return hasConfigLines(kind);
    return key == "cover_value" || key == "matrix_value";
}

QCommandLineOption parserOption(BatchKind kind, const BatchOption &option)
{
    QStringList names{option.cliName()};
    if (option.shortName)
        names.prepend(QLatin1String(option.shortName));
    QString help = optionHelp(kind, option);
    if (fromConfigFile(kind, option))
        help += QStringLiteral(" %1 gives its own when it has one.").arg(defaultConfigFileName());
    if (!option.valueName)
        return QCommandLineOption(names, help);
    return QCommandLineOption(names, help, QLatin1String(option.valueName));
}

} // namespace

BatchCommand::BatchCommand(CommandLine &commandLine, const QString &name)
    : m_cli(commandLine)
    , m_name(name)
    , m_help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
             QStringLiteral("Shows this help."))
    , m_quiet(QStringLiteral("quiet"), QStringLiteral("No progress line and no summary."))
{}

std::optional<int> BatchCommand::parse(const QStringList &arguments, const QString &description,
                                       BatchKind kind, const QString &examples)
{
    m_parser.setApplicationDescription(description);
    m_parser.addOption(m_help);
    for (const BatchOption &option : batchOptions(kind)) {
        m_options.emplace_back(&option, parserOption(kind, option));
        m_parser.addOption(m_options.back().second);
    }
    m_parser.addOption(m_quiet);

    if (!m_parser.parse(arguments))
        return m_cli.usageError(m_parser.errorText());
    if (m_parser.isSet(m_help)) {
        // The parser names the executable's path in its usage line; the
        // command belongs there too.
        QString text = m_parser.helpText();
        text.replace(
            0, text.indexOf(QLatin1Char('\n')),
            QStringLiteral("Usage: %1 %2 --out DIR [options]").arg(m_cli.program(), m_name));
        m_cli.printOut(text + QStringLiteral("\nExamples:\n") + examples);
        return CommandLine::Success;
    }
    if (!m_parser.positionalArguments().isEmpty())
        return m_cli.usageError(
            QStringLiteral("unexpected argument '%1'").arg(m_parser.positionalArguments().first()));
    if (m_parser.value(QStringLiteral("out")).trimmed().isEmpty())
        return m_cli.usageError(QStringLiteral("--out DIR is required"));
    return std::nullopt;
}

template <typename Request> std::optional<QString> BatchCommand::read(Request &request)
{
    // The file decides the texts and codes it holds, as it does for the GUI;
    // without it the names still say which kind of batch made them.
    const BatchKind kind = kindOf(request);
    const bool fractal = kind == BatchKind::Fractal;
    AppSettings settings;
    settings.randomPrefix = defaultPrefix(BatchKind::Random);
    settings.fractalPrefix = defaultPrefix(BatchKind::Fractal);
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
            if (!m_parser.isSet(QStringLiteral("prefix")) && hasConfigLines(kind))
                wanted << (fractal ? ConfigValue::FractalPrefix : ConfigValue::RandomPrefix);
            if (!m_parser.isSet(QStringLiteral("post-string")) && hasConfigLines(kind))
                wanted << (fractal ? ConfigValue::FractalPostString
                                   : ConfigValue::RandomPostString);
            if (!m_parser.isSet(QStringLiteral("cover-value")))
                wanted << ConfigValue::CoverValue;
            if (!m_parser.isSet(QStringLiteral("matrix-value")))
                wanted << ConfigValue::MatrixValue;
            if (const auto gaps = configGaps(supply, settings, wanted))
                m_cli.printErr(QStringLiteral("%1: warning: %2\n").arg(m_cli.program(), *gaps));
        }
    }
    BatchOutput &output = request.output;
    if (hasConfigLines(kind)) {
        output.prefix = fractal ? settings.fractalPrefix : settings.randomPrefix;
        output.postString = fractal ? settings.fractalPostString : settings.randomPostString;
    } else {
        output.prefix = defaultPrefix(kind);
    }
    output.coverValue = settings.coverValue;
    output.matrixValue = settings.matrixValue;

    for (const auto &[option, parserOption] : m_options) {
        if (!m_parser.isSet(parserOption))
            continue;
        // A list option given several times is one list.
        const OptionValue value =
            option->type == OptionType::Flag ? OptionValue(true)
            : option->type == OptionType::TargetList
                ? OptionValue(m_parser.values(parserOption).join(QLatin1Char(',')))
                : OptionValue(m_parser.value(parserOption));
        if (const auto error = setOption(request, *option, value))
            return QStringLiteral("--%1 %2").arg(option->cliName(), error->reason);
    }
    // Codes the file holds meet the same limits as the options, and a
    // refusal says where they came from.
    const auto checkCode = [](qint32 code, IntLimits limits,
                              const char *what) -> std::optional<QString> {
        if (limits.contains(code))
            return std::nullopt;
        return QStringLiteral("%1 holds %2 %3, which must be between %4 and %5")
            .arg(defaultConfigFileName(), QLatin1String(what), QString::number(code),
                 QString::number(limits.min), QString::number(limits.max));
    };
    if (!m_parser.isSet(QStringLiteral("cover-value")))
        if (auto refusal =
                checkCode(settings.coverValue, BatchOutput::coverValueLimits, "the habitat code"))
            return refusal;
    if (!m_parser.isSet(QStringLiteral("matrix-value")))
        if (auto refusal =
                checkCode(settings.matrixValue, BatchOutput::matrixValueLimits, "the matrix code"))
            return refusal;
    output.folder = QDir(output.folder).absolutePath();
    // A reference system puts the map's corner at the origin, which for a
    // projected system is rarely where a study lies.
    if (!output.georeference.crs.isEmpty() && !m_parser.isSet(QStringLiteral("origin")))
        m_cli.printErr(QStringLiteral("%1: warning: --crs without --origin puts the map's "
                                      "lower-left corner at 0,0 of %2\n")
                           .arg(m_cli.program(), output.georeference.crs));
    return std::nullopt;
}

int BatchCommand::run(BatchJob &job)
{
    if (const auto refusal = job.prepare()) {
        switch (refusal->kind) {
        case BatchRefusal::Kind::Request:
            return m_cli.usageError(refusal->message);
        case BatchRefusal::Kind::ExistingFiles:
            m_cli.printErr(
                QStringLiteral("%1: %2 (--overwrite)\n").arg(m_cli.program(), refusal->message));
            return CommandLine::UsageError;
        case BatchRefusal::Kind::Folder:
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
    if (report.shardRecordError)
        status = m_cli.runFailure(QStringLiteral("record of the share not written: %1")
                                      .arg(report.shardRecordError->message()));
    if (report.folderUntouched)
        m_cli.printErr(QStringLiteral("%1: nothing was changed: the folder holds what it held, "
                                      "with the records of the run it holds\n")
                           .arg(m_cli.program()));
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
    if (status == CommandLine::Success && !m_parser.isSet(m_quiet)) {
        m_cli.printOut(QStringLiteral("%1 maps written; batch list %2\n")
                           .arg(QString::number(written), listName));
        for (const QString &line : report.acceptance)
            m_cli.printOut(line + QLatin1Char('\n'));
    }
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
                "PREFIX + cover (3 digits) + _SIZExSIZE_a + replicate + .txt (.asc, .tif);\n"
                "the batch list PREFIX + ListFragStat.fbt and the manifest PREFIX +\n"
                "manifest.csv are written beside them."),
            BatchKind::Random,
            QStringLiteral("  %1 random --out maps --cover 10:90:10 --size 200 --replicates 5\n"
                           "  %1 random --out maps --cover 10,25,50 --generator philox --metrics\n"
                           "  %1 random --out gis --cover 30 --format tif --crs EPSG:3035 "
                           "--origin 4321000,3210000 --cell-size 25\n")
                .arg(m_cli.program())))
        return *done;

    RandomBatchRequest request;
    if (const auto error = read(request))
        return m_cli.usageError(*error);
    BatchJob job = randomBatchJob(request);
    return run(job);
}

int BatchCommand::runFractal(const QStringList &given)
{
    // --surfaces N says how many surfaces each H may build. A bare
    // --surfaces once asked for the surface files; taking the next option
    // as its number, or guessing, would run another batch than meant.
    const QStringList &arguments = given;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--surfaces") &&
            (i + 1 == arguments.size() || !parseInt(arguments[i + 1])))
            return m_cli.usageError(
                QStringLiteral("--surfaces takes the number of surfaces each H may build; "
                               "--write-surfaces writes the surface files"));
    }
    // The H range was once given as --h, which now asks for help; a script
    // still using it would otherwise print the help and succeed without a
    // single map.
    for (const QString &argument : arguments.mid(1))
        if (argument == QLatin1String("--h") || argument.startsWith(QLatin1String("--h=")))
            return m_cli.usageError(
                QStringLiteral("--h is no longer the H range: use --hurst FIRST:LAST:STEP (or "
                               "-H); -h and --help show the help"));

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
            BatchKind::Fractal,
            QStringLiteral("  %1 fractal --out maps --hurst 0.1:0.9:0.2 --cover 20:60:20\n"
                           "  %1 fractal --out maps --hurst 0.5 --cover 30 --replicates 50 "
                           "--generator philox --cut exact --distinct-surfaces\n"
                           "  %1 fractal --out maps --size 513 --cover 40 --write-surfaces "
                           "--format asc\n")
                .arg(m_cli.program())))
        return *done;

    FractalBatchRequest request;
    if (const auto error = read(request))
        return m_cli.usageError(*error);
    BatchJob job = fractalBatchJob(request);
    return run(job);
}

int BatchCommand::runGaussian(const QStringList &arguments)
{
    if (const auto done = parse(
            arguments,
            QStringLiteral(
                "Writes a batch of maps cut from Gaussian random fields. For every range (or,\n"
                "for --model fbm, every H), cover and replicate, a field of its own is drawn\n"
                "exactly by circulant embedding and cut at the cover (exactly, by default).\n"
                "The same seed and values give byte-identical files. Files are named PREFIX +\n"
                "model + _r + range (_h + H for fbm; two decimals) + _ + cover (3 digits) +\n"
                "_ + replicate (5 digits) + .txt (.asc, .tif); the batch list PREFIX +\n"
                "ListFragStat.fbt and the manifest PREFIX + manifest.csv are written beside\n"
                "them. The prefix is %1 unless --prefix gives one. Maps can be at most %2\n"
                "cells per side.")
                .arg(defaultPrefix(BatchKind::Gaussian))
                .arg(GaussianBatchRequest::sizeLimits.max),
            BatchKind::Gaussian,
            QStringLiteral("  %1 gaussian --out maps --model exponential --range 5:20:5 --cover "
                           "20:60:20\n"
                           "  %1 gaussian --out maps --model matern --nu 1.5 --range 10 --cover "
                           "30 --replicates 50 --metrics\n"
                           "  %1 gaussian --out maps --model fbm --hurst 0.1:0.9:0.4 --size 513 "
                           "--cover 40 --write-surfaces --format asc\n")
                .arg(m_cli.program())))
        return *done;

    GaussianBatchRequest request;
    if (const auto error = read(request))
        return m_cli.usageError(*error);
    BatchJob job = gaussianBatchJob(request);
    return run(job);
}
