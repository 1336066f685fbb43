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
    Graphics::InstallFontSubstitutions();

    TForm1 form;
    // A desktop logout or a service stop ends programs this way; close as the user would, so
    // that everything the window keeps is saved.
    tarnwick::Termination termination;
    QObject::connect(&termination, &tarnwick::Termination::requested, &form, &QWidget::close);
    if (!previous.Exists()) form.show();
    return app.exec();
}
