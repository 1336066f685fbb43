#pragma once

// Builds a window from its parsed description (runtime/description.h): components are created
// through the class registry, their properties are set by name in declaration order while they
// are loading, and once the whole window is read each component gets its step after loading,
// in declaration order.

#include "runtime/classregistry.h"
#include "runtime/description.h"

#include <QByteArray>

class QObject;
class TForm;

namespace FormDescription {

// Builds the form from a parsed description: sets the form's own properties, creates every
// component as its child (in declaration order), then runs each one's step after loading.
// Handler names resolve to the form's methods. Throws EReadError on an unknown class or
// property or a value the property cannot take.
void Apply(const Object& root, TForm* form);

// Sets one property from a description value (also used for single values in tests).
void SetProperty(QObject* obj, const QByteArray& name, const Value& value, QObject* handlerOwner);

} // namespace FormDescription
