#pragma once

#include "mail/MailCheck.h"
#include "settings/ColorText.h"
#include "settings/PhotoOptions.h"
#include "settings/SlotSettings.h"
#include "setup/Sample.h"
#include "setup/SetupDialogs.h"
#include "setup/SetupRules.h"

#include <QDialog>
#include <QPointer>
#include <array>
#include <memory>

class QCheckBox;
class QLineEdit;
class QToolButton;
class QPushButton;
class QSlider;

namespace Ui {
class TSetupForm;
}

// The maker's web page, shown in the link line of the settings dialog.
extern const QString kWebPageAddress;

// The settings dialog. It reads every setting when it is created, holds the detail
// settings of all six folder slots and shows the selected slot's
// values in the sliders, the frame picture edit and the clock colour sample; OK writes
// everything back, Cancel writes nothing.
class TSetupForm : public QDialog
{
    Q_OBJECT

public:
    // `sampleForm`: the sample window that SampleDisp redraws; none in some tests.
    explicit TSetupForm(std::unique_ptr<SetupDialogs> dialogs = makeSystemSetupDialogs(), QWidget *parent = nullptr,
                        TSampleForm *sampleForm = nullptr);
    ~TSetupForm() override;

    // The values the dialog holds for `slot`: the current slot's as last taken from the
    // controls, the folder from the slot's edit.
    SlotSettings slotValues(int slot) const;
    int currentSlot() const { return CurrentSlot; }
    bool reacting() const { return Reacting; }
    int sampleIndex() const { return SampleIndex; }
    // What the sample shows, as last asked for.
    const SampleContent &sample() const { return m_sample; }

    // Puts the five sliders on the positions of `slot`'s values.
    void BarSet(int slot);
    // Rebuilds the sample for the current slot, trying the picture at `index`.
    void SampleDisp(int index);
    // Whether slot `slot`'s folder text may be saved; beeps and tells the user when not.
    bool FolderCheck(int slot);

    QLineEdit *folderEdit(int slot) const;
    QToolButton *slotButton(int slot) const;
    QPushButton *browseButton(int slot) const;
    // The photo options' check boxes, in the order of the settings' table.
    QCheckBox *photoOptionBox(int option) const;
    // The photo options as the check boxes hold them now.
    PhotoOptions photoOptions() const;

    // The dialog's POP3 client that runs the mail test.
    TPop3Client &mailClient() const { return *popMail; }
    // Whether a mail test's Connect is still running under a press of the test button.
    bool mailTestRunning() const { return m_mailTestRunning; }

    // Closing the dialog ends a mail test that is being presented.
    void done(int result) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    // The sample was rebuilt; sample() tells what it shows.
    void sampleChanged();
    // The user turned one of the photo options; `options` holds all five as they are now.
    // Loading the dialog does not emit it.
    void photoOptionsChanged(const PhotoOptions &options);

private slots:
    void OKBtnClick();
    void btnDefaultClick();
    void spbUse0Click();
    void btnFolder0Click();
    void btnGakuClick();
    void btnTimeClick();
    void ckbMailCheckClick();
    void btnMailCheckClick();
    void trbGakuSChange();
    void trbGakuWChange();
    void Button1Click();
    void Button2Click();
    void edtURLClick();

private:
    void FormCreate();
    void FormDestroy();
    void takeOwnerWindow();
    void selectSlot(int slot);
    SlotSettings &current() { return m_slots[size_t(CurrentSlot)]; }
    // The frame size and frame width sliders' reaction: the slot's `field` takes the
    // value of `slider`'s position in `block`, and the sample shows it.
    void frameSliderChange(const QSlider *slider, ScaleBlock block, int SlotSettings::*field);
    // Sets the five sliders top to bottom.
    void setSliders(const SliderPositions &positions);
    void storeLiveValues();
    void setClockColor(ColorValue color);
    void popMailConnect(QObject *Sender);
    void popMailStatus(QObject *Sender, const QString &Status);
    // Hides and clears the memo, restores the button and ends the conversation.
    void endMailTest();

    std::unique_ptr<Ui::TSetupForm> ui;
    std::unique_ptr<SetupDialogs> m_dialogs;

    QPointer<QWidget> OwnerWindow;
    // The sample window lives on its own and may close first.
    QPointer<TSampleForm> SampleForm;
    // Each slot's values; the current slot's as last taken from the controls. The folder
    // is not kept here: each slot's edit holds it.
    std::array<SlotSettings, kSlotCount> m_slots;
    qint8 CurrentSlot = 0;
    bool Reacting = false;
    qint32 SampleIndex = 0;

    // The clock colour sample's colour as a colour value, so that a system colour keeps
    // its name when it goes back into the slot.
    ColorValue m_clockColor = clBlack;
    // The colour dialog and the file dialog start where they ended last in this dialog.
    QColor m_lastChosenColor = Qt::black;
    QString m_lastFramePicture;
    SampleContent m_sample;

    // Shared with the press of the test button that runs Connect, so that the client
    // outlives that Connect even when the dialog goes away under it.
    MailCheckClient popMail;
    bool m_mailTestRunning = false;
};
