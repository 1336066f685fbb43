#include "platform/posix/tempfiles.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::posix {

namespace {

// A file without a readable writer id that is unlocked and untouched this long is an orphan.
// Our own writers lock their file right after creating it; this only covers that instant.
constexpr time_t kOrphanAgeSeconds = 10;

bool hasSuffix(const char* name, size_t len, const std::string& suffix) {
    return len >= suffix.size() &&
           std::memcmp(name + len - suffix.size(), suffix.data(), suffix.size()) == 0;
}

// The writer's process id from "<pid>-<random>", or 0 when the middle part has another form.
pid_t writerPid(const char* middle, size_t len) {
    pid_t pid = 0;
    size_t i = 0;
    for (; i < len && middle[i] >= '0' && middle[i] <= '9' && i < 10; ++i)
        pid = pid * 10 + (middle[i] - '0');
    return i > 0 && i < len && middle[i] == '-' ? pid : 0;
}

// The table of armed temporary files, read by the signal handler: only atomics and plain data.
struct Slot {
    std::atomic<int> state{0}; // 0 free, 1 being filled, 2 armed
    int folder = -1;
    char name[256] = {};
};
constexpr int kSlots = 64;
Slot slots[kSlots];
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void removeArmedAndDie(int sig) {
    for (Slot& s : slots)
        if (s.state.load(std::memory_order_acquire) == 2) ::unlinkat(s.folder, s.name, 0);
    // End as the signal would have ended us, so the caller sees the true cause.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    ::raise(sig);
}

// Looked at on every arming, so a handler given up by someone else is taken over later.
void installHandlers() {
    static std::mutex mutex;
    const std::lock_guard<std::mutex> guard(mutex);
    for (int sig : kSignals) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) != 0) continue;
        if ((old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) continue;
        struct sigaction sa {};
        sa.sa_handler = removeArmedAndDie;
        sigemptyset(&sa.sa_mask);
        for (int other : kSignals)
            sigaddset(&sa.sa_mask, other);
        // Not fatal when refused: the next run sweeps what is left.
        (void)::sigaction(sig, &sa, nullptr);
    }
}

} // namespace

UniqueFd createTemp(int folderFd, const TempNaming& naming, std::string* name,
                    SignalCleanup* cleanup) {
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    // The cleaning signals wait from before the file exists until it is armed.
    struct HeldSignals {
        bool held = false;
        sigset_t old;
        explicit HeldSignals(bool hold) {
            if (!hold) return;
            sigset_t set;
            sigemptyset(&set);
            for (int sig : {SIGINT, SIGTERM, SIGHUP})
                sigaddset(&set, sig);
            held = ::pthread_sigmask(SIG_BLOCK, &set, &old) == 0;
        }
        ~HeldSignals() {
            if (held) ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
        }
    } heldSignals(cleanup != nullptr);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = naming.prefix + std::to_string(::getpid()) + '-';
        for (int i = 0; i < 6; ++i)
            candidate += alphabet[random() % (sizeof alphabet - 1)];
        candidate += naming.suffix;
        UniqueFd fd(::openat(folderFd, candidate.c_str(),
                             O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
        if (!fd) {
            if (errno == EEXIST) continue;
            return {};
        }
        while (::flock(fd.get(), LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::unlinkat(folderFd, candidate.c_str(), 0);
            errno = err;
            return {};
        }
        if (cleanup) cleanup->arm(folderFd, candidate);
        *name = std::move(candidate);
        return fd;
    }
    errno = EEXIST;
    return {};
}

int sweepOrphans(int folderFd, const TempNaming& naming) {
    const int dup = ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    if (dup < 0) return 0;
    DIR* dir = ::fdopendir(dup);
    if (!dir) {
        ::close(dup);
        return 0;
    }
    ::rewinddir(dir);
    const uid_t me = ::geteuid();
    const time_t now = ::time(nullptr);
    int removed = 0;
    while (const dirent* e = ::readdir(dir)) {
        const size_t len = std::strlen(e->d_name);
        if (len <= naming.prefix.size() + naming.suffix.size() ||
            std::strncmp(e->d_name, naming.prefix.c_str(), naming.prefix.size()) != 0 ||
            !hasSuffix(e->d_name, len, naming.suffix))
            continue;
        // Never blocks and never follows: whatever is there is only looked at.
        UniqueFd fd(::openat(folderFd, e->d_name,
                             O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
        struct stat st {};
        if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != me) continue;
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue; // its writer is at work
        const pid_t pid = writerPid(e->d_name + naming.prefix.size(),
                                    len - naming.prefix.size() - naming.suffix.size());
        const bool writerGone = pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
        if (!writerGone && now - st.st_mtime <= kOrphanAgeSeconds) continue;
        // Still the file we looked at? Then it goes.
        struct stat again {};
        if (::fstatat(folderFd, e->d_name, &again, AT_SYMLINK_NOFOLLOW) == 0 &&
            again.st_dev == st.st_dev && again.st_ino == st.st_ino &&
            ::unlinkat(folderFd, e->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

bool SignalCleanup::arm(int folderFd, const std::string& name) {
    disarm();
    if (name.size() >= sizeof slots[0].name) return false;
    installHandlers();
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (!slots[i].state.compare_exchange_strong(expected, 1)) continue;
        slots[i].folder = folderFd;
        std::memcpy(slots[i].name, name.c_str(), name.size() + 1);
        slots[i].state.store(2, std::memory_order_release);
        m_slot = i;
        return true;
    }
    return false;
}

void SignalCleanup::disarm() {
    if (m_slot < 0) return;
    slots[m_slot].state.store(0, std::memory_order_release);
    m_slot = -1;
}

} // namespace tarnwick::posix
