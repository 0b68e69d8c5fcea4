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

void ConsoleProgress::setMaximum(int maximum)
{
    m_maximum = maximum;
}

void ConsoleProgress::setLabelText(const QString &text)
{
    m_label = text;
    draw(false);
}

void ConsoleProgress::setValue(int value)
{
    m_value = value;
    draw(value >= m_maximum);
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
    const QByteArray line =
        QStringLiteral("\r[%1/%2] %3\x1b[K").arg(m_value).arg(m_maximum).arg(m_label).toLocal8Bit();
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stderr);
    std::fflush(stderr);
}

void ConsoleProgress::finish()
{
    if (m_show && m_drawn) {
        std::fputc('\n', stderr);
        std::fflush(stderr);
        m_drawn = false;
    }
}
