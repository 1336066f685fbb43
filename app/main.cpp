#include "app/form1.h"
#include "controls/graphics.h"
#include "platform/termination.h"
#include "sysutil/singleinstance.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // One copy per executable name: a later start brings the first forward and ends.
    TPreviousInstance previous(
        TPreviousInstance::DefaultTitle(QCoreApplication::applicationFilePath()));
    QApplication::setApplicationName(QStringLiteral("Tarnwick"));
    // A desktop logout or a service stop ends programs this way. Caught before the window is
    // built, so that a signal during start-up waits for the event loop and then closes the
    // window as the user would, saving everything it keeps.
    tarnwick::Termination termination;
    Graphics::InstallFontSubstitutions();

    TForm1 form;
    // A running file job stops at its next file; the window then closes and saves.
    QObject::connect(&termination, &tarnwick::Termination::requested, &form,
                     &TForm1::EndAtSafePoint);
    if (!previous.Exists()) form.show();
    return app.exec();
}
