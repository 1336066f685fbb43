#include "controls/comboedit.h"

#include "controls/pickerdialogs.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyle>

#include <algorithm>
#include <utility>

TEditButton::TEditButton(QWidget* parent) : QToolButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    setAutoRaise(false);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
}

TCustomComboEdit::TCustomComboEdit(QWidget* parent) : QLineEdit(parent) {
    // The classic edit is created 121 x 21 and has no length limit of its own.
    resize(121, 21);
    setMaxLength(32767);
    m_button = new TEditButton(this);
    connect(m_button, &QAbstractButton::clicked, this, [this] { ClickFromEvent(); });
    // Every real change of the text, typed or set, shown or not yet shown.
    connect(this, &QLineEdit::textChanged, this, [this] { m_onChange(this); });
    placeButton();
}

void TCustomComboEdit::SetDirectInput(bool d) {
    m_directInput = d;
    updateReadOnly();
}

void TCustomComboEdit::SetReadOnly(bool r) {
    m_readOnly = r;
    m_button->setEnabled(!r);
    updateReadOnly();
}

void TCustomComboEdit::updateReadOnly() {
    setReadOnly(m_readOnly || !m_directInput);
}

void TCustomComboEdit::SetGlyphKind(TGlyphKind k) {
    m_glyphKind = k;
    UpdateButton();
}

void TCustomComboEdit::SetGlyph(const QPixmap& g) {
    m_glyph = g;
    if (!g.isNull()) m_glyphKind = gkCustom;
    UpdateButton();
}

void TCustomComboEdit::SetNumGlyphs(int n) {
    m_numGlyphs = std::clamp(n, 1, 4);
    UpdateButton();
}

void TCustomComboEdit::SetButtonWidth(int w) {
    m_buttonWidth = std::max(0, w);
    placeButton();
}

QString TCustomComboEdit::ButtonHint() const {
    return m_button->toolTip();
}

void TCustomComboEdit::SetButtonHint(const QString& h) {
    m_button->setToolTip(QString(h).replace(QLatin1String("\r\n"), QLatin1String("\n")));
}

namespace {

QPixmap ellipsisGlyph() {
    QPixmap pm(12, 4);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    for (int i = 0; i < 3; ++i)
        p.drawRect(i * 4 + 1, 1, 2, 2);
    return pm;
}

} // namespace

void TCustomComboEdit::UpdateButton() {
    QPixmap picture;
    m_button->setArrowType(Qt::NoArrow);
    switch (m_glyphKind) {
    case gkCustom:
        picture = m_glyph;
        break;
    case gkDefault:
        picture = DefaultGlyph();
        break;
    case gkEllipsis:
        picture = ellipsisGlyph();
        break;
    case gkDropDown:
        m_button->setArrowType(Qt::DownArrow);
        m_buttonWidth = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
        break;
    }
    // A strip of several images shows its first one.
    if (!picture.isNull() && m_numGlyphs > 1)
        picture = picture.copy(0, 0, picture.width() / m_numGlyphs, picture.height());
    if (m_glyphKind == gkDefault && !picture.isNull())
        m_buttonWidth = std::max(picture.width() + 6, m_buttonWidth);
    m_button->setIcon(picture.isNull() ? QIcon() : QIcon(picture));
    m_button->setIconSize(picture.isNull() ? QSize() : picture.size());
    placeButton();
}

void TCustomComboEdit::placeButton() {
    // The button sits inside the frame at the right edge; the text ends 2 pixels before it.
    const int w = m_buttonWidth;
    m_button->setVisible(w > 0);
    m_button->setGeometry(width() - w - 2, 2, w, std::max(0, height() - 4));
    setTextMargins(0, 0, w > 0 ? w + 2 : 0, 0);
}

void TCustomComboEdit::resizeEvent(QResizeEvent* e) {
    QLineEdit::resizeEvent(e);
    placeButton();
}

void TCustomComboEdit::focusInEvent(QFocusEvent* e) {
    QLineEdit::focusInEvent(e);
    if (!m_autoSelect) deselect();
}

void TCustomComboEdit::ButtonClick() {
    if (m_readOnly) return;
    m_onButtonClick(this);
    DoClick();
}

void TCustomComboEdit::ClickFromEvent() {
    try {
        ButtonClick();
    } catch (const std::exception& e) {
        ReportError(QString::fromUtf8(e.what()));
    }
}

void TCustomComboEdit::ReportError(const QString& message) {
    tarnwick::PickerDialogs::Current().ShowError(this, message);
}

int TCustomComboEdit::ShortCutOf(const QKeyEvent* e) {
    // Virtual-key codes of the keys a shortcut usually names.
    static constexpr std::pair<int, int> keys[] = {
        {Qt::Key_Backspace, 0x08}, {Qt::Key_Tab, 0x09},      {Qt::Key_Return, 0x0D},
        {Qt::Key_Enter, 0x0D},     {Qt::Key_Escape, 0x1B},   {Qt::Key_Space, 0x20},
        {Qt::Key_PageUp, 0x21},    {Qt::Key_PageDown, 0x22}, {Qt::Key_End, 0x23},
        {Qt::Key_Home, 0x24},      {Qt::Key_Left, 0x25},     {Qt::Key_Up, 0x26},
        {Qt::Key_Right, 0x27},     {Qt::Key_Down, 0x28},     {Qt::Key_Insert, 0x2D},
        {Qt::Key_Delete, 0x2E}};
    const int key = e->key();
    int vk = 0;
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        vk = key; // letters and digits have the same codes
    else if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        vk = 0x70 + (key - Qt::Key_F1);
    else
        for (const auto& [qtKey, code] : keys)
            if (qtKey == key) vk = code;
    if (vk == 0) return 0;
    const Qt::KeyboardModifiers m = e->modifiers();
    if (m & Qt::ShiftModifier) vk |= scShift;
    if (m & Qt::ControlModifier) vk |= scCtrl;
    if (m & Qt::AltModifier) vk |= scAlt;
    return vk;
}

void TCustomComboEdit::keyPressEvent(QKeyEvent* e) {
    if (m_clickKey != 0 && m_buttonWidth > 0 && ShortCutOf(e) == m_clickKey) {
        e->accept();
        ClickFromEvent();
        return;
    }
    // Enter and Escape reach the window (its default and cancel buttons) as the line edit
    // passes them on.
    QLineEdit::keyPressEvent(e);
}
