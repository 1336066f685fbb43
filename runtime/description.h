#pragma once

// Parses a window description: a text that names each component of a window, its class and its
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
// [a, b] and string lists ('a' 'b').

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <stdexcept>
#include <vector>

// Error in a window description: names the line, the component and the property.
class EReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
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

// Throws EReadError naming the line of the description.
[[noreturn]] void Fail(int line, const QString& what);

} // namespace FormDescription
