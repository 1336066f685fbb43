#pragma once

// The component model: objects with published properties that a window description and the
// property store set and read by name, a loading phase with a step after it, and single-handler
// events that name a method of the window. Built on Qt's meta-object system:
//
// - a published property is a Q_PROPERTY declared by a class whose name starts with 'T';
// - enumerations and sets are Q_ENUM / Q_FLAG, so their values read and write by name;
// - an event is a property of an event type (TNotifyEvent, ...): a receiver and the name of one
//   of its invokable methods, which is what the window description and the store deal in.

#include <optional>

#include <QByteArray>
#include <QList>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QMetaType>
#include <QObject>
#include <QPointer>

// Loading state shared by every component, visual or not. While a window description is read
// in, each component is "loading"; once every component of the window has its design values,
// each gets Loaded() in declaration order.
class TComponentState {
public:
    virtual ~TComponentState() = default;

    bool IsLoading() const { return m_loading; }
    void BeginLoading() { m_loading = true; }
    void EndLoading() {
        m_loading = false;
        Loaded();
    }

protected:
    // The step after loading: runs with every design value (events included) in place.
    virtual void Loaded() {}

private:
    bool m_loading = false;
};

// A non-visual component.
class TComponent : public QObject, public TComponentState {
    Q_OBJECT
public:
    explicit TComponent(QObject* owner = nullptr) : QObject(owner) {}
};

// A handler: the object that receives the event and the name of its method. An empty or
// unknown name leaves the handler unassigned.
class TMethod {
public:
    TMethod() = default;
    TMethod(QObject* receiver, QByteArray name) : m_receiver(receiver), m_name(std::move(name)) {}

    QObject* Receiver() const { return m_receiver.data(); }
    const QByteArray& Name() const { return m_name; }

    friend bool operator==(const TMethod& a, const TMethod& b) {
        return a.m_receiver == b.m_receiver && a.m_name == b.m_name;
    }

protected:
    QPointer<QObject> m_receiver;
    QByteArray m_name;
};

namespace tarnwick::detail {
int findHandler(const QMetaObject* mo, const QByteArray& name, const QList<QMetaType>& params);
void registerEventType(QMetaType type);
bool isEventType(QMetaType type);
} // namespace tarnwick::detail

// An event whose handler takes Args. Handlers are invokable methods (slots) of the receiver
// with exactly these parameter types; a var parameter is a pointer.
template <typename... Args> class TEvent : public TMethod {
public:
    TEvent() = default;
    TEvent(QObject* receiver, QByteArray name) : TMethod(receiver, std::move(name)) {
        m_index = receiver ? tarnwick::detail::findHandler(receiver->metaObject(), m_name,
                                                           {QMetaType::fromType<Args>()...})
                           : -1;
        if (m_index < 0) {
            m_receiver = nullptr;
            m_name.clear();
        }
    }
    explicit TEvent(const TMethod& m) : TEvent(m.Receiver(), m.Name()) {}

    // "If assigned": a receiver that still exists and a method of the right signature.
    bool Assigned() const { return m_index >= 0 && m_receiver; }
    explicit operator bool() const { return Assigned(); }

    // Calls the handler if one is assigned; returns whether it was called.
    bool operator()(Args... args) const {
        if (!Assigned()) return false;
        QMetaMethod m = m_receiver->metaObject()->method(m_index);
        m.invoke(m_receiver.data(), Qt::DirectConnection,
                 QArgument<Args>(QMetaType::fromType<Args>().name(), args)...);
        return true;
    }

private:
    int m_index = -1;
};

// Makes an event type known to the model, so that a handler name can be written into a
// property of that type and read back from it.
template <typename E> bool RegisterEventType() {
    QMetaType::registerConverter<TMethod, E>([](const TMethod& m) { return E(m); });
    QMetaType::registerConverter<E, TMethod>([](const E& e) { return TMethod(e); });
    tarnwick::detail::registerEventType(QMetaType::fromType<E>());
    return true;
}

#define T_DECLARE_EVENT(Name, ...)                                                                 \
    class Name : public TEvent<__VA_ARGS__> {                                                      \
    public:                                                                                        \
        using TEvent::TEvent;                                                                      \
    };                                                                                             \
    inline const bool Name##Registered = RegisterEventType<Name>();

// procedure(Sender: TObject)
T_DECLARE_EVENT(TNotifyEvent, QObject*)

// Access to published properties by name.
namespace ComponentModel {

// Published properties of obj: those declared by classes whose name starts with 'T'.
QList<QMetaProperty> PublishedProperties(const QObject* obj);
// The published property of that name, matched without regard to case.
std::optional<QMetaProperty> FindProperty(const QObject* obj, QByteArrayView name);

bool IsEvent(const QMetaProperty& p);
// The handler in an event property, or an empty method.
TMethod ReadEvent(const QObject* obj, const QMetaProperty& p);
// Assigns receiver.name as the handler of an event property; an unknown name changes nothing
// and returns false.
bool WriteEvent(QObject* obj, const QMetaProperty& p, QObject* receiver, const QByteArray& name);

} // namespace ComponentModel
