#pragma once

#include "automation/dispatch.h"

#include <QString>

#include <functional>

namespace tarnwick::automation {

// Classes by ProgID. Registering puts the ProgID's key into the classes root of the settings
// layer, where callers probe for it, and keeps the factory that creates its objects; an object
// can be created only while both exist.
using ClassFactory = std::function<Dispatch()>;
void RegisterClass(const QString& progId, ClassFactory factory);
void UnregisterClass(const QString& progId);

// Creates an object of a registered class. EAutomationError when the class is not registered,
// automation is not initialised on this thread, or the factory fails.
Dispatch CreateAutomationObject(const QString& progId);

} // namespace tarnwick::automation
