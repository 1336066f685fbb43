#pragma once

// Reads a window description: a text that names each component of a window, its class and its
// design-time property values, nested the way the controls are nested:
//
//   object Form1: TForm1
//     Caption = 'Tarnwick'
//     object Label4: TLabel
//       Left = 8
//       Caption = 'Data Backup Controls'#13#10'second line'
//       Font.Style = [fsBold]
//       OnClick = Label4Click
//     end
//   end
//
// Values are integers, floating-point numbers, quoted strings (with #nn character codes and '+'
// joins), identifiers (True/False, enumeration names, colour names, handler names), sets
// [a, b] and string lists ('a' 'b'). Components are created through the class registry, their
// properties are set by name in declaration order while they are loading, and once the whole
// window is read each component gets its step after loading, in declaration order.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

class QObject;
class QWidget;
class TForm;

// Error in a window description: names the line, the component and the property.
class EReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Classes that a window description can name, by class name.
class TClassRegistry {
public:
    // Creates a component: visual ones get the enclosing control as parent widget.
    using Factory = std::function<QObject*(QWidget* parent)>;

    static void Register(const QByteArray& className, Factory factory);
    template <typename T> static void Register() {
        Register(T::staticMetaObject.className(), [](QWidget* parent) -> QObject* {
            if constexpr (std::is_base_of_v<QWidget, T>)
                return new T(parent);
            else
                return new T(static_cast<QObject*>(parent));
        });
    }
    static QObject* Create(const QByteArray& className, QWidget* parent);
    static bool Has(const QByteArray& className);
};

namespace FormDescription {

struct Value {
    enum Kind { Integer, Float, String, Identifier, Set, List };
    Kind kind = Integer;
    QVariant value; // qlonglong, double, QString, QString, QStringList, QStringList
};

struct Property {
    QByteArray name; // may be dotted, as Font.Style
    Value value;
    int line = 0;
};

struct Object {
    QByteArray name;
    QByteArray className;
    QList<Property> properties;
    std::vector<std::unique_ptr<Object>> children;
    int line = 0;
};

// Parses a description; throws EReadError with the line number on malformed text.
std::unique_ptr<Object> Parse(const QString& text);

// Builds the form from a parsed description: sets the form's own properties, creates every
// component as its child (in declaration order), then runs each one's step after loading.
// Handler names resolve to the form's methods. Throws EReadError on an unknown class or
// property or a value the property cannot take.
void Apply(const Object& root, TForm* form);

// Sets one property from a description value (also used for single values in tests).
void SetProperty(QObject* obj, const QByteArray& name, const Value& value, QObject* handlerOwner);

} // namespace FormDescription
