// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

class CommandLine;

// `classify`: a surface of the user's own (a float ESRI grid or GeoTIFF)
// cut into classes of exact sizes, inside the surface's NoData and an
// optional mask, written as one map file.
class ClassifyCommand final {
public:
    explicit ClassifyCommand(CommandLine &commandLine);

    int run(const QStringList &arguments);

private:
    CommandLine &m_cli;
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    QCommandLineOption m_proportions;
    QCommandLineOption m_proportionsOf;
    QCommandLineOption m_classValues;
    QCommandLineOption m_mask;
    QCommandLineOption m_maskValue;
    QCommandLineOption m_noData;
    QCommandLineOption m_out;
    QCommandLineOption m_overwrite;
};
