#pragma once

#include "runtime/component.h"

// Mouse-wheel support for old controls that lacked it. Qt controls scroll with the wheel
// already, so this keeps its design value and does nothing else.
class TWheel : public TComponent {
    Q_OBJECT
    Q_PROPERTY(bool Auto READ Auto WRITE SetAuto)
public:
    explicit TWheel(QObject* owner = nullptr) : TComponent(owner) {}
    bool Auto() const { return m_auto; }
    void SetAuto(bool a) { m_auto = a; }

private:
    bool m_auto = true;
};
