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

// --- names

namespace PickerNames {

QString FirstItem(const QString& text) {
    const qsizetype n = text.size();
    qsizetype i = 0;
    for (;;) {
        while (i < n && text[i] <= QChar(' '))
            ++i;
        if (i + 1 < n && text[i] == QChar('"') && text[i + 1] == QChar('"'))
            i += 2;
        else
            break;
    }
    QString item;
    while (i < n && text[i] > QChar(' ')) {
        if (text[i] == QChar('"')) {
            ++i;
            while (i < n && text[i] != QChar('"'))
                item += text[i++];
            if (i < n) ++i;
        } else {
            item += text[i++];
        }
    }
    return item;
}

QString FileNameOf(const QString& text) {
    if (!text.isEmpty() && QFileInfo(text).isFile()) return text;
    return FirstItem(text);
}

bool IsValidFileName(const QString& name) {
    static const QString invalid = QStringLiteral("<>\"[]|");
    if (name.isEmpty()) return false;
    for (QChar c : name)
        if (invalid.contains(c)) return false;
    return true;
}

QString Quoted(const QString& name) {
    if (name.contains(QChar(' ')) && !name.startsWith(QChar('"')))
        return QChar('"') + name + QChar('"');
    return name;
}

QString FolderOf(const QString& path) {
    const qsizetype i = path.lastIndexOf(QChar('/'));
    return i < 0 ? QString() : path.left(i + 1);
}

QString TrimmedDir(const QString& dir) {
    if (dir.size() < 2) return dir; // "" and a root "/" stay
    const QChar last = dir.back();
    if (last != QChar('/') && last != QChar('\\')) return dir;
    if (dir[dir.size() - 2] == QChar(':')) return dir; // a drive root such as C:\ keeps it
    return dir.chopped(1);
}

QString LocalDir(const QString& dir) {
    if (dir == QLatin1String("~")) return QDir::homePath();
    if (dir.startsWith(QLatin1String("~/"))) return QDir::homePath() + dir.mid(1);
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:[\\\\/]?(.*)$"));
    const QRegularExpressionMatch m = drive.match(dir);
    if (!m.hasMatch()) return dir;
    QString rest = m.captured(1);
    rest.replace(QChar('\\'), QChar('/'));
    while (rest.endsWith(QChar('/')))
        rest.chop(1);
    if (rest.isEmpty()) return QDir::homePath();
    static const QString myDocuments = QStringLiteral("My Documents");
    if (rest.startsWith(myDocuments, Qt::CaseInsensitive) &&
        (rest.size() == myDocuments.size() || rest[myDocuments.size()] == QChar('/')))
        return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) +
               rest.mid(myDocuments.size());
    return QDir::homePath() + QChar('/') + rest;
}

} // namespace PickerNames

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

void TFileDirEdit::dragEnterEvent(QDragEnterEvent* e) {
    if (e->mimeData()->hasUrls()) {
        // Files are taken only when the picker accepts them; never as text.
        if (m_acceptFiles && !droppedFiles(e->mimeData()).isEmpty())
            e->acceptProposedAction();
        else
            e->ignore();
        return;
    }
    TCustomComboEdit::dragEnterEvent(e);
}

void TFileDirEdit::dragMoveEvent(QDragMoveEvent* e) {
    if (e->mimeData()->hasUrls()) {
        if (m_acceptFiles && !droppedFiles(e->mimeData()).isEmpty())
            e->acceptProposedAction();
        else
            e->ignore();
        return;
    }
    TCustomComboEdit::dragMoveEvent(e);
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
