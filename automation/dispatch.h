#pragma once

// Objects called late-bound by name. An automation object is a QObject whose callable methods
// are Q_INVOKABLE with QVariant parameters (returning QVariant or nothing) and whose properties
// are Q_PROPERTYs; names are matched without regard to case. Arguments left out at the end of a
// call, or passed as Missing(), reach the method as a missing optional argument.

#include "automation/automationerror.h"

#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <memory>

namespace tarnwick::automation {

class AutomationObject;
// A counted reference to an object, as a dispatch interface is.
using Dispatch = std::shared_ptr<AutomationObject>;

class AutomationObject : public QObject, public std::enable_shared_from_this<AutomationObject> {
    Q_OBJECT
public:
    using QObject::QObject;
};

// The marker of an optional argument left out.
struct MissingArgument {
    friend bool operator==(MissingArgument, MissingArgument) { return true; }
};

QVariant Missing();
bool IsMissing(const QVariant& v);
// Automation Booleans: true is -1, false 0; any non-zero number reads as true.
QVariant AutomationBool(bool value);
bool ToBool(const QVariant& v);
// An argument's text, "" when it is missing.
QString ArgText(const QVariant& v);

// An object reference carried in a variant (what methods that return objects return).
QVariant ToVariant(const Dispatch& object);
// The object in a variant; EAutomationError when it holds none.
Dispatch ToDispatch(const QVariant& v);

// Calls a method. EAutomationError when the object has no such member or the call fails.
QVariant Call(const Dispatch& object, const QString& name, const QVariantList& args = {});
// Reads a property; a method of that name is called instead when there is no property (as the
// collections' members and Item(i) are reached).
QVariant Get(const Dispatch& object, const QString& name, const QVariantList& args = {});
// Assigns a property.
void Put(const Dispatch& object, const QString& name, const QVariant& value);

} // namespace tarnwick::automation

Q_DECLARE_METATYPE(tarnwick::automation::MissingArgument)
Q_DECLARE_METATYPE(tarnwick::automation::Dispatch)
