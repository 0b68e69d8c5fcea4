// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/batchcommand.h"

#include "cli/commandline.h"
#include "cli/consoleprogress.h"
#include "core/batch/batchjob.h"
#include "core/batch/mapfamily.h"
#include "settings/appsettings.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace {

bool stderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

// The config.txt line a row's value comes from when it is not given, for
// this family, or nothing.
std::optional<ConfigValue> configValueOf(const MapFamily &family, const BatchOption &option)
{
    switch (option.config) {
    case ConfigSource::None:
        break;
    case ConfigSource::Prefix:
        return family.configLine() >= 0 ? std::optional(ConfigValue(family.configLine()))
                                        : std::nullopt;
    case ConfigSource::PostString:
        return family.configLine() >= 0 ? std::optional(ConfigValue(family.configLine() + 1))
                                        : std::nullopt;
    case ConfigSource::CoverValue:
        return ConfigValue::CoverValue;
    case ConfigSource::MatrixValue:
        return ConfigValue::MatrixValue;
    }
    return std::nullopt;
}

QCommandLineOption parserOption(const MapFamily &family, const BatchOption &option)
{
    QStringList names{option.cliName()};
    if (option.shortName)
        names.prepend(QLatin1String(option.shortName));
    QString help = optionHelp(family, option).text();
    if (configValueOf(family, option))
        help += QStringLiteral(" %1 gives its own when it has one.").arg(defaultConfigFileName());
    if (!option.valueName)
        return QCommandLineOption(names, help);
    return QCommandLineOption(names, help, QLatin1String(option.valueName));
}

} // namespace

BatchCommand::BatchCommand(CommandLine &commandLine, const MapFamily &family)
    : m_cli(commandLine)
    , m_family(family)
    , m_help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
             QStringLiteral("Shows this help."))
    , m_quiet(QStringLiteral("quiet"), QStringLiteral("No progress line and no summary."))
{}

std::optional<int> BatchCommand::parse(const QStringList &arguments)
{
    if (const auto misread = m_family.misreadArguments(arguments))
        return m_cli.usageError(*misread);
    m_parser.setApplicationDescription(m_family.description());
    m_parser.addOption(m_help);
    for (const BatchOption &option : m_family.options()) {
        m_options.emplace_back(&option, parserOption(m_family, option));
        m_parser.addOption(m_options.back().second);
    }
    m_parser.addOption(m_quiet);

    // The parser has no options whose value may be left out: `--metrics`
    // alone is a switch, `--metrics all` or `--metrics=np,contag` names
    // the metrics too. A batch takes no other argument a name could be.
    QStringList parsed = arguments;
    for (qsizetype i = 1; i < parsed.size() && parsed[i] != QLatin1String("--"); ++i)
        for (const auto &[option, parserOption] : m_options) {
            if (option->type != OptionType::Metrics)
                continue;
            const QString name = QStringLiteral("--") + option->cliName();
            if (parsed[i].startsWith(name + QLatin1Char('='))) {
                m_metricNames[option] = parsed[i].mid(name.size() + 1);
                parsed[i] = name;
            } else if (parsed[i] == name && i + 1 < parsed.size() &&
                       !parsed[i + 1].startsWith(QLatin1Char('-'))) {
                m_metricNames[option] = parsed.takeAt(i + 1);
            }
        }
    if (!m_parser.parse(parsed))
        return m_cli.usageError(m_parser.errorText());
    const QString word = QLatin1String(m_family.word());
    if (m_parser.isSet(m_help)) {
        // The parser names the executable's path in its usage line; the
        // command belongs there too.
        QString text = m_parser.helpText();
        text.replace(0, text.indexOf(QLatin1Char('\n')),
                     QStringLiteral("Usage: %1 %2 --out DIR [options]").arg(m_cli.program(), word));
        m_cli.printOut(text + QStringLiteral("\nExamples:\n") +
                       m_family.examples().arg(m_cli.program()));
        return CommandLine::Success;
    }
    if (!m_parser.positionalArguments().isEmpty())
        return m_cli.usageError(
            QStringLiteral("unexpected argument '%1'").arg(m_parser.positionalArguments().first()));
    for (const auto &[option, parserOption] : m_options)
        if (option->neededForFiles && m_parser.value(parserOption).trimmed().isEmpty())
            return m_cli.usageError(QStringLiteral("--%1 %2 is required")
                                        .arg(option->cliName(), QLatin1String(option->valueName)));
    return std::nullopt;
}

std::optional<QString> BatchCommand::read(FamilyRequest &request)
{
    // The file decides the texts and codes it holds, as it does for the
    // window; without it the names still say which family made them.
    AppSettings settings;
    for (const MapFamily *family : mapFamilies())
        if (family->configLine() >= 0)
            setConfigText(settings, ConfigValue(family->configLine()), family->defaultPrefix());
    QList<std::pair<const BatchOption *, ConfigValue>> fromFile;
    for (const auto &[option, parserOption] : m_options)
        if (const auto value = configValueOf(m_family, *option);
            value && !m_parser.isSet(parserOption))
            fromFile.append({option, *value});
    const QFileInfo config(defaultConfigFileName());
    if (config.exists() || config.isSymLink()) {
        AppSettings read = settings;
        ConfigSupply supply;
        if (const auto problem = loadConfig(read, defaultConfigFileName(), &supply)) {
            m_cli.printErr(QStringLiteral("%1: warning: cannot read %2; the defaults are used\n")
                               .arg(m_cli.program(), *problem));
        } else {
            settings = read;
            // Only what this run takes from the file: the options given
            // replace the rest.
            QList<ConfigValue> wanted;
            for (const auto &entry : std::as_const(fromFile))
                wanted << entry.second;
            if (const auto gaps = configGaps(supply, settings, wanted))
                m_cli.printErr(QStringLiteral("%1: warning: %2\n").arg(m_cli.program(), *gaps));
        }
    }
    // Codes the file holds meet the same limits as the options, and a
    // refusal says where they came from.
    for (const auto &[option, value] : std::as_const(fromFile)) {
        const QString text = configText(settings, value);
        if (const auto error = setOption(request, *option, text))
            return QStringLiteral("%1 holds %2 for --%3, which %4")
                .arg(defaultConfigFileName(), text, option->cliName(), error->reason);
        if (option->limits.kind == OptionLimits::Kind::Whole) {
            const IntLimits limits = option->limits.whole[0];
            if (!limits.contains(text.toLongLong()))
                return QStringLiteral("%1 holds %2 %3, which must be between %4 and %5")
                    .arg(defaultConfigFileName(), configValueName(value), text,
                         QString::number(limits.min), QString::number(limits.max));
        }
    }

    for (const auto &[option, parserOption] : m_options) {
        if (!m_parser.isSet(parserOption))
            continue;
        // A list option given several times is one list.
        const OptionValue value =
            option->type == OptionType::Flag ? OptionValue(true)
            : option->type == OptionType::Metrics
                ? (m_metricNames.contains(option) ? OptionValue(m_metricNames.value(option))
                                                  : OptionValue(true))
            : option->type == OptionType::TargetList
                ? OptionValue(m_parser.values(parserOption).join(QLatin1Char(',')))
            : option->type == OptionType::Blends
                ? OptionValue(m_parser.values(parserOption).join(QLatin1Char(';')))
                : OptionValue(m_parser.value(parserOption));
        if (const auto error = setOption(request, *option, value))
            return QStringLiteral("--%1 %2").arg(option->cliName(), error->reason);
    }
    BatchOutput &output = request.output;
    output.folder = QDir(output.folder).absolutePath();
    QStringList given;
    for (const auto &[option, parserOption] : m_options)
        if (m_parser.isSet(parserOption))
            given.append(QLatin1String(option->key));
    for (const Phrase &advice : requestAdvice(request, given))
        m_cli.printErr(QStringLiteral("%1: warning: %2\n").arg(m_cli.program(), advice.text()));
    return std::nullopt;
}

int BatchCommand::run(BatchJob &job)
{
    if (const auto refusal = job.prepare()) {
        switch (refusal->kind) {
        case BatchRefusal::Kind::Request:
            return m_cli.usageError(refusal->message.text());
        case BatchRefusal::Kind::ExistingFiles:
        case BatchRefusal::Kind::Folder:
        case BatchRefusal::Kind::DiskSpace:
        case BatchRefusal::Kind::Names:
        case BatchRefusal::Kind::Locked:
        case BatchRefusal::Kind::Conflict:
            // No option is wrong, so there is no usage hint; the request
            // still cannot run as given.
            m_cli.printErr(
                QStringLiteral("%1: %2\n").arg(m_cli.program(), refusal->message.text()));
            return CommandLine::UsageError;
        }
    }

    ConsoleProgress::installSignalHandlers();
    ConsoleProgress progress(stderrIsTerminal() && !m_parser.isSet(m_quiet));
    const BatchReport report = job.run(progress);
    progress.finish();

    const auto written = report.maps.size();
    int status = CommandLine::Success;
    for (const QString &failure : report.failures())
        status = m_cli.runFailure(failure);
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
    for (const Phrase &line : report.shortfalls)
        m_cli.printErr(QStringLiteral("%1: warning: %2\n").arg(m_cli.program(), line.text()));
    if (status == CommandLine::Success && !m_parser.isSet(m_quiet)) {
        // A resumed run tells the maps it found whole from those it made.
        if (report.resumed)
            m_cli.printOut(QStringLiteral("%1 maps were complete and kept, %2 written; batch "
                                          "list %3\n")
                               .arg(QString::number(report.mapsResumed),
                                    QString::number(written - report.mapsResumed), listName));
        else
            m_cli.printOut(QStringLiteral("%1 maps written; batch list %2\n")
                               .arg(QString::number(written), listName));
        if (!report.metricsTablePath.isEmpty())
            m_cli.printOut(QStringLiteral("metrics of every map in %1\n")
                               .arg(QDir::toNativeSeparators(report.metricsTablePath)));
        for (const QString &line : report.acceptance)
            m_cli.printOut(line + QLatin1Char('\n'));
    }
    return status;
}

int BatchCommand::run(const QStringList &arguments)
{
    if (const auto done = parse(arguments))
        return *done;
    const std::unique_ptr<FamilyRequest> request = m_family.newRequest();
    if (const auto error = read(*request))
        return m_cli.usageError(*error);
    BatchJob job(m_family.source(*request));
    return run(job);
}
