#pragma once

#include "setup/SampleFields.h"

#include <QWidget>
#include <memory>

class ImageView;
class Panel;
class QLabel;
class QLineEdit;

namespace Ui {
class TSampleForm;
}

// The sample window of the settings mode: a borderless window at the screen's top-left
// corner that shows the frame of the dialog's current folder slot at full-screen size,
// with the frame picture, the clock text "12:00" in the clock colour and one picture of
// the slot's folder. It is static (no clock, no movement, no slide) and takes no input;
// the dialog fills its five hidden text fields and asks it to redraw with SetDisp.
class TSampleForm : public QWidget
{
    Q_OBJECT

public:
    explicit TSampleForm(QWidget *parent = nullptr);
    ~TSampleForm() override;

    // Writes the five hidden text fields.
    void setFields(const SampleFields &fields);
    SampleFields fields() const;

    // Redraws the sample from the five text fields.
    void SetDisp();

    Panel *pnlBase = nullptr;
    ImageView *imgGaku = nullptr;
    QLabel *lblTime = nullptr;
    Panel *pnlInner = nullptr;
    Panel *pnlBack = nullptr;
    Panel *pnlA = nullptr;
    ImageView *imgA = nullptr;
    ImageView *imgDummy = nullptr;
    QLineEdit *edtGakuS = nullptr;
    QLineEdit *edtGakuD = nullptr;
    QLineEdit *edtGakuW = nullptr;
    QLineEdit *edtTimeC = nullptr;
    QLineEdit *edtJpgFile = nullptr;

private:
    void FormCreate();
    // The window is as large as what it shows: the frame, or nothing before the first
    // SetDisp.
    void fitToContent();

    std::unique_ptr<Ui::TSampleForm> ui;
};
