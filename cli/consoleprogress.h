#pragma once

#include "core/batchprogress.h"

#include <QElapsedTimer>

// Progress of a headless batch: one self-overwriting line on stderr when a
// person is watching (stderr is a terminal and --quiet was not given), and
// the cancel request of SIGINT or SIGTERM, which stop the run after the
// current map so that every file on disk is complete and listed.
class ConsoleProgress final : public BatchProgress {
public:
    explicit ConsoleProgress(bool show);
    ~ConsoleProgress() override;

    void setMaximum(int maximum) override;
    void setLabelText(const QString &text) override;
    void setValue(int value) override;
    bool wasCanceled() const override;

    // Ends the progress line so that later messages start on their own line.
    void finish();

    // Routes the first SIGINT and the first SIGTERM to wasCanceled(); a
    // second signal of the same kind has its default effect. stopSignal()
    // returns the signal that asked to stop, or 0.
    static void installSignalHandlers();
    static int stopSignal();

private:
    void draw(bool force);

    bool m_show;
    bool m_drawn = false;
    int m_maximum = 0;
    int m_value = 0;
    QString m_label;
    QElapsedTimer m_sinceDraw;
};
