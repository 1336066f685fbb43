#include "automation/dispatch.h"

#include <QMetaMethod>
#include <QMetaProperty>

#include <exception>
#include <vector>

namespace tarnwick::automation {

QVariant Missing() {
    return QVariant::fromValue(MissingArgument{});
}

bool IsMissing(const QVariant& v) {
    return v.metaType() == QMetaType::fromType<MissingArgument>();
}

QVariant AutomationBool(bool value) {
    return QVariant::fromValue<qint16>(value ? -1 : 0);
}

bool ToBool(const QVariant& v) {
    if (!v.isValid() || IsMissing(v)) return false;
    if (v.metaType() == QMetaType::fromType<bool>()) return v.toBool();
    bool ok = false;
    const qlonglong n = v.toLongLong(&ok);
    return ok ? n != 0 : v.toBool();
}

QString ArgText(const QVariant& v) {
    return IsMissing(v) ? QString() : v.toString();
}

QVariant ToVariant(const Dispatch& object) {
    return QVariant::fromValue(object);
}

Dispatch ToDispatch(const QVariant& v) {
    if (v.metaType() == QMetaType::fromType<Dispatch>()) {
        Dispatch d = v.value<Dispatch>();
        if (d) return d;
    }
    throw EAutomationError(QStringLiteral("Object required"));
}

namespace {

AutomationObject* require(const Dispatch& object, const QString& name) {
    if (!object)
        throw EAutomationError(QStringLiteral("Object required for the call of %1").arg(name));
    return object.get();
}

[[noreturn]] void unknownName(const AutomationObject* obj, const QString& name) {
    throw EAutomationError(QStringLiteral("Unknown name: %1 has no member %2")
                               .arg(QString::fromLatin1(obj->metaObject()->className()), name));
}

// Runs a meta call, turning whatever the object throws into the one automation error.
template <typename F> void guarded(F&& f) {
    try {
        f();
    } catch (const EAutomationError&) {
        throw;
    } catch (const std::exception& e) {
        throw EAutomationError(QString::fromUtf8(e.what()));
    }
}

int findMethod(const QMetaObject* mo, const QString& name, qsizetype argc) {
    for (int i = mo->methodCount() - 1; i >= QObject::staticMetaObject.methodCount(); --i) {
        const QMetaMethod m = mo->method(i);
        if (m.methodType() != QMetaMethod::Method && m.methodType() != QMetaMethod::Slot) continue;
        if (QString::fromLatin1(m.name()).compare(name, Qt::CaseInsensitive) != 0) continue;
        if (m.parameterCount() >= argc) return i;
    }
    return -1;
}

int findProperty(const QMetaObject* mo, const QString& name) {
    for (int i = mo->propertyCount() - 1; i >= QObject::staticMetaObject.propertyCount(); --i)
        if (QString::fromLatin1(mo->property(i).name()).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QVariant invokeMethod(AutomationObject* obj, int index, const QString& name,
                      const QVariantList& args) {
    const QMetaMethod m = obj->metaObject()->method(index);
    std::vector<QVariant> values(static_cast<size_t>(m.parameterCount()), Missing());
    for (qsizetype i = 0; i < args.size(); ++i)
        values[static_cast<size_t>(i)] = args[i];
    for (int i = 0; i < m.parameterCount(); ++i)
        if (m.parameterMetaType(i) != QMetaType::fromType<QVariant>())
            throw EAutomationError(QStringLiteral("%1 cannot be called by name").arg(name));
    QVariant result;
    const bool returnsVariant = m.returnMetaType() == QMetaType::fromType<QVariant>();
    std::vector<void*> argv(values.size() + 1);
    argv[0] = returnsVariant ? &result : nullptr;
    for (size_t i = 0; i < values.size(); ++i)
        argv[i + 1] = &values[i];
    // Straight into the object's own generated dispatcher, so its exceptions reach us.
    guarded([&] { obj->qt_metacall(QMetaObject::InvokeMetaMethod, index, argv.data()); });
    return result;
}

} // namespace

QVariant Call(const Dispatch& object, const QString& name, const QVariantList& args) {
    AutomationObject* obj = require(object, name);
    const int index = findMethod(obj->metaObject(), name, args.size());
    if (index < 0) unknownName(obj, name);
    return invokeMethod(obj, index, name, args);
}

QVariant Get(const Dispatch& object, const QString& name, const QVariantList& args) {
    AutomationObject* obj = require(object, name);
    const int p = args.isEmpty() ? findProperty(obj->metaObject(), name) : -1;
    if (p < 0) return Call(object, name, args);
    const QMetaProperty prop = obj->metaObject()->property(p);
    QVariant value;
    if (prop.metaType() != QMetaType::fromType<QVariant>()) value = QVariant(prop.metaType());
    void* target = prop.metaType() == QMetaType::fromType<QVariant>() ? static_cast<void*>(&value)
                                                                      : value.data();
    int status = -1;
    void* argv[] = {target, &value, &status};
    guarded([&] { obj->qt_metacall(QMetaObject::ReadProperty, p, argv); });
    return value;
}

void Put(const Dispatch& object, const QString& name, const QVariant& value) {
    AutomationObject* obj = require(object, name);
    const int p = findProperty(obj->metaObject(), name);
    if (p < 0) unknownName(obj, name);
    const QMetaProperty prop = obj->metaObject()->property(p);
    if (!prop.isWritable())
        throw EAutomationError(QStringLiteral("The property %1 cannot be assigned").arg(name));
    QVariant v = value;
    if (prop.metaType() != QMetaType::fromType<QVariant>() && v.metaType() != prop.metaType() &&
        (IsMissing(v) || !v.convert(prop.metaType())))
        throw EAutomationError(QStringLiteral("Type mismatch in the assignment of %1").arg(name));
    void* source =
        prop.metaType() == QMetaType::fromType<QVariant>() ? static_cast<void*>(&v) : v.data();
    int status = -1;
    int flags = 0;
    void* argv[] = {source, &v, &status, &flags};
    guarded([&] { obj->qt_metacall(QMetaObject::WriteProperty, p, argv); });
}

} // namespace tarnwick::automation
