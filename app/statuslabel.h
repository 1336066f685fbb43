#pragma once

#include "controls/stdctrls.h"

#include <QColor>
#include <QPalette>

// The job areas' status labels: a caption and its colour for each state.
inline const QColor statusIdle(0, 0, 0), statusArmed(255, 0, 0), statusRunning(0, 0, 255),
    statusFailed(0, 255, 0);

inline void setStatus(TLabel* label, const QString& caption, const QColor& color) {
    label->SetCaption(caption);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
}
