// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/commandline.h"

#include "cli/batchcommand.h"
#include "cli/classifycommand.h"
#include "cli/mergecommand.h"
#include "cli/metricscommand.h"
#include "cli/renderloader.h"
#include "cli/scancommand.h"
#include "core/batch/mapfamily.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace {

QString topLevelHelp(const QString &program)
{
    // The families' commands, then the others, in one column.
    QList<std::pair<QString, QString>> commands;
    for (const MapFamily *family : mapFamilies())
        commands.append({QLatin1String(family->word()), family->summary()});
    commands.append({QStringLiteral("classify"),
                     QStringLiteral("cuts a surface of your own into classes of exact sizes")});
    commands.append(
        {QStringLiteral("metrics"),
         QStringLiteral("the class- and landscape-level metrics of map files, as a long table")});
    commands.append(
        {QStringLiteral("merge"),
         QStringLiteral("gathers the shares of a batch split with --shard into one folder")});
    commands.append(
        {QStringLiteral("render"),
         QStringLiteral("PNG previews of map files, drawn as the main window draws them")});
    commands.append(
        {QStringLiteral("scan"),
         QStringLiteral(
             "the spread of each metric over a pilot sample, per sweep value and cover")});
    qsizetype width = 0;
    for (const auto &command : std::as_const(commands))
        width = std::max(width, command.first.size());
    QString list;
    for (const auto &[name, summary] : std::as_const(commands))
        list += QStringLiteral("  %1  %2\n").arg(name.leftJustified(width), summary);
    return QStringLiteral("Usage: %1 COMMAND [options]\n"
                          "\n"
                          "Generates batches of synthetic landscape maps, and previews of them,\n"
                          "without a display, and measures the landscape metrics of any map file.\n"
                          "\n"
                          "Commands:\n"
                          "%2"
                          "\n"
                          "Options:\n"
                          "  -h, --help     Displays help on commandline options.\n"
                          "  -v, --version  Displays version information.\n"
                          "\n"
                          "Run '%1 COMMAND --help' for the options of a command.\n")
        .arg(program, list);
}

} // namespace

CommandLine::CommandLine(std::FILE *out, std::FILE *err)
    : m_out(out)
    , m_err(err)
{}

void CommandLine::print(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

int CommandLine::usageError(const QString &message)
{
    const QString help = m_command.isEmpty() ? m_program : m_program + QLatin1Char(' ') + m_command;
    print(m_err, QStringLiteral("%1: %2\nTry '%3 --help'.\n").arg(m_program, message, help));
    return UsageError;
}

int CommandLine::runFailure(const QString &message)
{
    print(m_err, QStringLiteral("%1: %2\n").arg(m_program, message));
    return RunFailed;
}

std::optional<int> CommandLine::parseArguments(QCommandLineParser &parser,
                                               const QCommandLineOption &help,
                                               const QStringList &arguments, const QString &usage)
{
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (!parser.isSet(help))
        return std::nullopt;
    // The parser names the executable's path in its usage line; the
    // command belongs there too.
    QString text = parser.helpText();
    text.replace(0, text.indexOf(QLatin1Char('\n')), usage.arg(m_program));
    printOut(text);
    return Success;
}

int CommandLine::run(const QStringList &arguments)
{
    m_program = arguments.isEmpty() ? QStringLiteral("patchwright-cli")
                                    : QFileInfo(arguments.first()).fileName();
    if (arguments.size() < 2) {
        print(m_err, topLevelHelp(m_program));
        return UsageError;
    }
    const QString command = arguments.at(1);
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help")) {
        print(m_out, topLevelHelp(m_program));
        return Success;
    }
    // The release as the program was built, in the words of Qt's own
    // version option, which packaging tools read.
    QCommandLineParser topLevel;
    const QCommandLineOption version = topLevel.addVersionOption();
    if (topLevel.parse({m_program, command}) && topLevel.isSet(version)) {
        print(m_out,
              QStringLiteral("%1 %2\n").arg(m_program, QCoreApplication::applicationVersion()));
        return Success;
    }
    QStringList rest = arguments.mid(2);
    rest.prepend(m_program + QLatin1Char(' ') + command);
    if (const MapFamily *family = familyNamed(command)) {
        m_command = command;
        BatchCommand batch(*this, *family);
        return batch.run(rest);
    }
    if (command == QLatin1String("merge")) {
        m_command = command;
        MergeCommand merge(*this);
        return merge.run(rest);
    }
    if (command == QLatin1String("classify")) {
        m_command = command;
        ClassifyCommand classify(*this);
        return classify.run(rest);
    }
    if (command == QLatin1String("metrics")) {
        m_command = command;
        MetricsCommand metrics(*this);
        return metrics.run(rest);
    }
    if (command == QLatin1String("render")) {
        m_command = command;
        const RenderModule render = loadRenderModule();
        if (!render.run)
            return runFailure(render.failure);
        return render.run(this, &rest);
    }
    if (command == QLatin1String("scan")) {
        m_command = command;
        ScanCommand scan(*this);
        return scan.run(rest);
    }
    return usageError(QStringLiteral("unknown command '%1'").arg(command));
}
