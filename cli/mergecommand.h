// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

class CommandLine;

// patchwright-cli merge OUT SHARE...: gathers the shares of a batch
// split with --shard into one folder, as the whole batch run there.
class MergeCommand final {
public:
    explicit MergeCommand(CommandLine &commandLine)
        : m_cli(commandLine)
    {}
    int run(const QStringList &arguments);

private:
    CommandLine &m_cli;
};
