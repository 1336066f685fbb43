#pragma once

#include "controls/form.h"
#include "controls/stdctrls.h"

// The program's one window. Its layout, design values and event wiring are read from the
// window description form1.dfm; the handlers below are what the description names.
class TForm1 : public TForm {
    Q_OBJECT
public:
    // Reads the description from path (the built-in one by default).
    explicit TForm1(const QString& description = QStringLiteral(":/app/form1.dfm"),
                    QWidget* parent = nullptr);
    ~TForm1() override;

    // Backup area
    TLabel* Label4 = nullptr;
    TLabel* Label7 = nullptr;
    TCheckBox* CheckBox2 = nullptr;
    TSpeedButton* SpeedButton3 = nullptr;
    // Repair and compact area
    TLabel* Label11 = nullptr;
    TBevel* Bevel2 = nullptr;
    TComboBox* ComboBox1 = nullptr;
    TEdit* Edit1 = nullptr;
    TLabel* Label13 = nullptr;
    TCheckBox* CheckBox1 = nullptr;
    TSpeedButton* SpeedButton4 = nullptr;
    // Shutdown area
    TComboBox* ComboBox2 = nullptr;
    // Logs
    TRichEdit* RichEdit1 = nullptr;
    TRichEdit* RichEdit2 = nullptr;
    TBitBtn* BitBtn1 = nullptr;
    TBitBtn* BitBtn2 = nullptr;
    // Memory figures
    TProgressBar* cgMemory = nullptr;
    TProgressBar* cgProgress = nullptr;

public slots:
    void FormCreate(QObject* Sender);
    void FormDestroy(QObject* Sender);
    // The repair and compact log is on the right, the backup log on the left.
    void BitBtn1Click(QObject* Sender);
    void BitBtn2Click(QObject* Sender);

private:
    template <typename T> void bind(T*& field, const char* name);
};

// Makes every class that the window description names known to the reader.
void RegisterComponentClasses();
