#include "app/mainwindow.h"
#include "controls/graphics.h"
#include "platform/termination.h"
#include "sysutil/widgets/singleinstance.h"

#include "tools/common/cli.h"
#include "tools/common/output.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kProgram = "tarnwick";

// Answered before any display is needed; every other argument is Qt's.
bool answeredAlone(int argc, char** argv, int* status) {
    if (argc != 2) return false;
    if (std::strcmp(argv[1], "--version") == 0) {
        tarnwick::cli::printVersion(kProgram);
    } else if (std::strcmp(argv[1], "--help") == 0) {
        std::printf("Usage: %s [Qt options]\n"
                    "The Tarnwick window: timed backups, repair and compaction of Access "
                    "databases, and a timed end of the session.\n\n"
                    "      --help     show this help and end\n"
                    "      --version  show the version and end\n",
                    kProgram);
    } else {
        return false;
    }
    *status = tarnwick::cli::finishOutput(kProgram, 0, tarnwick::cli::kBadUse);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (int status = 0; answeredAlone(argc, argv, &status)) return status;
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

    MainWindow form;
    // A running file job stops at its next file; the window then closes and saves.
    QObject::connect(&termination, &tarnwick::Termination::requested, &form,
                     &MainWindow::EndAtSafePoint);
    if (!previous.Exists()) form.show();
    return app.exec();
}
