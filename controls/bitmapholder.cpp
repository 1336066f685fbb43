#include "controls/bitmapholder.h"

#include "controls/pictures.h"

#include <QWidget>

TBitmapHolder::TBitmapHolder(QObject* owner) : TComponent(owner) {}

TBitmapHolder::~TBitmapHolder() {
    emit destroying(this);
    m_linked.clear();
}

void TBitmapHolder::SetBitmap(const QString& name) {
    m_bitmap = name;
    for (const auto& w : m_linked)
        if (w) w->update();
}

bool TBitmapHolder::IsEmpty() const {
    return Pictures::Size(m_bitmap).isEmpty();
}

void TBitmapHolder::Link(QWidget* panel) {
    if (panel && !IsLinked(panel)) m_linked.append(panel);
}

void TBitmapHolder::Unlink(QWidget* panel) {
    m_linked.removeIf([panel](const QPointer<QWidget>& w) { return !w || w == panel; });
}

bool TBitmapHolder::IsLinked(const QWidget* panel) const {
    for (const auto& w : m_linked)
        if (w == panel) return true;
    return false;
}
