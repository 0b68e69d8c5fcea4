// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchprogress.h"

#include <QStringList>

#include <functional>

// Records what a batch reports and presses Cancel once the value reaches a
// chosen point, the way a user's click is seen at the next check.
class FakeProgress final : public BatchProgress {
public:
    explicit FakeProgress(int cancelAtValue = -1)
        : m_cancelAt(cancelAtValue)
    {}

    void setMaximum(int maximum) override { this->maximum = maximum; }
    void setLabelText(const QString &text) override { labels.append(text); }
    void setValue(int value) override
    {
        values.append(value);
        if (onValue)
            onValue(value);
        if (m_cancelAt >= 0 && value >= m_cancelAt)
            m_canceled = true;
    }
    bool wasCanceled() const override { return m_canceled; }

    // Lets a test change the world between two maps (fill the disk, say).
    std::function<void(int)> onValue;

    int maximum = -1;
    QStringList labels;
    QList<int> values;

private:
    int m_cancelAt;
    bool m_canceled = false;
};
