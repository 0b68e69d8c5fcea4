// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

class CommandLine;

// `scan`: a pilot sample of maps of a family, made in memory, and the spread
// of each metric per H (and cover), so that a user can choose targets and H
// values that a batch with --target can reach.
class ScanCommand final {
public:
    explicit ScanCommand(CommandLine &commandLine);
    int run(const QStringList &arguments);

private:
    CommandLine &m_cli;
};
