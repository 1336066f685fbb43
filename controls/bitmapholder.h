#pragma once

#include "runtime/component.h"

#include <QList>
#include <QPointer>
#include <QString>

class QWidget;

// One picture shared by several panels: whenever it changes, every linked panel repaints.
// `Bitmap` names one of the built-in pictures (controls/pictures.h).
class TBitmapHolder : public TComponent {
    Q_OBJECT
    Q_PROPERTY(QString Bitmap READ Bitmap WRITE SetBitmap)
public:
    explicit TBitmapHolder(QObject* owner = nullptr);
    ~TBitmapHolder() override;

    QString Bitmap() const { return m_bitmap; }
    void SetBitmap(const QString& name);
    bool IsEmpty() const;

    void Link(QWidget* panel);
    void Unlink(QWidget* panel);
    bool IsLinked(const QWidget* panel) const;

signals:
    // Raised first thing on destruction, so panels drop their reference.
    void destroying(TBitmapHolder* holder);

private:
    QString m_bitmap;
    QList<QPointer<QWidget>> m_linked;
};
