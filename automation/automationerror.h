#pragma once

#include <QString>

#include <stdexcept>

namespace tarnwick::automation {

// The one error a failing automation call raises; its message is the called object's own text.
class EAutomationError : public std::runtime_error {
public:
    explicit EAutomationError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString Message() const { return QString::fromUtf8(what()); }
};

} // namespace tarnwick::automation
