#include "platform/termination.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarnwick {

namespace {
int pipeFds[2] = {-1, -1};
struct sigaction previousTerm, previousInt;

void onSignal(int sig) {
    const int saved = errno;
    const unsigned char b = static_cast<unsigned char>(sig);
    [[maybe_unused]] ssize_t n = ::write(pipeFds[1], &b, 1);
    errno = saved;
}
} // namespace

Termination::Termination(QObject* parent) : QObject(parent) {
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        // The signals then end the program as they always do; say why the settings are not saved.
        qWarning("cannot catch SIGTERM and SIGINT: pipe2: %s", std::strerror(errno));
        return;
    }
    m_notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char b = 0;
        while (::read(pipeFds[0], &b, 1) == 1)
            emit requested(b);
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    if (::sigaction(SIGTERM, &sa, &previousTerm) != 0)
        qWarning("cannot catch SIGTERM: %s", std::strerror(errno));
    if (::sigaction(SIGINT, &sa, &previousInt) != 0)
        qWarning("cannot catch SIGINT: %s", std::strerror(errno));
}

Termination::~Termination() {
    if (!m_notifier) return;
    // Restoring what was there before cannot fail for these signals; nothing to do if it did.
    (void)::sigaction(SIGTERM, &previousTerm, nullptr);
    (void)::sigaction(SIGINT, &previousInt, nullptr);
    delete m_notifier;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

} // namespace tarnwick
