#include "runtime/classregistry.h"

#include <QHash>
#include <QMutex>

namespace {
QMutex registryLock;
QHash<QByteArray, TClassRegistry::Factory>& factories() {
    static QHash<QByteArray, TClassRegistry::Factory> map;
    return map;
}
} // namespace

void TClassRegistry::Register(const QByteArray& className, Factory factory) {
    QMutexLocker lock(&registryLock);
    factories().insert(className, std::move(factory));
}

QObject* TClassRegistry::Create(const QByteArray& className, QObject* parent) {
    Factory f;
    {
        QMutexLocker lock(&registryLock);
        f = factories().value(className);
    }
    return f ? f(parent) : nullptr;
}

bool TClassRegistry::Has(const QByteArray& className) {
    QMutexLocker lock(&registryLock);
    return factories().contains(className);
}
