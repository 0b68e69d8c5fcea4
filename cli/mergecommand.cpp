// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/mergecommand.h"

#include "cli/commandline.h"
#include "core/batch/shardmerge.h"

#include <QCommandLineParser>
#include <QDir>

int MergeCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Gathers the folders of the shares of a batch run with --shard K/N into OUT: every map\n"
        "(hard-linked, so the share folders stay whole), one batch list naming them in OUT\n"
        "and one manifest in the order of the whole batch, as the batch run at once into OUT\n"
        "would have written them. Refuses (exit status 2) shares of different requests or\n"
        "releases, a missing, repeated or unfinished share, a share whose maps, surfaces or\n"
        "manifest rows are no longer those it wrote, and an OUT that exists and is not an empty\n"
        "folder; OUT appears only when it is whole."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    const QCommandLineOption quiet(QStringLiteral("quiet"), QStringLiteral("No summary."));
    parser.addOption(help);
    parser.addOption(quiet);
    parser.addPositionalArgument(QStringLiteral("OUT"), QStringLiteral("Folder to merge into."));
    // A short name: QCommandLineParser sizes its column by the options
    // alone and breaks a longer argument's name.
    parser.addPositionalArgument(QStringLiteral("SHARE"),
                                 QStringLiteral("The --out folder of a share."),
                                 QStringLiteral("SHARE..."));
    if (const auto done = m_cli.parseArguments(parser, help, arguments,
                                               QStringLiteral("Usage: %1 merge OUT SHARE...")))
        return *done;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() < 2)
        return m_cli.usageError(QStringLiteral("merge needs OUT and at least one share folder"));
    const auto merged = mergeShards(positional.first(), positional.mid(1));
    if (const auto *failure = std::get_if<MergeFailure>(&merged)) {
        if (!failure->refused)
            return m_cli.runFailure(failure->message);
        // Shares that cannot be merged as given are a request that cannot
        // run, whose status is 2 as for any other; the help would not help.
        m_cli.printErr(QStringLiteral("%1: %2\n").arg(m_cli.program(), failure->message));
        return CommandLine::UsageError;
    }
    const MergeResult &result = std::get<MergeResult>(merged);
    if (!parser.isSet(quiet))
        m_cli.printOut(QStringLiteral("%1 maps of %2 shares merged; batch list %3\n")
                           .arg(result.maps)
                           .arg(result.shares)
                           .arg(QDir::toNativeSeparators(result.batchList)));
    return CommandLine::Success;
}
