#include "cli/batchcommand.h"

#include "cli/commandline.h"
#include "cli/consoleprogress.h"
#include "core/batchjob.h"
#include "core/batchoptions.h"
#include "core/rangeparser.h"
#include "fractal/fractalmapgenerator.h"
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

// Options whose default the command line takes from config.txt, as the
// window does, before the description's own.
bool fromConfigFile(const BatchOption &option)
{
    const std::string_view key = option.key;
    return key == "prefix" || key == "post_string" || key == "cover_value" || key == "matrix_value";
}

QCommandLineOption parserOption(BatchKind kind, const BatchOption &option)
{
    QStringList names{option.cliName()};
    if (option.shortName)
        names.prepend(QLatin1String(option.shortName));
    QString help = optionHelp(kind, option);
    if (fromConfigFile(option))
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
                                       BatchKind kind)
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
        m_cli.printOut(text);
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
    const bool fractal = std::is_same_v<Request, FractalBatchRequest>;
    AppSettings settings;
    settings.randomPrefix = defaultPrefix(BatchKind::Random);
    settings.fractalPrefix = defaultPrefix(BatchKind::Fractal);
    if (QFileInfo::exists(defaultConfigFileName())) {
        AppSettings fromFile = settings;
        if (const auto problem = loadConfig(fromFile))
            m_cli.printErr(QStringLiteral("%1: warning: cannot read %2; the defaults are used\n")
                               .arg(m_cli.program(), *problem));
        else
            settings = fromFile;
    }
    BatchOutput &output = request.output;
    output.prefix = fractal ? settings.fractalPrefix : settings.randomPrefix;
    output.postString = fractal ? settings.fractalPostString : settings.randomPostString;
    output.coverValue = settings.coverValue;
    output.matrixValue = settings.matrixValue;

    for (const auto &[option, parserOption] : m_options) {
        if (!m_parser.isSet(parserOption))
            continue;
        const OptionValue value = option->type == OptionType::Flag
                                      ? OptionValue(true)
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
            .arg(defaultConfigFileName(), QLatin1String(what))
            .arg(code)
            .arg(limits.min)
            .arg(limits.max);
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
    return std::nullopt;
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
                           .arg(m_cli.program())
                           .arg(report.olderMapsKept));
    if (status == CommandLine::Success && report.result.status == BatchResult::Status::Canceled) {
        const int signal = ConsoleProgress::stopSignal();
        m_cli.printErr(QStringLiteral("%1: stopped by signal %2 after %3 maps; they are listed in "
                                      "%4\n")
                           .arg(m_cli.program())
                           .arg(signal)
                           .arg(written)
                           .arg(listName));
        return 128 + signal;
    }
    if (status == CommandLine::Success && !m_parser.isSet(m_quiet)) {
        m_cli.printOut(
            QStringLiteral("%1 maps written; batch list %2\n").arg(written).arg(listName));
        for (const QString &line : report.shortfalls)
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
            BatchKind::Random))
        return *done;

    RandomBatchRequest request;
    if (const auto error = read(request))
        return m_cli.usageError(*error);
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
            BatchKind::Fractal))
        return *done;

    FractalBatchRequest request;
    if (const auto error = read(request))
        return m_cli.usageError(*error);
    BatchJob job = fractalBatchJob(request);
    return run(job);
}
