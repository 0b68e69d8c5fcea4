// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/commandline.h"

#include "cli/batchcommand.h"
#include "cli/mergecommand.h"
#include "cli/metricscommand.h"
#include "cli/renderloader.h"
#include "cli/scancommand.h"
#include "core/batch/batchoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

namespace {

QString topLevelHelp(const QString &program)
{
    return QStringLiteral(
               "Usage: %1 COMMAND [options]\n"
               "\n"
               "Generates batches of synthetic two-class landscape maps, and previews of them,\n"
               "without a display, and measures the landscape metrics of any map file.\n"
               "\n"
               "Commands:\n"
               "  random    random maps: each cell is habitat with the cover as probability\n"
               "  fractal   fractal (midpoint-displacement) maps cut at the requested covers\n"
               "  gaussian  maps cut from Gaussian random fields or exact fBm surfaces\n"
               "  merge     gathers the shares of a batch split with --shard into one folder\n"
               "  metrics   the class- and landscape-level metrics of map files, as a long table\n"
               "  render    PNG previews of map files, drawn as the main window draws them\n"
               "  scan      the spread of each metric over a pilot sample, per H or range and "
               "cover\n"
               "\n"
               "Options:\n"
               "  -h, --help     Displays help on commandline options.\n"
               "  -v, --version  Displays version information.\n"
               "\n"
               "Run '%1 COMMAND --help' for the options of a command.\n")
        .arg(program);
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
    if (const std::optional<BatchKind> kind = batchKindNamed(command)) {
        m_command = command;
        BatchCommand batch(*this, command);
        switch (*kind) {
        case BatchKind::Random:
            return batch.runRandom(rest);
        case BatchKind::Fractal:
            return batch.runFractal(rest);
        case BatchKind::Gaussian:
            break;
        }
        return batch.runGaussian(rest);
    }
    if (command == QLatin1String("merge")) {
        m_command = command;
        MergeCommand merge(*this);
        return merge.run(rest);
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
