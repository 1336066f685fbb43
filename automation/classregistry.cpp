#include "automation/classregistry.h"

#include "automation/threaduse.h"
#include "platform/inikeystore.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>

#include <exception>

namespace tarnwick::automation {

namespace {
struct Factories {
    QMutex mutex;
    QHash<QString, ClassFactory> byId; // keys in lower case
};

Factories& factories() {
    static Factories f;
    return f;
}
} // namespace

void RegisterClass(const QString& progId, ClassFactory factory) {
    {
        Factories& f = factories();
        QMutexLocker lock(&f.mutex);
        f.byId.insert(progId.toLower(), std::move(factory));
    }
    registerAutomationClass(progId);
}

void UnregisterClass(const QString& progId) {
    unregisterAutomationClass(progId);
    Factories& f = factories();
    QMutexLocker lock(&f.mutex);
    f.byId.remove(progId.toLower());
}

Dispatch CreateAutomationObject(const QString& progId) {
    if (AutomationUseCount() == 0)
        throw EAutomationError(
            QStringLiteral("Automation is not initialised on this thread; %1 cannot be created")
                .arg(progId));
    ClassFactory factory;
    {
        Factories& f = factories();
        QMutexLocker lock(&f.mutex);
        factory = f.byId.value(progId.toLower());
    }
    if (!factory || progId.isEmpty() || !IniKeyStore(reg::CLASSES_ROOT).keyExists(progId))
        throw EAutomationError(QStringLiteral("The class %1 is not registered").arg(progId));
    Dispatch object;
    try {
        object = factory();
    } catch (const EAutomationError&) {
        throw;
    } catch (const std::exception& e) {
        throw EAutomationError(QString::fromUtf8(e.what()));
    }
    if (!object)
        throw EAutomationError(QStringLiteral("The class %1 created no object").arg(progId));
    return object;
}

} // namespace tarnwick::automation
