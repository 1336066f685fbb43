#pragma once

// The database component's login dialog and message box, seen from the component. The window
// installs the real dialog (TDbLogin); without one, a login is cancelled and messages go to the
// log, so the component never needs the window system.

#include <QString>

#include <functional>
#include <memory>

namespace tarnwick::dao {

struct LoginValues {
    QString userName, password, databasePassword;
};

class LoginDialog {
public:
    virtual ~LoginDialog() = default;
    // Shows the dialog modally with `values` preset; true (OK) fills `values` from its edits.
    virtual bool Execute(const QString& databaseName, LoginValues& values) = 0;
    // A modal message box with one OK button.
    virtual void ShowMessage(const QString& text) = 0;
};

using LoginDialogFactory = std::function<std::unique_ptr<LoginDialog>()>;
// Installs the factory used by components created afterwards; an empty one restores the default.
void SetLoginDialogFactory(LoginDialogFactory factory);
std::unique_ptr<LoginDialog> CreateLoginDialog();

} // namespace tarnwick::dao
