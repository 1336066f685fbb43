// Network shares through GIO, which hands them to the GVfs daemons on the session bus: the
// same road `gio mount` takes, without a child process or a terminal to answer prompts.

#include "platform/desktop/networkshares.h"

// GLib names a structure member "signals", which Qt defines as a keyword.
#ifdef signals
#undef signals
#endif
#include <gio/gio.h>

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <memory>

namespace tarnwick {

namespace {

bool glibDrivesTheLoop() {
    const QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance();
    return d && d->inherits("QEventDispatcherGlib");
}

// One asynchronous call and its outcome. The call's completion owns a reference, so a caller
// that stops waiting (cancel) leaves nothing dangling.
struct Call {
    ShareLogin login;
    bool done = false;
    GError* error = nullptr;
    int passwordRequests = 0;
    bool loginRefused = false;
    QEventLoop* loop = nullptr;
    ~Call() {
        if (error) g_error_free(error);
    }
};
using CallRef = std::shared_ptr<Call>;

// Runs the event loop until the call completes. GIO reports through the default main context:
// Qt's loop drives it when built on GLib; otherwise it is polled here.
void waitFor(const CallRef& call) {
    if (call->done) return;
    QEventLoop loop;
    call->loop = &loop;
    QTimer poll;
    if (!glibDrivesTheLoop()) {
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
            if (call->done) loop.quit();
        });
        poll.start(10);
    }
    loop.exec();
    call->loop = nullptr;
}

void finish(Call& call) {
    call.done = true;
    if (call.loop) call.loop->quit();
}

void askPassword(GMountOperation* op, const char*, const char* defaultUser,
                 const char* defaultDomain, GAskPasswordFlags flags, gpointer data) {
    auto* call = static_cast<Call*>(data);
    // Asked again: the server refused what was given. Asking the same once more cannot help.
    if (call->passwordRequests++ > 0) {
        call->loginRefused = true;
        g_mount_operation_reply(op, G_MOUNT_OPERATION_ABORTED);
        return;
    }
    const ShareLogin& l = call->login;
    if (l.user.isEmpty() && (flags & G_ASK_PASSWORD_ANONYMOUS_SUPPORTED)) {
        g_mount_operation_set_anonymous(op, TRUE);
    } else {
        if (flags & G_ASK_PASSWORD_NEED_USERNAME)
            g_mount_operation_set_username(op, l.user.isEmpty() ? defaultUser
                                                                : l.user.toUtf8().constData());
        if (flags & G_ASK_PASSWORD_NEED_DOMAIN)
            g_mount_operation_set_domain(op, l.domain.isEmpty() ? defaultDomain
                                                                : l.domain.toUtf8().constData());
        if (flags & G_ASK_PASSWORD_NEED_PASSWORD)
            g_mount_operation_set_password(op, l.password.toUtf8().constData());
    }
    // The password lives in this dialog only, never in a keyring.
    g_mount_operation_set_password_save(op, G_PASSWORD_SAVE_NEVER);
    g_mount_operation_reply(op, G_MOUNT_OPERATION_HANDLED);
}

void askQuestion(GMountOperation* op, const char* message, const char** choices, gpointer data) {
    auto* call = static_cast<Call*>(data);
    QStringList list;
    for (const char** c = choices; c && *c; ++c)
        list << QString::fromUtf8(*c);
    const int choice =
        call->login.question ? call->login.question(QString::fromUtf8(message), list) : -1;
    if (choice < 0 || choice >= list.size()) {
        g_mount_operation_reply(op, G_MOUNT_OPERATION_ABORTED);
        return;
    }
    g_mount_operation_set_choice(op, choice);
    g_mount_operation_reply(op, G_MOUNT_OPERATION_HANDLED);
}

int resultOf(const Call& call, QString* message) {
    if (!call.error) return netresult::Success;
    if (message) *message = QString::fromUtf8(call.error->message);
    if (call.error->domain != G_IO_ERROR) return netresult::ExtendedError;
    switch (call.error->code) {
    case G_IO_ERROR_CANCELLED:
        return netresult::Cancelled;
    case G_IO_ERROR_FAILED_HANDLED:
        // Either we gave up after a refused login, or the user declined a question.
        return call.loginRefused ? netresult::LogonFailure : netresult::Cancelled;
    case G_IO_ERROR_ALREADY_MOUNTED:
        return netresult::Success;
    case G_IO_ERROR_PERMISSION_DENIED:
        return netresult::AccessDenied;
    case G_IO_ERROR_NOT_FOUND:
        return netresult::BadNetName;
    case G_IO_ERROR_HOST_NOT_FOUND:
    case G_IO_ERROR_HOST_UNREACHABLE:
    case G_IO_ERROR_NETWORK_UNREACHABLE:
    case G_IO_ERROR_CONNECTION_REFUSED:
        return netresult::BadNetPath;
    case G_IO_ERROR_NOT_SUPPORTED:
    case G_IO_ERROR_NOT_MOUNTABLE_FILE:
        return netresult::NotSupported;
    case G_IO_ERROR_INVALID_ARGUMENT:
    case G_IO_ERROR_INVALID_FILENAME:
        return netresult::InvalidAddress;
    case G_IO_ERROR_NOT_MOUNTED:
        return netresult::NotConnected;
    default:
        return netresult::ExtendedError;
    }
}

bool isNetworkScheme(const char* scheme) {
    static const char* const schemes[] = {"smb", "sftp", "ssh", "ftp", "ftps",
                                          "dav", "davs", "afp", "nfs", "webdav"};
    if (!scheme) return false;
    for (const char* s : schemes)
        if (g_ascii_strcasecmp(s, scheme) == 0) return true;
    return false;
}

QString takeString(char* s) {
    const QString r = s ? QString::fromUtf8(s) : QString();
    g_free(s);
    return r;
}

class GvfsNetworkShares : public NetworkShares {
public:
    int mount(const ShareLogin& login, QString* message) override {
        auto call = std::make_shared<Call>();
        call->login = login;
        GFile* file = g_file_new_for_uri(login.address.toUtf8().constData());
        GMountOperation* op = g_mount_operation_new();
        g_signal_connect(op, "ask-password", G_CALLBACK(askPassword), call.get());
        g_signal_connect(op, "ask-question", G_CALLBACK(askQuestion), call.get());
        m_cancellable = g_cancellable_new();
        g_file_mount_enclosing_volume(
            file, G_MOUNT_MOUNT_NONE, op, m_cancellable,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<CallRef> ref(static_cast<CallRef*>(data));
                g_file_mount_enclosing_volume_finish(G_FILE(source), result, &(*ref)->error);
                finish(**ref);
            },
            new CallRef(call));
        waitFor(call);
        g_object_unref(op);
        g_object_unref(file);
        g_clear_object(&m_cancellable);
        return resultOf(*call, message);
    }

    void cancel() override {
        if (m_cancellable) g_cancellable_cancel(m_cancellable);
    }

    QList<MountedShare> mounted() override {
        QList<MountedShare> shares;
        GVolumeMonitor* monitor = g_volume_monitor_get();
        GList* mounts = g_volume_monitor_get_mounts(monitor);
        for (GList* m = mounts; m; m = m->next) {
            GMount* mount = G_MOUNT(m->data);
            GFile* root = g_mount_get_root(mount);
            char* scheme = g_file_get_uri_scheme(root);
            if (isNetworkScheme(scheme))
                shares.append({takeString(g_mount_get_name(mount)),
                               takeString(g_file_get_uri(root)),
                               takeString(g_file_get_path(root))});
            g_free(scheme);
            g_object_unref(root);
        }
        g_list_free_full(mounts, g_object_unref);
        g_object_unref(monitor);
        return shares;
    }

    int unmount(const QString& address, QString* message) override {
        GFile* file = g_file_new_for_uri(address.toUtf8().constData());
        GError* error = nullptr;
        GMount* mount = g_file_find_enclosing_mount(file, nullptr, &error);
        g_object_unref(file);
        if (!mount) {
            if (message) *message = error ? QString::fromUtf8(error->message) : QString();
            if (error) g_error_free(error);
            return netresult::NotConnected;
        }
        auto call = std::make_shared<Call>();
        g_mount_unmount_with_operation(
            mount, G_MOUNT_UNMOUNT_NONE, nullptr, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<CallRef> ref(static_cast<CallRef*>(data));
                g_mount_unmount_with_operation_finish(G_MOUNT(source), result, &(*ref)->error);
                finish(**ref);
            },
            new CallRef(call));
        waitFor(call);
        g_object_unref(mount);
        return resultOf(*call, message);
    }

private:
    GCancellable* m_cancellable = nullptr;
};

std::atomic<NetworkShares*> installed{nullptr};

} // namespace

NetworkShares& NetworkShares::current() {
    static GvfsNetworkShares gvfs;
    NetworkShares* s = installed.load();
    return s ? *s : gvfs;
}

void NetworkShares::install(NetworkShares* shares) {
    installed.store(shares);
}

} // namespace tarnwick
