// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

// What a batch left in its output folder, sorted into what a user may rely
// on and what not. A map is complete when it holds exactly size rows of
// size codes, each code one of the run's two and followed by a space, and
// every row ended by a line feed.
class BatchFolder {
public:
    BatchFolder(const QString &folder, int size, qint32 matrixValue, qint32 coverValue)
    {
        const QDir dir(folder);
        // QSaveFile names its temporary files after the target: the name,
        // a dot and six letters or digits.
        static const QRegularExpression temporary(
            QStringLiteral("^.+\\.(txt|asc|fbt|csv)\\.[A-Za-z0-9]{6}$"));
        for (const QString &name :
             dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name)) {
            const QString path = dir.filePath(name);
            if (temporary.match(name).hasMatch())
                temporaries.append(path);
            else if (name.endsWith(QLatin1String(".txt")))
                (isCompleteMap(path, size, matrixValue, coverValue) ? completeMaps : brokenMaps)
                    .append(path);
            else
                others.append(path);
        }
    }

    static bool isCompleteMap(const QString &path, int size, qint32 matrixValue, qint32 coverValue)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QByteArray content = file.readAll();
        // Each code with its space; neither can be the start of the other.
        const QByteArray matrix = QByteArray::number(matrixValue) + ' ';
        const QByteArray cover = QByteArray::number(coverValue) + ' ';
        qsizetype pos = 0;
        for (int row = 0; row < size; ++row) {
            for (int column = 0; column < size; ++column) {
                const QByteArrayView rest(content.constData() + pos, content.size() - pos);
                if (rest.startsWith(matrix))
                    pos += matrix.size();
                else if (rest.startsWith(cover))
                    pos += cover.size();
                else
                    return false;
            }
            if (pos == content.size() || content[pos] != '\n')
                return false;
            ++pos;
        }
        return pos == content.size();
    }

    // The map paths a batch list names, in its order, without the
    // post-string every line ends with.
    static QStringList listedMaps(const QString &listPath, const QString &postString)
    {
        QFile file(listPath);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList paths;
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (line.isEmpty())
                continue;
            QString path = QString::fromLatin1(line);
            if (path.endsWith(postString))
                path.chop(postString.size());
            paths.append(path);
        }
        return paths;
    }

    QStringList completeMaps;
    QStringList brokenMaps;
    QStringList temporaries;
    QStringList others;
};
