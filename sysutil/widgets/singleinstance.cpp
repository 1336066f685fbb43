#include "sysutil/widgets/singleinstance.h"

#include "runtime/classregistry.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QWidget>

namespace {
TPreviousInstance* record = nullptr;
}

TPreviousInstance::TPreviousInstance(const QString& name,
                                     std::unique_ptr<tarnwick::InstanceLock> lock)
    : m_lock(lock ? std::move(lock) : tarnwick::InstanceLock::create()) {
    m_exists = !m_lock->acquire(name);
    record = this;
}

TPreviousInstance::~TPreviousInstance() {
    if (record == this) record = nullptr;
}

TPreviousInstance* TPreviousInstance::Instance() {
    return record;
}

QString TPreviousInstance::DefaultTitle(const QString& executablePath) {
    QString name = QFileInfo(executablePath).fileName();
    name.truncate(name.indexOf('.') < 0 ? name.size() : name.indexOf('.'));
    if (name.isEmpty()) return name;
    return name.left(1).toUpper() + name.mid(1).toLower();
}

TSingleInstance::TSingleInstance(QObject* owner) : TComponent(owner) {
    TPreviousInstance* previous = TPreviousInstance::Instance();
    if (!previous) return;
    if (previous->Exists()) {
        previous->Lock().activateHolder();
        // The window is still made and its creation handler still runs; the copy ends as
        // soon as its event loop starts.
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
        return;
    }
    QPointer<QWidget> window = qobject_cast<QWidget*>(owner);
    previous->Lock().onActivate([window] {
        if (window) ComeForward(window->window());
    });
}

void TSingleInstance::ComeForward(QWidget* window) {
    if (window->isMinimized())
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->show();
    window->raise();
    window->activateWindow();
}

void RegisterSingleInstance() {
    TClassRegistry::Register<TSingleInstance>();
}
