#pragma once

// A single-line edit with a pair of spin buttons at its right end. It holds one value of a
// chosen kind (integer, floating point, date, time of day, hexadecimal) as its text and steps
// it with the buttons, the arrow keys or typing. The value lives in the text; the date, time
// and hexadecimal values are only remembered while a window description is read in, and the
// step after loading builds the text from them (raising OnChange when the text changes).

#include "controls/spinvaluetext.h"
#include "controls/valuespinbutton.h"
#include "runtime/component.h"

#include <QLineEdit>

#include <optional>

class TValueSpinEdit : public QLineEdit, public TComponentState {
    Q_OBJECT
    Q_PROPERTY(QString Text READ text WRITE setText)
    Q_PROPERTY(TValueSpinButton::TSpinDirection Direction READ Direction WRITE SetDirection)
    Q_PROPERTY(bool ReturnIsTab READ ReturnIsTab WRITE SetReturnIsTab)
    Q_PROPERTY(int Precision READ Precision WRITE SetPrecision)
    Q_PROPERTY(TValueSpinType SpinType READ SpinType WRITE SetSpinType)
    Q_PROPERTY(int Value READ Value WRITE SetValue)
    Q_PROPERTY(double FloatValue READ FloatValue WRITE SetFloatValue)
    Q_PROPERTY(double TimeValue READ TimeValue WRITE SetTimeValue)
    Q_PROPERTY(double DateValue READ DateValue WRITE SetDateValue)
    Q_PROPERTY(int HexValue READ HexValue WRITE SetHexValue)
    Q_PROPERTY(bool SpinFlat READ SpinFlat WRITE SetSpinFlat)
    Q_PROPERTY(bool EditorEnabled READ EditorEnabled WRITE SetEditorEnabled)
    Q_PROPERTY(int Increment READ Increment WRITE SetIncrement)
    Q_PROPERTY(double IncrementFloat READ IncrementFloat WRITE SetIncrementFloat)
    Q_PROPERTY(int MinValue READ MinValue WRITE SetMinValue)
    Q_PROPERTY(int MaxValue READ MaxValue WRITE SetMaxValue)
    Q_PROPERTY(double MinFloatValue READ MinFloatValue WRITE SetMinFloatValue)
    Q_PROPERTY(double MaxFloatValue READ MaxFloatValue WRITE SetMaxFloatValue)
    Q_PROPERTY(double MinDateValue READ MinDateValue WRITE SetMinDateValue)
    Q_PROPERTY(double MaxDateValue READ MaxDateValue WRITE SetMaxDateValue)
    Q_PROPERTY(bool AutoSelect READ AutoSelect WRITE SetAutoSelect)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
    Q_PROPERTY(TBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
    Q_PROPERTY(bool Ctl3D READ Ctl3D WRITE SetCtl3D)
    Q_PROPERTY(int MaxLength READ MaxLength WRITE SetMaxLength)
    Q_PROPERTY(bool ReadOnly READ isReadOnly WRITE setReadOnly)
    Q_PROPERTY(TNotifyEvent OnChange READ OnChange WRITE SetOnChange)
    Q_PROPERTY(TNotifyEvent OnClick READ OnClick WRITE SetOnClick)
    Q_PROPERTY(TNotifyEvent OnDblClick READ OnDblClick WRITE SetOnDblClick)
    Q_PROPERTY(TNotifyEvent OnEnter READ OnEnter WRITE SetOnEnter)
    Q_PROPERTY(TNotifyEvent OnExit READ OnExit WRITE SetOnExit)
public:
    enum TValueSpinType { sptNormal, sptFloat, sptDate, sptTime, sptHex };
    Q_ENUM(TValueSpinType)
    enum TBorderStyle { bsNone, bsSingle };
    Q_ENUM(TBorderStyle)

    explicit TValueSpinEdit(QWidget* parent = nullptr);

    TValueSpinButton::TSpinDirection Direction() const { return m_button->Direction(); }
    void SetDirection(TValueSpinButton::TSpinDirection d);
    bool ReturnIsTab() const { return m_returnIsTab; }
    void SetReturnIsTab(bool r) { m_returnIsTab = r; }
    int Precision() const { return m_precision; }
    void SetPrecision(int p);
    TValueSpinType SpinType() const { return m_spinType; }
    void SetSpinType(TValueSpinType t);

    int Value() const;
    void SetValue(int v);
    double FloatValue() const;
    void SetFloatValue(double v);
    // A time of day as a fraction of a day; 0.0 when the text is not a time.
    double TimeValue() const;
    void SetTimeValue(double v);
    // Days since 1899-12-30, the time of day as the fraction.
    double DateValue() const;
    void SetDateValue(double v);
    int HexValue() const;
    void SetHexValue(int v);

    bool SpinFlat() const { return m_spinFlat; }
    void SetSpinFlat(bool f);
    bool EditorEnabled() const { return m_editorEnabled; }
    void SetEditorEnabled(bool e) { m_editorEnabled = e; }
    int Increment() const { return m_increment; }
    void SetIncrement(int i) { m_increment = i; }
    double IncrementFloat() const { return m_incrementFloat; }
    void SetIncrementFloat(double i) { m_incrementFloat = i; }
    int MinValue() const { return m_minValue; }
    void SetMinValue(int v) { m_minValue = v; }
    int MaxValue() const { return m_maxValue; }
    void SetMaxValue(int v) { m_maxValue = v; }
    double MinFloatValue() const { return m_minFloat; }
    void SetMinFloatValue(double v) { m_minFloat = v; }
    double MaxFloatValue() const { return m_maxFloat; }
    void SetMaxFloatValue(double v) { m_maxFloat = v; }
    double MinDateValue() const { return m_minDate; }
    void SetMinDateValue(double v) { m_minDate = v; }
    double MaxDateValue() const { return m_maxDate; }
    void SetMaxDateValue(double v) { m_maxDate = v; }
    bool AutoSelect() const { return m_autoSelect; }
    void SetAutoSelect(bool a) { m_autoSelect = a; }
    bool AutoSize() const { return m_autoSize; }
    void SetAutoSize(bool a);
    TBorderStyle BorderStyle() const { return m_borderStyle; }
    void SetBorderStyle(TBorderStyle b);
    bool Ctl3D() const { return m_ctl3D; }
    void SetCtl3D(bool c);
    int MaxLength() const { return maxLength(); }
    void SetMaxLength(int n) { setMaxLength(n > 0 ? n : 32767); }

    TNotifyEvent OnChange() const { return m_onChange; }
    void SetOnChange(const TNotifyEvent& e) { m_onChange = e; }
    TNotifyEvent OnClick() const { return m_onClick; }
    void SetOnClick(const TNotifyEvent& e) { m_onClick = e; }
    TNotifyEvent OnDblClick() const { return m_onDblClick; }
    void SetOnDblClick(const TNotifyEvent& e) { m_onDblClick = e; }
    TNotifyEvent OnEnter() const { return m_onEnter; }
    void SetOnEnter(const TNotifyEvent& e) { m_onEnter = e; }
    TNotifyEvent OnExit() const { return m_onExit; }
    void SetOnExit(const TNotifyEvent& e) { m_onExit = e; }

    TValueSpinButton* Button() const { return m_button; }
    // The smallest height the edit takes for its font and border.
    int MinHeight() const;

    // The text/value conversions of time and date mode under the current format settings.
    static QString TimeToText(double time) { return spinvaluetext::timeToText(time); }
    static std::optional<double> TextToTime(const QString& text) {
        return spinvaluetext::textToTime(text);
    }
    static QString DateToText(double date) { return spinvaluetext::dateToText(date); }
    static std::optional<double> TextToDate(const QString& text) {
        return spinvaluetext::textToDate(text);
    }

public slots:
    // One step up or down in the current kind; a read-only edit only beeps.
    virtual void StepUp(QObject* Sender = nullptr);
    virtual void StepDown(QObject* Sender = nullptr);

protected:
    // The default system sound for a rejected key or step.
    virtual void Beep();
    void Loaded() override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    void Step(int sign);
    void StepTime(int sign);
    void StepDate(int sign);
    bool IsValidChar(QChar c) const;
    int CaretIndex() const;
    // Sets the text and puts the caret back at its index with nothing selected.
    void SetTextKeepCaret(const QString& t);
    void Relayout();
    void NormaliseText();
    void SpinButtonPressed();

    TValueSpinButton* m_button = nullptr;
    // Values as last assigned; they build the text once the window is read in.
    double m_dateValue = 0.0;
    double m_timeValue = 0.0;
    int m_hexValue = 0;

    TValueSpinType m_spinType = sptNormal;
    bool m_returnIsTab = false;
    int m_precision = 0;
    bool m_spinFlat = false;
    bool m_editorEnabled = true;
    int m_increment = 1;
    double m_incrementFloat = 0.0;
    int m_minValue = 0, m_maxValue = 0;
    double m_minFloat = 0.0, m_maxFloat = 0.0;
    double m_minDate = 0.0, m_maxDate = 0.0;
    bool m_autoSelect = true;
    bool m_autoSize = true;
    TBorderStyle m_borderStyle = bsSingle;
    bool m_ctl3D = true;
    // Focus came with a mouse press whose target is not known yet (the edit or its buttons).
    bool m_mouseFocusPending = false;
    bool m_pressed = false;

    TNotifyEvent m_onChange, m_onClick, m_onDblClick, m_onEnter, m_onExit;
};

// Makes the time spin edit and the toggle switch known to window descriptions.
void RegisterSpinAndSwitchControls();
