#pragma once

// Classes that a window description can name, by class name.

#include <QByteArray>
#include <QObject>

#include <functional>
#include <type_traits>

class QWidget;

namespace tarnwick::detail {
// A control's parent is the enclosing control. Only instantiated for classes derived from W,
// where W is complete.
template <typename T, typename W> QObject* newControl(QObject* parent) {
    return new T(parent && parent->isWidgetType() ? static_cast<W*>(parent) : nullptr);
}
} // namespace tarnwick::detail

class TClassRegistry {
public:
    // Creates a component: visual ones get the enclosing control as parent widget.
    using Factory = std::function<QObject*(QObject* parent)>;

    static void Register(const QByteArray& className, Factory factory);
    template <typename T> static void Register() {
        Register(T::staticMetaObject.className(), [](QObject* parent) -> QObject* {
            if constexpr (std::is_base_of_v<QWidget, T>)
                return tarnwick::detail::newControl<T, QWidget>(parent);
            else
                return new T(parent);
        });
    }
    static QObject* Create(const QByteArray& className, QObject* parent);
    static bool Has(const QByteArray& className);
};
