#pragma once

// Standard controls: thin layers over Qt widgets that publish the properties and events the
// window description and the settings use. Geometry, hints, colours and fonts that every
// control shares are set by the description reader on the widget itself.

#include "runtime/component.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

class TLabel : public QLabel, public TComponentState {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
    Q_PROPERTY(bool WordWrap READ wordWrap WRITE setWordWrap)
    Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
public:
    explicit TLabel(QWidget* parent = nullptr);
    QString Caption() const { return text(); }
    void SetCaption(const QString& c);
    bool AutoSize() const { return m_autoSize; }
    void SetAutoSize(bool a);
    bool Transparent() const { return !autoFillBackground(); }
    void SetTransparent(bool t) { setAutoFillBackground(!t); }

protected:
    void changeEvent(QEvent* e) override;

private:
    bool m_autoSize = true;
};

class TEdit : public QLineEdit, public TComponentState {
    Q_OBJECT
    Q_PROPERTY(QString Text READ text WRITE setText)
    Q_PROPERTY(bool ReadOnly READ isReadOnly WRITE setReadOnly)
    Q_PROPERTY(TNotifyEvent OnChange READ OnChange WRITE SetOnChange)
public:
    explicit TEdit(QWidget* parent = nullptr);
    TNotifyEvent OnChange() const { return m_onChange; }
    void SetOnChange(const TNotifyEvent& e) { m_onChange = e; }

private:
    TNotifyEvent m_onChange;
};

// An editable drop-down list. Like the classic control, OnChange reports what the user does
// (typing, picking an item); setting Text or ItemIndex from code raises nothing.
class TComboBox : public QComboBox, public TComponentState {
    Q_OBJECT
    Q_PROPERTY(QString Text READ Text WRITE SetText)
    Q_PROPERTY(QStringList Items READ Items WRITE SetItems)
    Q_PROPERTY(int ItemIndex READ currentIndex WRITE SetItemIndex)
    Q_PROPERTY(bool Sorted READ Sorted WRITE SetSorted)
    Q_PROPERTY(TComboBoxStyle Style READ Style WRITE SetStyle)
    Q_PROPERTY(TNotifyEvent OnChange READ OnChange WRITE SetOnChange)
public:
    enum TComboBoxStyle { csDropDown, csSimple, csDropDownList };
    Q_ENUM(TComboBoxStyle)

    explicit TComboBox(QWidget* parent = nullptr);
    QString Text() const { return currentText(); }
    void SetText(const QString& t);
    QStringList Items() const;
    void SetItems(const QStringList& items);
    void SetItemIndex(int i);
    bool Sorted() const { return m_sorted; }
    void SetSorted(bool s);
    TComboBoxStyle Style() const { return m_style; }
    void SetStyle(TComboBoxStyle s);
    TNotifyEvent OnChange() const { return m_onChange; }
    void SetOnChange(const TNotifyEvent& e) { m_onChange = e; }

private:
    void wireEditor();
    bool m_sorted = false;
    TComboBoxStyle m_style = csDropDown;
    TNotifyEvent m_onChange;
};

class TCheckBox : public QCheckBox, public TComponentState {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ text WRITE setText)
    Q_PROPERTY(TCheckBoxState State READ State WRITE SetState)
    Q_PROPERTY(bool Checked READ isChecked WRITE setChecked)
    Q_PROPERTY(bool AllowGrayed READ isTristate WRITE setTristate)
    Q_PROPERTY(TNotifyEvent OnClick READ OnClick WRITE SetOnClick)
public:
    enum TCheckBoxState { cbUnchecked, cbChecked, cbGrayed };
    Q_ENUM(TCheckBoxState)

    explicit TCheckBox(QWidget* parent = nullptr);
    TCheckBoxState State() const;
    void SetState(TCheckBoxState s);
    TNotifyEvent OnClick() const { return m_onClick; }
    void SetOnClick(const TNotifyEvent& e) { m_onClick = e; }

private:
    TNotifyEvent m_onClick;
};

// A flat tool button, as on a tool bar.
class TSpeedButton : public QToolButton, public TComponentState {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ text WRITE setText)
    Q_PROPERTY(bool Flat READ autoRaise WRITE setAutoRaise)
    Q_PROPERTY(TNotifyEvent OnClick READ OnClick WRITE SetOnClick)
public:
    explicit TSpeedButton(QWidget* parent = nullptr);
    TNotifyEvent OnClick() const { return m_onClick; }
    void SetOnClick(const TNotifyEvent& e) { m_onClick = e; }

private:
    TNotifyEvent m_onClick;
};

class TBitBtn : public QPushButton, public TComponentState {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ text WRITE setText)
    Q_PROPERTY(TNotifyEvent OnClick READ OnClick WRITE SetOnClick)
public:
    explicit TBitBtn(QWidget* parent = nullptr);
    TNotifyEvent OnClick() const { return m_onClick; }
    void SetOnClick(const TNotifyEvent& e) { m_onClick = e; }

private:
    TNotifyEvent m_onClick;
};

// A progress bar whose range can exceed 32 bits (memory sizes in bytes); the widget shows
// the position scaled into its own range.
class TProgressBar : public QProgressBar, public TComponentState {
    Q_OBJECT
    Q_PROPERTY(qint64 Min READ Min WRITE SetMin)
    Q_PROPERTY(qint64 Max READ Max WRITE SetMax)
    Q_PROPERTY(qint64 Position READ Position WRITE SetPosition)
public:
    explicit TProgressBar(QWidget* parent = nullptr);
    qint64 Min() const { return m_min; }
    void SetMin(qint64 v);
    qint64 Max() const { return m_max; }
    void SetMax(qint64 v);
    qint64 Position() const { return m_position; }
    void SetPosition(qint64 v);

private:
    void sync();
    qint64 m_min = 0, m_max = 100, m_position = 0;
};

// A log of lines; jobs append, the user reads and clears.
class TRichEdit : public QPlainTextEdit, public TComponentState {
    Q_OBJECT
    Q_PROPERTY(QStringList Lines READ Lines WRITE SetLines)
    Q_PROPERTY(bool ReadOnly READ isReadOnly WRITE setReadOnly)
    Q_PROPERTY(TScrollStyle ScrollBars READ ScrollBars WRITE SetScrollBars)
    Q_PROPERTY(bool WordWrap READ WordWrap WRITE SetWordWrap)
public:
    enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
    Q_ENUM(TScrollStyle)

    explicit TRichEdit(QWidget* parent = nullptr);
    QStringList Lines() const;
    void SetLines(const QStringList& lines);
    void AddLine(const QString& line);
    void Clear() { clear(); }
    int LineCount() const;
    TScrollStyle ScrollBars() const { return m_scrollBars; }
    void SetScrollBars(TScrollStyle s);
    bool WordWrap() const { return lineWrapMode() != NoWrap; }
    void SetWordWrap(bool w) { setLineWrapMode(w ? WidgetWidth : NoWrap); }

private:
    TScrollStyle m_scrollBars = ssNone;
};

// A plain container with the classic raised/lowered frame.
class TPanel : public QFrame, public TComponentState {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(TPanelBevel BevelInner READ BevelInner WRITE SetBevelInner)
    Q_PROPERTY(TPanelBevel BevelOuter READ BevelOuter WRITE SetBevelOuter)
    Q_PROPERTY(int BevelWidth READ BevelWidth WRITE SetBevelWidth)
public:
    enum TPanelBevel { bvNone, bvLowered, bvRaised, bvSpace };
    Q_ENUM(TPanelBevel)

    explicit TPanel(QWidget* parent = nullptr);
    QString Caption() const { return m_caption; }
    void SetCaption(const QString& c);
    TPanelBevel BevelInner() const { return m_inner; }
    void SetBevelInner(TPanelBevel b);
    TPanelBevel BevelOuter() const { return m_outer; }
    void SetBevelOuter(TPanelBevel b);
    int BevelWidth() const { return m_bevelWidth; }
    void SetBevelWidth(int w);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QString m_caption;
    TPanelBevel m_inner = bvNone;
    TPanelBevel m_outer = bvRaised;
    int m_bevelWidth = 1;
};

// A line or box drawn with an etched look.
class TBevel : public QWidget, public TComponentState {
    Q_OBJECT
    Q_PROPERTY(TBevelShape Shape READ Shape WRITE SetShape)
    Q_PROPERTY(TBevelStyle Style READ Style WRITE SetStyle)
public:
    enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
    Q_ENUM(TBevelShape)
    enum TBevelStyle { bsLowered, bsRaised };
    Q_ENUM(TBevelStyle)

    explicit TBevel(QWidget* parent = nullptr);
    TBevelShape Shape() const { return m_shape; }
    void SetShape(TBevelShape s);
    TBevelStyle Style() const { return m_style; }
    void SetStyle(TBevelStyle s);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    TBevelShape m_shape = bsBox;
    TBevelStyle m_style = bsLowered;
};

// Makes the standard controls known to window descriptions.
void RegisterStandardControls();
