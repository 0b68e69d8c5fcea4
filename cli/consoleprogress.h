// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchprogress.h"

#include <QElapsedTimer>

// Progress of a headless batch: one self-overwriting line on stderr when a
// person is watching (stderr is a terminal and --quiet was not given), in
// maps made of maps planned with the rate and the time left, and
// the cancel request of SIGINT or SIGTERM, which stop the run after the
// current map so that every file on disk is complete and listed.
class ConsoleProgress final : public BatchProgress {
public:
    explicit ConsoleProgress(bool show);
    ~ConsoleProgress() override;

    // The window's surface counts and labels are its own; the line counts
    // maps.
    void setMaximum(int) override {}
    void setLabelText(const QString &) override {}
    void setValue(int) override {}
    bool wasCanceled() const override;
    void mapsMade(qint64 made, qint64 planned) override;
    void drawsMade(qint64 draws) override;

    // The line for `made` of `planned` maps after `seconds`; once `done`,
    // without the time left.
    // "3/10 maps, 2.5 maps/s, about 0:03 left", and the draws measured so
    // far when a batch with targets has drawn any.
    static QString line(qint64 made, qint64 planned, double seconds, bool done, qint64 draws = 0);

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
    bool m_finished = false;
    qint64 m_made = 0;
    qint64 m_planned = 0;
    qint64 m_draws = 0;
    QElapsedTimer m_sinceStart;
    QElapsedTimer m_sinceDraw;
};
