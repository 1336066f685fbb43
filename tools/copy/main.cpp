// tarnwick-copy: copies files into a folder the way a plain backup does, with the same
// progress window, collision renaming and error questions.

#include "archive/shellfileop.h"
#include "platform/linuxshellfileoperation.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

namespace {

// The progress window as usual, but errors answered from the command line and reported on
// stderr, for runs without anyone to answer.
class UnattendedErrors : public tarnwick::QtShellCopyUi {
public:
    explicit UnattendedErrors(Choice answer) : m_answer(answer) {}
    Choice askError(const QString& path, const QString& message) override {
        std::fprintf(stderr, "tarnwick-copy: %s: %s\n", qPrintable(path), qPrintable(message));
        return m_answer;
    }

private:
    Choice m_answer;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarnwick-copy"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Copies files into a folder as Tarnwick's plain backup does.\n"
                       "Exit status: 0 copied, 1 aborted by the user, 2 some files skipped "
                       "after errors, 64 wrong use."));
    parser.addHelpOption();
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
    parser.addOptions({title, silent, overwrite, confirm, makeDir, onError});
    parser.addPositionalArgument(QStringLiteral("folder"), QStringLiteral("Target folder."));
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Files to copy."),
                                 QStringLiteral("files..."));
    parser.process(app);
    QStringList args = parser.positionalArguments();
    if (args.size() < 2) {
        std::fputs(qPrintable(parser.helpText()), stderr);
        return 64;
    }

    const QString answer = parser.value(onError);
    if (answer != QLatin1String("ask") && answer != QLatin1String("skip") &&
        answer != QLatin1String("cancel")) {
        std::fputs("tarnwick-copy: --on-error takes ask, skip or cancel\n", stderr);
        return 64;
    }
    tarnwick::LinuxShellFileOperation unattended([&]() -> std::unique_ptr<tarnwick::ShellCopyUi> {
        return std::make_unique<UnattendedErrors>(answer == QLatin1String("skip")
                                                      ? tarnwick::ShellCopyUi::Skip
                                                      : tarnwick::ShellCopyUi::Cancel);
    });

    TShellFileOp op;
    if (answer != QLatin1String("ask")) op.SetOperation(&unattended);
    op.SetFilesOnly(true);
    op.SetNoConfirmation(!parser.isSet(confirm));
    op.SetAutoMakeDir(parser.isSet(makeDir));
    op.SetRenameOnCollision(!parser.isSet(overwrite));
    op.SetAnimate(!parser.isSet(silent));
    op.SetProgressTitle(parser.value(title));
    const QString folder = args.takeFirst();
    op.AddFiles(args);
    if (op.CopyTo(folder)) return 1;
    return op.LastFailures() > 0 ? 2 : 0;
}
