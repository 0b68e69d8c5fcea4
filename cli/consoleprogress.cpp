// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/consoleprogress.h"

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

std::atomic<int> requestedStop{0};

extern "C" void onStopSignal(int signal)
{
    requestedStop.store(signal);
}

} // namespace

ConsoleProgress::ConsoleProgress(bool show)
    : m_show(show)
{
    m_sinceStart.start();
    m_sinceDraw.start();
}

ConsoleProgress::~ConsoleProgress()
{
    finish();
}

void ConsoleProgress::installSignalHandlers()
{
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    // The first signal asks for a stop after the current map, which for a
    // very large map can take long; a second one of the same kind ends the
    // process at once. That loses nothing either, since a map becomes
    // visible under its name only once it is complete.
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int ConsoleProgress::stopSignal()
{
    return requestedStop.load();
}

void ConsoleProgress::mapsMade(qint64 made, qint64 planned)
{
    m_made = made;
    m_planned = planned;
    draw(made == planned);
}

void ConsoleProgress::drawsMade(qint64 draws)
{
    m_draws = draws;
    draw(false);
}

QString ConsoleProgress::line(qint64 made, qint64 planned, double seconds, bool done, qint64 draws)
{
    QString text = planned > 0 ? QStringLiteral("%1/%2 maps").arg(made).arg(planned)
                               : QStringLiteral("%1 maps").arg(made);
    if (draws > 0)
        text += QStringLiteral(" (%1 drawn)").arg(draws);
    if (seconds <= 0 || made == 0)
        return text;
    const double rate = double(made) / seconds;
    text += rate >= 10 ? QStringLiteral(", %1 maps/s").arg(qRound64(rate))
                       : QStringLiteral(", %1 maps/s").arg(rate, 0, 'f', 1);
    if (planned > made && !done) {
        const qint64 left = qRound64(double(planned - made) / rate);
        text += QStringLiteral(", about %1:%2 left")
                    .arg(left / 60)
                    .arg(left % 60, 2, 10, QLatin1Char('0'));
    }
    return text;
}

bool ConsoleProgress::wasCanceled() const
{
    return requestedStop.load() != 0;
}

void ConsoleProgress::draw(bool force)
{
    // A terminal redrawn for every small map would cost more than the maps.
    if (!m_show || (!force && m_drawn && m_sinceDraw.elapsed() < 100))
        return;
    m_sinceDraw.restart();
    m_drawn = true;
    const QByteArray text =
        (QLatin1Char('\r') +
         line(m_made, m_planned, double(m_sinceStart.elapsed()) / 1000.0, m_finished, m_draws) +
         QStringLiteral("\x1b[K"))
            .toLocal8Bit();
    std::fwrite(text.constData(), 1, std::size_t(text.size()), stderr);
    std::fflush(stderr);
}

void ConsoleProgress::finish()
{
    // The last count stands, even when the run made fewer maps than planned
    // or ended between two drawings.
    if (m_show && (m_made > 0 || m_draws > 0) && !m_finished) {
        m_finished = true;
        draw(true);
    }
    if (m_show && m_drawn) {
        std::fputc('\n', stderr);
        std::fflush(stderr);
        m_drawn = false;
    }
}
