// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

// What a batch loop tells the outside world while it runs, and how it learns
// that the user wants it to stop. The GUI adapts it to a QProgressDialog, the
// command line to a line on stderr, the tests to a fake that cancels on cue.
class BatchProgress {
public:
    virtual ~BatchProgress() = default;

    virtual void setMaximum(int maximum) = 0;
    virtual void setLabelText(const QString &text) = 0;
    // Called from the thread that runs the batch, which need not be the one
    // that shows the progress: the window's dialog runs the batch on a worker
    // and only posts the latest state to its own thread, where a Cancel click
    // is recorded for the next wasCanceled().
    virtual void setValue(int value) = 0;
    virtual bool wasCanceled() const = 0;
    // Another map is complete: `made` of the `planned` the request asks for
    // (0 when a kind cannot say). The maximum and value above count what
    // the window has always shown, which for fractal maps is surfaces.
    virtual void mapsMade(qint64 made, qint64 planned)
    {
        Q_UNUSED(made);
        Q_UNUSED(planned);
    }
    // A batch with targets measured another draw, `draws` in all so far:
    // a search whose maps are rarely kept still shows that it works.
    virtual void drawsMade(qint64 draws) { Q_UNUSED(draws); }
};

// For callers that want no reporting at all.
class NullProgress final : public BatchProgress {
public:
    void setMaximum(int) override {}
    void setLabelText(const QString &) override {}
    void setValue(int) override {}
    bool wasCanceled() const override { return false; }
};
