#include "controls/pickers.h"

#include "controls/formreader.h"
#include "controls/pickerdialogs.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QImage>
#include <QMimeData>
#include <QPainter>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

using tarnwick::PickerDialogs;

using namespace PickerNames;

// --- TFileDirEdit

TFileDirEdit::TFileDirEdit(QWidget* parent) : TCustomComboEdit(parent) {
    UpdateButton();
}

QPixmap TFileDirEdit::DefaultGlyph() const {
    // A small open folder, drawn once and shared by every picker.
    static const QImage picture = [] {
        QImage img(14, 12, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        QPainter p(&img);
        const QColor dark(0x80, 0x80, 0x00), light(0xff, 0xff, 0x80);
        p.setPen(Qt::black);
        p.setBrush(dark);
        p.drawPolygon(QPolygon({{0, 2}, {4, 2}, {5, 3}, {11, 3}, {11, 11}, {0, 11}}));
        p.setBrush(light);
        p.drawPolygon(QPolygon({{2, 6}, {13, 6}, {11, 11}, {0, 11}}));
        return img;
    }();
    return QPixmap::fromImage(picture);
}

void TFileDirEdit::GiveFocus() {
    if (isVisible() && isEnabled() && focusPolicy() != Qt::NoFocus) setFocus();
}

void TFileDirEdit::DropFiles(const QStringList& paths) {
    for (const QString& path : paths) {
        TakeDropped(path);
        if (!TakesSeveralDrops()) break;
    }
    m_onDropFiles(this);
}

namespace {

QStringList droppedFiles(const QMimeData* data) {
    QStringList files;
    if (!data || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) files << url.toLocalFile();
    return files;
}

} // namespace

bool TFileDirEdit::judgeFileDrag(QDragMoveEvent* e) const {
    if (!e->mimeData()->hasUrls()) return false;
    // Files are taken only when the picker accepts them; never as text.
    if (m_acceptFiles && !droppedFiles(e->mimeData()).isEmpty())
        e->acceptProposedAction();
    else
        e->ignore();
    return true;
}

void TFileDirEdit::dragEnterEvent(QDragEnterEvent* e) {
    if (!judgeFileDrag(e)) TCustomComboEdit::dragEnterEvent(e);
}

void TFileDirEdit::dragMoveEvent(QDragMoveEvent* e) {
    if (!judgeFileDrag(e)) TCustomComboEdit::dragMoveEvent(e);
}

void TFileDirEdit::dropEvent(QDropEvent* e) {
    if (!e->mimeData()->hasUrls()) {
        TCustomComboEdit::dropEvent(e);
        return;
    }
    const QStringList files = droppedFiles(e->mimeData());
    if (!m_acceptFiles || files.isEmpty()) {
        e->ignore();
        return;
    }
    e->acceptProposedAction();
    try {
        DropFiles(files);
    } catch (const std::exception& x) {
        ReportError(QString::fromUtf8(x.what()));
    }
}

// --- TFilenameEdit

TFilenameEdit::TFilenameEdit(QWidget* parent) : TFileDirEdit(parent) {}

void TFilenameEdit::SetDialogKind(TFileDialogKind k) {
    // The list belongs to the dialog of the old kind; a new dialog starts with none.
    if (k != m_dialogKind) m_dialogFiles.clear();
    m_dialogKind = k;
}

QString TFilenameEdit::FileName() const {
    return FileNameOf(text());
}

void TFilenameEdit::SetFileName(const QString& name) {
    if (name.isEmpty()) {
        setText(QString());
        return;
    }
    if (!IsValidFileName(FileNameOf(name)))
        throw EComboEditError(QStringLiteral("Invalid file name - %1").arg(name).toStdString());
    setText(Quoted(name));
}

void TFilenameEdit::TakeDropped(const QString& path) {
    SetFileName(path);
}

QStringList TFilenameEdit::NameFilters(const QString& filter) {
    static const QRegularExpression trailingPatterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    const QStringList parts = filter.split(QChar('|'));
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        description.remove(trailingPatterns);
        QStringList patterns;
        for (QString p : parts[i + 1].split(QChar(';'), Qt::SkipEmptyParts)) {
            p = p.trimmed();
            if (p == QLatin1String("*.*")) p = QStringLiteral("*");
            if (p.isEmpty() || patterns.contains(p)) continue;
            patterns << p;
            // Files copied from Windows often have upper-case extensions.
            if (p.toUpper() != p) patterns << p.toUpper();
        }
        if (patterns.isEmpty()) continue;
        result << QStringLiteral("%1 (%2)").arg(description.trimmed(), patterns.join(QChar(' ')));
    }
    return result;
}

void TFilenameEdit::DoClick() {
    QString name = FileName();
    bool action = true;
    m_onBeforeDialog(this, &name, &action);
    if (!action) return;

    if (IsValidFileName(name)) {
        const QString folder = FolderOf(name);
        if (!folder.isEmpty() && QFileInfo(LocalDir(folder)).isDir()) SetInitialDir(folder);
        m_dialogFileName = name;
    }

    // Every run starts with an empty list, so a cancel leaves none.
    m_dialogFiles.clear();
    tarnwick::FileDialogRequest r;
    r.parent = this;
    r.save = m_dialogKind == dkSave || m_dialogKind == dkSavePicture;
    r.multiSelect = m_options.testFlag(ofAllowMultiSelect);
    r.fileMustExist = m_options.testFlag(ofFileMustExist);
    r.overwritePrompt = m_options.testFlag(ofOverwritePrompt);
    r.resolveLinks = !m_options.testFlag(ofNoDereferenceLinks);
    r.title = m_dialogTitle;
    r.directory = LocalDir(m_initialDir);
    r.fileName = m_dialogFileName;
    r.nameFilters = NameFilters(m_filter);
    r.filterIndex = m_filterIndex - 1;
    r.defaultSuffix = m_defaultExt;
    r.defaultSuffix.remove(QRegularExpression(QStringLiteral("^\\*?\\.")));
    const tarnwick::FileDialogAnswer answer = PickerDialogs::Current().RunFileDialog(r);

    bool accepted = answer.accepted;
    if (accepted) {
        for (const QString& f : answer.files) {
            if (f.isEmpty()) continue;
            if (QDir::isAbsolutePath(f))
                m_dialogFiles << f;
            else if (answer.folder.endsWith(QChar('/')))
                m_dialogFiles << answer.folder + f;
            else
                m_dialogFiles << answer.folder + QChar('/') + f;
            if (!r.multiSelect) break;
        }
        // An answer without a file is no choice.
        accepted = !m_dialogFiles.isEmpty();
    }
    if (accepted) {
        m_dialogFileName = m_dialogFiles.first();
        if (answer.filterIndex >= 0) m_filterIndex = answer.filterIndex + 1;
        name = m_dialogFileName;
    }
    GiveFocus();

    action = accepted;
    m_onAfterDialog(this, &name, &action);
    if (action) {
        setText(Quoted(name));
        SetInitialDir(FolderOf(m_dialogFileName));
    }
}

// --- TDirectoryEdit

TDirectoryEdit::TDirectoryEdit(QWidget* parent) : TFileDirEdit(parent) {}

void TDirectoryEdit::appendDir(const QString& dir) {
    if (m_multipleDirs && !text().isEmpty())
        setText(text() + QChar(';') + dir);
    else
        setText(dir);
}

void TDirectoryEdit::TakeDropped(const QString& path) {
    appendDir(QFileInfo(path).isFile() ? FolderOf(path) : path);
}

void TDirectoryEdit::DoClick() {
    QString name = text();
    bool action = true;
    m_onBeforeDialog(this, &name, &action);
    if (!action) return;

    // The root stands in for the current drive's root of the original.
    const QString root = QStringLiteral("/");
    if (name.isEmpty()) name = m_initialDir.isEmpty() ? root : m_initialDir;
    name = LocalDir(name);
    if (!QFileInfo(name).isDir()) name = root;

    const bool browser = m_dialogKind == dkWin32;
    tarnwick::DirectoryDialogRequest r;
    r.parent = this;
    r.folderBrowser = browser;
    r.title = QStringLiteral("Select Directory");
    r.prompt = m_dialogText;
    r.start = name;
    r.allowCreate = !browser && m_options.testFlag(sdAllowCreate);
    const bool prompt = m_options.testFlag(sdPrompt);
    r.acceptMissing = [this, prompt](const QString&) {
        return !prompt ||
               PickerDialogs::Current().AskYesNo(
                   this, QStringLiteral("The specified directory does not exist. Create it?"));
    };
    const std::optional<QString> chosen = PickerDialogs::Current().RunDirectoryDialog(r);
    if (chosen) {
        name = *chosen;
        if (!browser && m_options.testFlag(sdPerformCreate) && !QFileInfo(name).isDir())
            if (name.isEmpty() || !QDir().mkpath(name))
                throw EInOutError("Unable to create directory");
    }
    GiveFocus();

    action = chosen.has_value();
    m_onAfterDialog(this, &name, &action);
    if (action) {
        if (hasSelectedText()) {
            QString t = text();
            t.remove(selectionStart(), selectedText().size());
            setText(t);
        }
        appendDir(name);
        if (QFileInfo(name).isDir()) m_initialDir = name;
    }
}

void RegisterPickerControls() {
    TClassRegistry::Register<TFilenameEdit>();
    TClassRegistry::Register<TDirectoryEdit>();
}
