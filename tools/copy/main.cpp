// tarnwick-copy: copies files into a folder the way a plain backup does, with the same
// progress window, collision renaming and error questions.

#include "filecopy/shellfileop.h"
#include "platform/filename.h"
#include "platform/linuxshellfileoperation.h"
#include "platform/widgets/qtshellcopyui.h"
#include "tools/common/cli.h"
#include "tools/common/output.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <memory>

namespace {

void say(const QString& path, const QString& message) {
    // A message that names the path already is not prefixed with it again.
    if (message.contains(path))
        std::fprintf(stderr, "tarnwick-copy: %s\n", tarnwick::fileNameToBytes(message).constData());
    else
        std::fprintf(stderr, "tarnwick-copy: %s: %s\n", tarnwick::fileNameToBytes(path).constData(),
                     tarnwick::fileNameToBytes(message).constData());
}

// Errors answered from the command line and reported on stderr, for runs without anyone to
// answer; with or without the progress window.
template <typename Base> class Unattended : public Base {
public:
    explicit Unattended(tarnwick::ShellCopyUi::Choice answer) : m_answer(answer) {}
    tarnwick::ShellCopyUi::Choice askError(const QString& path, const QString& message) override {
        say(path, message);
        return m_answer;
    }
    void notice(const QString& path, const QString& message) override { say(path, message); }

private:
    tarnwick::ShellCopyUi::Choice m_answer;
};

// No window at all: nothing shown, nothing asked.
class Headless : public tarnwick::ShellCopyUi {
public:
    void begin(const QString&, bool, qint64, int) override {}
    void progress(const QString&, const QString&, qint64) override {}
    bool cancelRequested() override { return false; }
    void end() override {}
    Choice askError(const QString&, const QString&) override { return Skip; }
    ReplaceChoice askReplace(const QString&) override { return ReplaceNo; }
};

bool haveDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

int wrongUse(QString why) {
    if (why.endsWith(QLatin1Char('.'))) why.chop(1);
    return tarnwick::cli::badUse("tarnwick-copy", tarnwick::fileNameToBytes(why).toStdString());
}

} // namespace

int main(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Copies files into a folder as Tarnwick's plain backup does.\n"
                       "Without a display there is no progress window and errors are answered "
                       "as with --on-error skip.\n"
                       "Exit status: 0 copied, 1 aborted by the user, 2 some files skipped "
                       "after errors or wrong use."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this text."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the program's version."));
    const QCommandLineOption title(
        QStringLiteral("title"), QStringLiteral("Progress window title (empty: file names)."),
        QStringLiteral("text"), QStringLiteral("Backing up Access File.."));
    const QCommandLineOption silent(QStringLiteral("silent"),
                                    QStringLiteral("No progress window."));
    const QCommandLineOption overwrite(
        QStringLiteral("overwrite"),
        QStringLiteral("Replace files of the same name instead of renaming the copy."));
    const QCommandLineOption confirm(QStringLiteral("confirm"),
                                     QStringLiteral("Ask before replacing a file."));
    const QCommandLineOption makeDir(QStringLiteral("make-dir"),
                                     QStringLiteral("Create the target folder when missing."));
    const QCommandLineOption onError(
        QStringLiteral("on-error"),
        QStringLiteral("What to do when a file cannot be copied: ask (a dialog), skip or cancel."),
        QStringLiteral("answer"), QStringLiteral("ask"));
    parser.addOptions({help, version, title, silent, overwrite, confirm, makeDir, onError});
    parser.addPositionalArgument(QStringLiteral("folder"), QStringLiteral("Target folder."));
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Files to copy."),
                                 QStringLiteral("files..."));

    // Parsed before any application exists: --help and wrong use need no display.
    QStringList arguments = tarnwick::argumentsFromBytes(argc, argv);
    arguments.prepend(QStringLiteral("tarnwick-copy"));
    if (!parser.parse(arguments)) return wrongUse(parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(parser.helpText().toUtf8().constData(), stdout);
        return tarnwick::cli::finishOutput("tarnwick-copy", 0, tarnwick::cli::kBadUse);
    }
    if (parser.isSet(version)) {
        tarnwick::cli::printVersion("tarnwick-copy");
        return tarnwick::cli::finishOutput("tarnwick-copy", 0, tarnwick::cli::kBadUse);
    }
    QStringList args = parser.positionalArguments();
    if (args.size() < 2)
        return wrongUse(QStringLiteral("a folder and at least one file are needed"));
    QString answer = parser.value(onError);
    if (answer != QLatin1String("ask") && answer != QLatin1String("skip") &&
        answer != QLatin1String("cancel"))
        return wrongUse(QStringLiteral("--on-error takes ask, skip or cancel"));

    const bool windows = haveDisplay();
    std::unique_ptr<QCoreApplication> app;
    if (windows)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnwick-copy"));
    if (!windows && answer == QLatin1String("ask")) answer = QStringLiteral("skip");
    const auto choice = answer == QLatin1String("skip") ? tarnwick::ShellCopyUi::Skip
                                                        : tarnwick::ShellCopyUi::Cancel;
    tarnwick::LinuxShellFileOperation unattended([&]() -> std::unique_ptr<tarnwick::ShellCopyUi> {
        if (windows) return std::make_unique<Unattended<tarnwick::QtShellCopyUi>>(choice);
        return std::make_unique<Unattended<Headless>>(choice);
    });

    TShellFileOp op;
    if (answer != QLatin1String("ask")) op.SetOperation(&unattended);
    op.SetFilesOnly(true);
    op.SetNoConfirmation(!parser.isSet(confirm));
    op.SetAutoMakeDir(parser.isSet(makeDir));
    op.SetRenameOnCollision(!parser.isSet(overwrite));
    op.SetAnimate(windows && !parser.isSet(silent));
    op.SetProgressTitle(parser.value(title));
    const QString folder = args.takeFirst();
    op.AddFiles(args);
    int status = 0;
    if (op.CopyTo(folder))
        status = 1;
    else if (op.LastFailures() > 0)
        status = 2;
    return tarnwick::cli::finishOutput("tarnwick-copy", status, 2);
}
