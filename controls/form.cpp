#include "controls/form.h"

#include "controls/formreader.h"

#include <QFile>

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

void TForm::SetWidth(int w) {
    resize(w - (frameGeometry().width() - width()), height());
}

void TForm::SetHeight(int h) {
    resize(width(), h - (frameGeometry().height() - height()));
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
