#pragma once

// An edit with a button at its right end that opens something (a dialog, a list); the base of
// the file and directory pickers.

#include "runtime/component.h"

#include <QLineEdit>
#include <QPixmap>
#include <QToolButton>

#include <stdexcept>

// Raised by combo edits for values they refuse, such as an invalid file name.
class EComboEditError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The button inside a combo edit.
class TEditButton : public QToolButton {
    Q_OBJECT
public:
    explicit TEditButton(QWidget* parent = nullptr);
};

class TCustomComboEdit : public QLineEdit, public TComponentState {
    Q_OBJECT
    Q_PROPERTY(QString Text READ text WRITE SetText)
    Q_PROPERTY(int ClickKey READ ClickKey WRITE SetClickKey)
    Q_PROPERTY(bool DirectInput READ DirectInput WRITE SetDirectInput)
    Q_PROPERTY(bool ReadOnly READ ReadOnly WRITE SetReadOnly)
    Q_PROPERTY(TGlyphKind GlyphKind READ GlyphKind WRITE SetGlyphKind)
    Q_PROPERTY(QPixmap Glyph READ Glyph WRITE SetGlyph)
    Q_PROPERTY(int NumGlyphs READ NumGlyphs WRITE SetNumGlyphs)
    Q_PROPERTY(int ButtonWidth READ ButtonWidth WRITE SetButtonWidth)
    Q_PROPERTY(QString ButtonHint READ ButtonHint WRITE SetButtonHint)
    Q_PROPERTY(bool AutoSelect READ AutoSelect WRITE SetAutoSelect)
    Q_PROPERTY(QString EditMask READ inputMask WRITE setInputMask)
    Q_PROPERTY(int MaxLength READ maxLength WRITE setMaxLength)
    Q_PROPERTY(TNotifyEvent OnChange READ OnChange WRITE SetOnChange)
    Q_PROPERTY(TNotifyEvent OnButtonClick READ OnButtonClick WRITE SetOnButtonClick)
public:
    enum TGlyphKind { gkCustom, gkDefault, gkDropDown, gkEllipsis };
    Q_ENUM(TGlyphKind)

    // Shortcuts are kept in the classic encoding: a virtual-key code in the low byte and
    // modifier bits above it.
    static constexpr int scShift = 0x2000, scCtrl = 0x4000, scAlt = 0x8000;
    static constexpr int vkDown = 0x28;

    explicit TCustomComboEdit(QWidget* parent = nullptr);

    void SetText(const QString& t) { setText(t); }
    int ClickKey() const { return m_clickKey; }
    void SetClickKey(int k) { m_clickKey = k; }
    bool DirectInput() const { return m_directInput; }
    void SetDirectInput(bool d);
    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool r);
    TGlyphKind GlyphKind() const { return m_glyphKind; }
    void SetGlyphKind(TGlyphKind k);
    QPixmap Glyph() const { return m_glyph; }
    void SetGlyph(const QPixmap& g);
    int NumGlyphs() const { return m_numGlyphs; }
    void SetNumGlyphs(int n);
    int ButtonWidth() const { return m_buttonWidth; }
    void SetButtonWidth(int w);
    QString ButtonHint() const;
    void SetButtonHint(const QString& h);
    bool AutoSelect() const { return m_autoSelect; }
    void SetAutoSelect(bool a) { m_autoSelect = a; }

    TNotifyEvent OnChange() const { return m_onChange; }
    void SetOnChange(const TNotifyEvent& e) { m_onChange = e; }
    TNotifyEvent OnButtonClick() const { return m_onButtonClick; }
    void SetOnButtonClick(const TNotifyEvent& e) { m_onButtonClick = e; }

    TEditButton* Button() const { return m_button; }

    // Clicks the button: OnButtonClick, then the edit's own action. Ignored while read-only.
    // Errors of the action propagate to the caller.
    void ButtonClick();

    // The key of a key press in the classic shortcut encoding (0 for keys it cannot express).
    static int ShortCutOf(const QKeyEvent* e);

protected:
    // What the button does after OnButtonClick (the pickers open their dialog).
    virtual void DoClick() {}
    // Reports an error that reached an event of the toolkit (click, key, drop), which has no
    // caller to pass it to.
    virtual void ReportError(const QString& message);
    // The picture of gkDefault; empty for none.
    virtual QPixmap DefaultGlyph() const { return {}; }
    // ButtonClick from an event, with errors reported instead of thrown.
    void ClickFromEvent();

    void keyPressEvent(QKeyEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;

    // Re-applies the picture and the button's place (after a glyph or width change).
    void UpdateButton();

private:
    void updateReadOnly();
    void placeButton();

    TEditButton* m_button = nullptr;
    int m_clickKey = scAlt | vkDown;
    bool m_directInput = true;
    bool m_readOnly = false;
    bool m_autoSelect = true;
    TGlyphKind m_glyphKind = gkDefault;
    QPixmap m_glyph;
    int m_numGlyphs = 1;
    int m_buttonWidth = 21;
    TNotifyEvent m_onChange;
    TNotifyEvent m_onButtonClick;
};
