#include "runtime/component.h"

#include <QMutex>
#include <QSet>

namespace tarnwick::detail {

namespace {
QMutex eventTypesLock;
QSet<int>& eventTypes() {
    static QSet<int> types;
    return types;
}
} // namespace

int findHandler(const QMetaObject* mo, const QByteArray& name, const QList<QMetaType>& params) {
    if (!mo || name.isEmpty()) return -1;
    for (int i = mo->methodCount() - 1; i >= 0; --i) {
        const QMetaMethod m = mo->method(i);
        if (m.name() != name || m.parameterCount() != params.size()) continue;
        if (m.methodType() != QMetaMethod::Slot && m.methodType() != QMetaMethod::Method) continue;
        bool same = true;
        for (int a = 0; a < params.size() && same; ++a)
            same = m.parameterMetaType(a) == params[a];
        if (same) return i;
    }
    return -1;
}

void registerEventType(QMetaType type) {
    QMutexLocker lock(&eventTypesLock);
    eventTypes().insert(type.id());
}

bool isEventType(QMetaType type) {
    QMutexLocker lock(&eventTypesLock);
    return eventTypes().contains(type.id());
}

} // namespace tarnwick::detail

namespace ComponentModel {

namespace {
bool isPublishingClass(const QMetaObject* mo) {
    return mo->className()[0] == 'T';
}
} // namespace

QList<QMetaProperty> PublishedProperties(const QObject* obj) {
    QList<QMetaProperty> result;
    if (!obj) return result;
    for (const QMetaObject* mo = obj->metaObject(); mo; mo = mo->superClass()) {
        if (!isPublishingClass(mo)) continue;
        for (int i = mo->propertyOffset(); i < mo->propertyCount(); ++i)
            result.append(mo->property(i));
    }
    return result;
}

std::optional<QMetaProperty> FindProperty(const QObject* obj, QByteArrayView name) {
    for (const QMetaProperty& p : PublishedProperties(obj))
        if (QByteArrayView(p.name()).compare(name, Qt::CaseInsensitive) == 0) return p;
    return std::nullopt;
}

bool IsEvent(const QMetaProperty& p) {
    return tarnwick::detail::isEventType(p.metaType());
}

TMethod ReadEvent(const QObject* obj, const QMetaProperty& p) {
    if (!IsEvent(p)) return {};
    return p.read(obj).value<TMethod>();
}

bool WriteEvent(QObject* obj, const QMetaProperty& p, QObject* receiver, const QByteArray& name) {
    if (!IsEvent(p)) return false;
    QVariant v = QVariant::fromValue(TMethod(receiver, name));
    if (!v.convert(p.metaType())) return false;
    // Converting resolves the method; an unknown name comes back unassigned.
    if (v.value<TMethod>().Name().isEmpty() && !name.isEmpty()) return false;
    return p.write(obj, v);
}

} // namespace ComponentModel
