#pragma once

// Exception and the errors derived from it: a value that cannot be converted, a resource that
// ran out. Not every error derives from it: EReadError, EComboEditError and EInOutError derive
// from std::runtime_error, EZipArchiver from std::exception. All carry the message the user
// sees in what(); catch std::exception to catch them all.

#include <QString>

#include <exception>
#include <functional>
#include <stdexcept>

class Exception : public std::runtime_error {
public:
    explicit Exception(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString Message() const { return QString::fromUtf8(what()); }
};

// A value that cannot be converted (a time, a date, a number).
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A system resource ran out (timers, handles).
class EOutOfResources : public Exception {
public:
    using Exception::Exception;
};

namespace tarnwick {

// The application's standard exception handler: an exception that escapes an event handler run
// from the event loop (a timer tick, a handed-over tick) is given to it, and the loop goes on.
// The default writes the message as a warning; the main window installs one that shows it.
void HandleException(std::exception_ptr error);
using ExceptionHandler = std::function<void(std::exception_ptr)>;
// Installs a handler; an empty one restores the default. Main thread only.
void SetExceptionHandler(ExceptionHandler handler);
// The message of an exception: Message() of ours, what() of others.
QString ExceptionMessage(std::exception_ptr error);

} // namespace tarnwick
