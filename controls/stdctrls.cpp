#include "controls/stdctrls.h"

#include "controls/formreader.h"
#include "controls/graphics.h"

#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>

#include <algorithm>

// --- TLabel

TLabel::TLabel(QWidget* parent) : QLabel(parent) {}

void TLabel::SetCaption(const QString& c) {
    setText(c);
    if (m_autoSize) adjustSize();
}

void TLabel::changeEvent(QEvent* e) {
    QLabel::changeEvent(e);
    if (m_autoSize && e->type() == QEvent::FontChange) adjustSize();
}

void TLabel::SetAutoSize(bool a) {
    m_autoSize = a;
    if (a) adjustSize();
}

// --- TEdit

TEdit::TEdit(QWidget* parent) : QLineEdit(parent) {
    connect(this, &QLineEdit::textChanged, this, [this] { m_onChange(this); });
}

// --- TComboBox

TComboBox::TComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(NoInsert);
    wireEditor();
    connect(this, &QComboBox::activated, this, [this] { m_onChange(this); });
}

void TComboBox::wireEditor() {
    if (QLineEdit* e = lineEdit())
        connect(e, &QLineEdit::textEdited, this, [this] { m_onChange(this); });
}

void TComboBox::SetText(const QString& t) {
    const int i = findText(t, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (isEditable()) {
        if (i >= 0) setCurrentIndex(i);
        setEditText(t);
    } else {
        // A list-only box shows an item or nothing.
        setCurrentIndex(i);
    }
}

QStringList TComboBox::Items() const {
    QStringList items;
    for (int i = 0; i < count(); ++i)
        items << itemText(i);
    return items;
}

void TComboBox::SetItems(const QStringList& items) {
    const QString text = currentText();
    QStringList sorted = items;
    if (m_sorted)
        std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) {
            return a.compare(b, Qt::CaseInsensitive) < 0;
        });
    clear();
    addItems(sorted);
    SetText(text);
}

void TComboBox::SetItemIndex(int i) {
    setCurrentIndex(i >= 0 && i < count() ? i : -1);
}

void TComboBox::SetSorted(bool s) {
    m_sorted = s;
    if (s) SetItems(Items());
}

void TComboBox::SetStyle(TComboBoxStyle s) {
    m_style = s;
    setEditable(s != csDropDownList);
    if (isEditable()) {
        setInsertPolicy(NoInsert);
        wireEditor();
    }
}

// --- TCheckBox

TCheckBox::TCheckBox(QWidget* parent) : QCheckBox(parent) {
    connect(this, &QAbstractButton::clicked, this, [this] { m_onClick(this); });
}

TCheckBox::TCheckBoxState TCheckBox::State() const {
    switch (checkState()) {
    case Qt::Checked:
        return cbChecked;
    case Qt::PartiallyChecked:
        return cbGrayed;
    default:
        return cbUnchecked;
    }
}

void TCheckBox::SetState(TCheckBoxState s) {
    if (s == cbGrayed) setTristate(true);
    setCheckState(s == cbChecked  ? Qt::Checked
                  : s == cbGrayed ? Qt::PartiallyChecked
                                  : Qt::Unchecked);
}

// --- buttons

TSpeedButton::TSpeedButton(QWidget* parent) : QToolButton(parent) {
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    connect(this, &QAbstractButton::clicked, this, [this] { m_onClick(this); });
}

TBitBtn::TBitBtn(QWidget* parent) : QPushButton(parent) {
    connect(this, &QAbstractButton::clicked, this, [this] { m_onClick(this); });
}

// --- TProgressBar

TProgressBar::TProgressBar(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(false);
    setRange(0, 10000);
    sync();
}

void TProgressBar::SetMin(qint64 v) {
    m_min = v;
    sync();
}

void TProgressBar::SetMax(qint64 v) {
    m_max = v;
    sync();
}

void TProgressBar::SetPosition(qint64 v) {
    m_position = std::clamp(v, std::min(m_min, m_max), std::max(m_min, m_max));
    sync();
}

void TProgressBar::sync() {
    const long double span = static_cast<long double>(m_max) - m_min;
    const long double part = span > 0 ? (static_cast<long double>(m_position) - m_min) / span : 0;
    setValue(static_cast<int>(part * maximum() + 0.5L));
}

// --- TRichEdit

TRichEdit::TRichEdit(QWidget* parent) : QPlainTextEdit(parent) {
    SetScrollBars(ssNone);
    setLineWrapMode(WidgetWidth);
}

QStringList TRichEdit::Lines() const {
    QStringList lines;
    if (document()->isEmpty()) return lines;
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next())
        lines << b.text();
    return lines;
}

void TRichEdit::SetLines(const QStringList& lines) {
    setPlainText(lines.join('\n'));
}

void TRichEdit::AddLine(const QString& line) {
    if (document()->isEmpty())
        setPlainText(line);
    else
        appendPlainText(line);
}

int TRichEdit::LineCount() const {
    return document()->isEmpty() ? 0 : document()->blockCount();
}

void TRichEdit::SetScrollBars(TScrollStyle s) {
    m_scrollBars = s;
    const bool v = s == ssVertical || s == ssBoth;
    const bool h = s == ssHorizontal || s == ssBoth;
    setVerticalScrollBarPolicy(v ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(h ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
}

// --- TPanel and TBevel

namespace {} // namespace

static_assert(int(TPanel::bvNone) == int(Graphics::Bevel::None) &&
              int(TPanel::bvLowered) == int(Graphics::Bevel::Lowered) &&
              int(TPanel::bvRaised) == int(Graphics::Bevel::Raised) &&
              int(TPanel::bvSpace) == int(Graphics::Bevel::Space));

TPanel::TPanel(QWidget* parent) : QFrame(parent) {
    setAutoFillBackground(true);
}

void TPanel::SetCaption(const QString& c) {
    m_caption = c;
    update();
}

void TPanel::SetBevelInner(TPanelBevel b) {
    m_inner = b;
    update();
}

void TPanel::SetBevelOuter(TPanelBevel b) {
    m_outer = b;
    update();
}

void TPanel::SetBevelWidth(int w) {
    m_bevelWidth = std::max(0, w);
    update();
}

void TPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QRect r = rect();
    const QColor face = palette().color(QPalette::Window);
    Graphics::DrawBevel(p, r, Graphics::Bevel(m_outer), m_bevelWidth, palette(), face);
    Graphics::DrawBevel(p, r, Graphics::Bevel(m_inner), m_bevelWidth, palette(), face);
    if (!m_caption.isEmpty()) {
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(r, Qt::AlignCenter, m_caption);
    }
}

TBevel::TBevel(QWidget* parent) : QWidget(parent) {}

void TBevel::SetShape(TBevelShape s) {
    m_shape = s;
    update();
}

void TBevel::SetStyle(TBevelStyle s) {
    m_style = s;
    update();
}

void TBevel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QColor first = m_style == bsLowered ? QColor(0x80, 0x80, 0x80) : Qt::white;
    const QColor second = m_style == bsLowered ? Qt::white : QColor(0x80, 0x80, 0x80);
    const QRect r = rect();
    auto etched = [&](QPoint a, QPoint b, QPoint offset) {
        p.setPen(first);
        p.drawLine(a, b);
        p.setPen(second);
        p.drawLine(a + offset, b + offset);
    };
    switch (m_shape) {
    case bsBox: {
        QRect box = r;
        Graphics::DrawBevel(
            p, box, m_style == bsRaised ? Graphics::Bevel::Raised : Graphics::Bevel::Lowered, 1,
            palette(), palette().color(QPalette::Window));
        break;
    }
    case bsFrame:
        p.setPen(first);
        p.drawRect(r.adjusted(0, 0, -2, -2));
        p.setPen(second);
        p.drawRect(r.adjusted(1, 1, -1, -1));
        break;
    case bsTopLine:
        etched(r.topLeft(), r.topRight(), {0, 1});
        break;
    case bsBottomLine:
        etched(r.bottomLeft() - QPoint(0, 1), r.bottomRight() - QPoint(0, 1), {0, 1});
        break;
    case bsLeftLine:
        etched(r.topLeft(), r.bottomLeft(), {1, 0});
        break;
    case bsRightLine:
        etched(r.topRight() - QPoint(1, 0), r.bottomRight() - QPoint(1, 0), {1, 0});
        break;
    case bsSpacer:
        break;
    }
}

void RegisterStandardControls() {
    TClassRegistry::Register<TLabel>();
    TClassRegistry::Register<TEdit>();
    TClassRegistry::Register<TComboBox>();
    TClassRegistry::Register<TCheckBox>();
    TClassRegistry::Register<TSpeedButton>();
    TClassRegistry::Register<TBitBtn>();
    TClassRegistry::Register<TProgressBar>();
    TClassRegistry::Register<TRichEdit>();
    TClassRegistry::Register<TPanel>();
    TClassRegistry::Register<TBevel>();
}
