#pragma once

#include "runtime/component.h"

#include <QWidget>

// A window read in from a window description. It owns every component of the description
// for its whole life and finds them by name.
class TForm : public QWidget, public TComponentState {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(int ClientWidth READ ClientWidth WRITE SetClientWidth)
    Q_PROPERTY(int ClientHeight READ ClientHeight WRITE SetClientHeight)
    Q_PROPERTY(int Width READ Width WRITE SetWidth)
    Q_PROPERTY(int Height READ Height WRITE SetHeight)
    Q_PROPERTY(int Left READ Left WRITE SetLeft)
    Q_PROPERTY(int Top READ Top WRITE SetTop)
    Q_PROPERTY(TBorderIcons BorderIcons READ BorderIcons WRITE SetBorderIcons)
    Q_PROPERTY(TNotifyEvent OnCreate READ OnCreate WRITE SetOnCreate)
    Q_PROPERTY(TNotifyEvent OnDestroy READ OnDestroy WRITE SetOnDestroy)
public:
    enum TBorderIcon { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
    Q_DECLARE_FLAGS(TBorderIcons, TBorderIcon)
    Q_FLAG(TBorderIcons)

    explicit TForm(QWidget* parent = nullptr);
    ~TForm() override;

    // Reads the description (a file or a Qt resource path), then raises OnCreate.
    void CreateFromDescription(const QString& path);
    // Raises OnDestroy once; windows call it before their members go away.
    void DoDestroy();

    QString Caption() const { return windowTitle(); }
    void SetCaption(const QString& c) { setWindowTitle(c); }
    int ClientWidth() const { return width(); }
    void SetClientWidth(int w) { resize(w, height()); }
    int ClientHeight() const { return height(); }
    void SetClientHeight(int h) { resize(width(), h); }
    // Outer size and position, frame included.
    int Width() const { return frameGeometry().width(); }
    void SetWidth(int w);
    int Height() const { return frameGeometry().height(); }
    void SetHeight(int h);
    int Left() const { return x(); }
    void SetLeft(int l) { move(l, y()); }
    int Top() const { return y(); }
    void SetTop(int t) { move(x(), t); }
    TBorderIcons BorderIcons() const { return m_borderIcons; }
    void SetBorderIcons(TBorderIcons icons);

    TNotifyEvent OnCreate() const { return m_onCreate; }
    void SetOnCreate(const TNotifyEvent& e) { m_onCreate = e; }
    TNotifyEvent OnDestroy() const { return m_onDestroy; }
    void SetOnDestroy(const TNotifyEvent& e) { m_onDestroy = e; }

    // Components in declaration order.
    const QList<QObject*>& Components() const { return m_components; }
    // The component of that name, letter case ignored; nullptr if there is none.
    QObject* FindComponent(const QString& name) const;
    void InsertComponent(QObject* component);

    template <typename T> T* Component(const QString& name) const {
        return qobject_cast<T*>(FindComponent(name));
    }

    // Called by the description reader once every component exists and before any of them
    // runs its step after loading, so that handlers raised then find their components.
    virtual void ComponentsCreated() {}

protected:
    void showEvent(QShowEvent* e) override;

private:
    void applyPendingOuterSize();

    QList<QObject*> m_components;
    // Outer size asked for before the frame was known (the window not shown yet).
    int m_pendingWidth = -1, m_pendingHeight = -1;
    TBorderIcons m_borderIcons = TBorderIcons(biSystemMenu | biMinimize | biMaximize);
    TNotifyEvent m_onCreate;
    TNotifyEvent m_onDestroy;
    bool m_destroyed = false;
};
