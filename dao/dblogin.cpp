#include "dao/dblogin.h"

#include <QtGlobal>

namespace tarnwick::dao {

namespace {

class NoWindowLogin : public LoginDialog {
public:
    bool Execute(const QString&, LoginValues&) override { return false; }
    void ShowMessage(const QString& text) override { qWarning("%s", qPrintable(text)); }
};

LoginDialogFactory& factory() {
    static LoginDialogFactory f;
    return f;
}

} // namespace

void SetLoginDialogFactory(LoginDialogFactory f) {
    factory() = std::move(f);
}

std::unique_ptr<LoginDialog> CreateLoginDialog() {
    if (factory()) return factory()();
    return std::make_unique<NoWindowLogin>();
}

} // namespace tarnwick::dao
