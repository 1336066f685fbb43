#include "controls/form.h"

#include "controls/formreader.h"

#include <QFile>
#include <QTimer>
#include <QWindow>

TForm::TForm(QWidget* parent) : QWidget(parent, Qt::Window) {}

TForm::~TForm() {
    DoDestroy();
    // Children outlive this part of the window; they must not report back into it.
    for (QObject* c : std::as_const(m_components))
        disconnect(c, nullptr, this, nullptr);
}

void TForm::CreateFromDescription(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        throw EReadError(
            QStringLiteral("Cannot read the window description %1").arg(path).toStdString());
    const auto root = FormDescription::Parse(QString::fromUtf8(f.readAll()));
    FormDescription::Apply(*root, this);
    m_onCreate(this);
}

void TForm::DoDestroy() {
    if (m_destroyed) return;
    m_destroyed = true;
    m_onDestroy(this);
}

// Before the window is shown its frame is unknown: the outer size is kept and the client area
// fitted to it once the frame is there, so that a saved outer size does not grow the window by
// the frame's width at every start.
void TForm::SetWidth(int w) {
    if (!isVisible()) m_pendingWidth = w;
    resize(w - (frameGeometry().width() - width()), height());
}

void TForm::SetHeight(int h) {
    if (!isVisible()) m_pendingHeight = h;
    resize(width(), h - (frameGeometry().height() - height()));
}

void TForm::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (m_pendingWidth < 0 && m_pendingHeight < 0) return;
    // The window manager reports the frame a little after mapping.
    applyPendingOuterSize();
    QTimer::singleShot(250, this, [this] { applyPendingOuterSize(); });
}

void TForm::applyPendingOuterSize() {
    const QMargins m = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    if (m.isNull()) return;
    const int w = m_pendingWidth >= 0 ? m_pendingWidth - m.left() - m.right() : width();
    const int h = m_pendingHeight >= 0 ? m_pendingHeight - m.top() - m.bottom() : height();
    m_pendingWidth = m_pendingHeight = -1;
    resize(w, h);
}

void TForm::SetBorderIcons(TBorderIcons icons) {
    m_borderIcons = icons;
    Qt::WindowFlags f = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (icons & biSystemMenu) f |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (icons & biMinimize) f |= Qt::WindowMinimizeButtonHint;
    if (icons & biMaximize) f |= Qt::WindowMaximizeButtonHint;
    if (icons & biHelp) f |= Qt::WindowContextHelpButtonHint;
    const bool shown = isVisible();
    setWindowFlags(f);
    if (shown) show();
}

QObject* TForm::FindComponent(const QString& name) const {
    for (QObject* c : m_components)
        if (c->objectName().compare(name, Qt::CaseInsensitive) == 0) return c;
    return nullptr;
}

void TForm::InsertComponent(QObject* component) {
    m_components.append(component);
    connect(component, &QObject::destroyed, this,
            [this](QObject* gone) { m_components.removeAll(gone); });
}
