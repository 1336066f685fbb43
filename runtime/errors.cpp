#include "runtime/errors.h"

#include <QtGlobal>

namespace tarnwick {

namespace {
ExceptionHandler& handler() {
    static ExceptionHandler h;
    return h;
}
} // namespace

QString ExceptionMessage(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unknown exception");
    }
}

void HandleException(std::exception_ptr error) {
    if (!error) return;
    if (handler()) {
        handler()(error);
        return;
    }
    qWarning("%s", qUtf8Printable(ExceptionMessage(error)));
}

void SetExceptionHandler(ExceptionHandler h) {
    handler() = std::move(h);
}

} // namespace tarnwick
