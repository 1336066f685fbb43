#pragma once

#include "platform/desktop/instancelock.h"
#include "runtime/component.h"

#include <memory>

// The process-wide record of the single-instance guard. The program makes one right after its
// application object, before the window: it takes the name for this process, or learns that
// another copy holds it. Destroying it gives the name back.
class TPreviousInstance {
public:
    // lock: nullptr means the Linux lock.
    explicit TPreviousInstance(const QString& name,
                               std::unique_ptr<tarnwick::InstanceLock> lock = nullptr);
    ~TPreviousInstance();
    TPreviousInstance(const TPreviousInstance&) = delete;
    TPreviousInstance& operator=(const TPreviousInstance&) = delete;

    // Another copy held the name when this one started.
    bool Exists() const { return m_exists; }
    tarnwick::InstanceLock& Lock() { return *m_lock; }

    // The record of this process, or nullptr when there is none.
    static TPreviousInstance* Instance();
    // The program's default title: the executable's file name without folder, cut before its
    // first ".", first letter upper case and the rest lower case ("Tarnwick" for tarnwick).
    static QString DefaultTitle(const QString& executablePath);

private:
    std::unique_ptr<tarnwick::InstanceLock> m_lock;
    bool m_exists = false;
};

// Placed on the main window. In a later copy it asks the first one to come forward and ends
// this copy as soon as its event loop starts; in the first copy it brings the window forward
// (restored when minimised, raised otherwise) whenever a later copy asks.
class TSingleInstance : public TComponent {
    Q_OBJECT
    Q_PROPERTY(QString About READ About WRITE SetAbout)
public:
    explicit TSingleInstance(QObject* owner = nullptr);

    QString About() const { return m_about; }
    void SetAbout(const QString& v) { m_about = v; }

    // Restores a minimised window, raises it and gives it the focus.
    static void ComeForward(QWidget* window);

private:
    QString m_about;
};

// Lets window descriptions name TSingleInstance.
void RegisterSingleInstance();
