// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTranslator>

// Translates every text into "context|source", which shows under which
// context each text of a window was looked up.
class ContextMarkingTranslator : public QTranslator {
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char * = nullptr,
                      int = -1) const override
    {
        return QString::fromUtf8(context) + QLatin1Char('|') + QString::fromUtf8(sourceText);
    }
};
