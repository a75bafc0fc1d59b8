#include "setup/Setup.h"
#include "ui_Setup.h"

#include "mail/MailCheck.h"
#include "mail/Pop3Client.h"
#include "platform/ErrorReport.h"
#include "platform/Platform.h"
#include "platform/TerminationSignal.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsText.h"
#include "setup/FixedDialog.h"
#include "setup/Sample.h"
#include "setup/SetupRules.h"
#include "show/PictureCatalogue.h"

#include <QApplication>
#include <QEventLoop>
#include <QMouseEvent>
#include <QTimer>

#include <algorithm>

const QString kWebPageAddress = QStringLiteral("https://pantel.example.org/");

namespace {

QString headingFor(int slot)
{
    return QStringLiteral("No.%1 詳細設定").arg(slot + 1);
}

// OK waits for another process's save without freezing the dialog: windows keep painting
// and SIGTERM is heard while input waits, and past a second the wait cursor says why
// nothing happens. A user is there to see it, so the wait is longer than the saver's.
class DialogLockWait
{
public:
    DialogLockWait() = default;
    DialogLockWait(const DialogLockWait &) = delete;
    DialogLockWait &operator=(const DialogLockWait &) = delete;
    ~DialogLockWait()
    {
        if (m_cursorShown)
            QApplication::restoreOverrideCursor();
    }

    SaveLockWait wait()
    {
        SaveLockWait wait;
        wait.patienceMs = kPatienceMs;
        wait.passSlice = [this](int waitedMs) {
            if (waitedMs >= kCursorAfterMs && !m_cursorShown) {
                QApplication::setOverrideCursor(Qt::WaitCursor);
                m_cursorShown = true;
            }
            QEventLoop slice;
            QTimer::singleShot(SaveLockWait::kSliceMs, &slice, &QEventLoop::quit);
            slice.exec(QEventLoop::ExcludeUserInputEvents);
        };
        return wait;
    }

private:
    static constexpr int kPatienceMs = 10000;
    static constexpr int kCursorAfterMs = 1000;
    bool m_cursorShown = false;
};

} // namespace

TSetupForm::TSetupForm(std::unique_ptr<SetupDialogs> dialogs, QWidget *parent, TSampleForm *sampleForm)
    : QDialog(parent),
      ui(std::make_unique<Ui::TSetupForm>()),
      m_dialogs(std::move(dialogs)),
      SampleForm(sampleForm),
      // At level 3 the status texts are exactly the server's reply lines.
      popMail(makeMailCheckClient(3))
{
    popMail->OnConnect = [this](QObject *sender) { popMailConnect(sender); };
    popMail->OnStatus = [this](QObject *sender, const QString &status) { popMailStatus(sender, status); };

    takeOwnerWindow();
    ui->setupUi(this);
    setUpFixedDialog(this, QSize(596, 404), {ui->Label4, ui->lblVer, ui->lblTime});
    // The photo group stands under the mail group, which may have grown for its captions.
    ui->GroupBox3->resize(std::max(ui->GroupBox3->width(), ui->GroupBox2->width()), ui->GroupBox3->height());
    ui->edtURL->setText(QStringLiteral("URL\u3000") + kWebPageAddress);
    // The link reads as text on the dialog, not as an input field.
    showAsText(ui->edtURL);

    connect(ui->OKBtn, &QPushButton::clicked, this, &TSetupForm::OKBtnClick);
    connect(ui->CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->btnDefault, &QPushButton::clicked, this, &TSetupForm::btnDefaultClick);
    connect(ui->btnGaku, &QPushButton::clicked, this, &TSetupForm::btnGakuClick);
    connect(ui->btnTime, &QPushButton::clicked, this, &TSetupForm::btnTimeClick);
    connect(ui->ckbMailCheck, &QCheckBox::clicked, this, &TSetupForm::ckbMailCheckClick);
    connect(ui->btnMailCheck, &QPushButton::clicked, this, &TSetupForm::btnMailCheckClick);
    ui->edtURL->installEventFilter(this);
    connect(ui->trbGakuS, &QSlider::valueChanged, this, &TSetupForm::trbGakuSChange);
    connect(ui->trbGakuW, &QSlider::valueChanged, this, &TSetupForm::trbGakuWChange);
    connect(ui->Button1, &QPushButton::clicked, this, &TSetupForm::Button1Click);
    connect(ui->Button2, &QPushButton::clicked, this, &TSetupForm::Button2Click);
    for (int i = 0; i < kSlotCount; ++i) {
        slotButton(i)->setProperty("tag", i);
        browseButton(i)->setProperty("tag", i);
        connect(slotButton(i), &QToolButton::clicked, this, &TSetupForm::spbUse0Click);
        // The style's checked look alone hardly tells the chosen slot from the others.
        connect(slotButton(i), &QToolButton::toggled, slotButton(i), [button = slotButton(i)](bool chosen) {
            QFont font = button->font();
            font.setBold(chosen);
            button->setFont(font);
        });
        connect(browseButton(i), &QPushButton::clicked, this, &TSetupForm::btnFolder0Click);
    }
    for (size_t i = 0; i < SettingNames::kPhotoOptions.size(); ++i) {
        connect(photoOptionBox(int(i)), &QCheckBox::toggled, this, [this] {
            if (!Reacting)
                return;
            emit photoOptionsChanged(photoOptions());
            // The sample shows the date, and its picture may come from a sub-folder.
            SampleDisp(SampleIndex);
        });
    }
    // The sample shows a picture as the options now say: fitted, or of another format.
    connect(this, &TSetupForm::photoOptionsChanged, this, [this] { runGuarded([this] { SampleDisp(SampleIndex); }); });

    runGuarded([this] { FormCreate(); });
}

TSetupForm::~TSetupForm()
{
    FormDestroy();
}

void TSetupForm::takeOwnerWindow()
{
    // The window in front when the dialog appears stays disabled while the dialog exists.
    // Only this program's own windows can be seen here; the X server gives no other.
    OwnerWindow = QApplication::activeWindow();
    if (OwnerWindow)
        OwnerWindow->setEnabled(false);
}

void TSetupForm::FormDestroy()
{
    if (m_mailTestRunning) {
        // The dialog goes while a test's Connect still waits under the test button's
        // press. That press holds its own reference to the client, so the client stays
        // until Connect has failed; it must no longer reach into this dialog.
        popMail->OnConnect = nullptr;
        popMail->OnStatus = nullptr;
        popMail->Abort();
    } else if (popMail->Connected()) {
        runGuarded([this] { popMail->Disconnect(); });
    }
    if (OwnerWindow)
        OwnerWindow->setEnabled(true);
}

void TSetupForm::done(int result)
{
    if (m_mailTestRunning || !ui->memStatus->isHidden())
        endMailTest();
    QDialog::done(result);
}

QLineEdit *TSetupForm::folderEdit(int slot) const
{
    const QList<QLineEdit *> edits{ui->edtFolder0, ui->edtFolder1, ui->edtFolder2,
                                   ui->edtFolder3, ui->edtFolder4, ui->edtFolder5};
    return edits.at(slot);
}

QToolButton *TSetupForm::slotButton(int slot) const
{
    const QList<QToolButton *> buttons{ui->spbUse0, ui->spbUse1, ui->spbUse2, ui->spbUse3, ui->spbUse4, ui->spbUse5};
    return buttons.at(slot);
}

QPushButton *TSetupForm::browseButton(int slot) const
{
    const QList<QPushButton *> buttons{ui->btnFolder0, ui->btnFolder1, ui->btnFolder2,
                                       ui->btnFolder3, ui->btnFolder4, ui->btnFolder5};
    return buttons.at(slot);
}

QCheckBox *TSetupForm::photoOptionBox(int option) const
{
    const QList<QCheckBox *> boxes{ui->ckbFitPicture, ui->ckbAllFormats, ui->ckbSubFolders, ui->ckbShuffle,
                                   ui->ckbShowDate};
    return boxes.at(option);
}

PhotoOptions TSetupForm::photoOptions() const
{
    PhotoOptions options;
    for (size_t i = 0; i < SettingNames::kPhotoOptions.size(); ++i)
        options.*SettingNames::kPhotoOptions[i].flag = photoOptionBox(int(i))->isChecked();
    return options;
}

SlotSettings TSetupForm::slotValues(int slot) const
{
    SlotSettings s = m_slots[size_t(slot)];
    s.folderPath = folderEdit(slot)->text();
    return s;
}

void TSetupForm::FormCreate()
{
    Reacting = false;
    StoredSettings stored;
    {
        const SettingsStore store;
        stored = readSettings(store);
    }
    ui->ckbOrder->setChecked(stored.orderF);
    CurrentSlot = qint8(stored.slotIndex());
    slotButton(CurrentSlot)->setChecked(true);
    ui->edtHost->setText(stored.host);
    ui->edtUserID->setText(stored.userId);
    ui->medPassword->setText(stored.password);
    ui->speRoundTime->setValue(stored.roundTime);
    ui->ckbMailCheck->setChecked(stored.mailCheckF);
    if (stored.mailCheckF)
        ckbMailCheckClick();
    for (size_t i = 0; i < SettingNames::kPhotoOptions.size(); ++i)
        photoOptionBox(int(i))->setChecked(stored.photo.*SettingNames::kPhotoOptions[i].flag);

    for (int i = 0; i < kSlotCount; ++i) {
        m_slots[size_t(i)] = parseSlot(stored.folders[size_t(i)], SlotReader::Dialog);
        folderEdit(i)->setText(m_slots[size_t(i)].folderPath);
    }

    ui->edtGaku->setText(current().framePicture);
    setClockColor(clockColorOf(current().clockColor));
    ui->lblShousai->setText(headingFor(CurrentSlot));
    BarSet(CurrentSlot);
    SampleDisp(0);
    ui->lblVer->setText(QStringLiteral(PANTEL_VERSION));
    Reacting = true;
}

void TSetupForm::setClockColor(ColorValue color)
{
    m_clockColor = color;
    QPalette p = ui->lblTime->palette();
    p.setColor(QPalette::WindowText, toQColor(color));
    ui->lblTime->setPalette(p);
}

void TSetupForm::BarSet(int slot)
{
    // All five positions first, then the sliders in their order.
    setSliders(sliderPositionsFor(m_slots[size_t(slot)]));
}

void TSetupForm::setSliders(const SliderPositions &p)
{
    ui->trbGakuS->setValue(p.gakuS);
    ui->trbStayT->setValue(p.stayT);
    ui->trbSlideT->setValue(p.slideT);
    ui->trbMoveQ->setValue(p.moveQ);
    ui->trbGakuW->setValue(p.gakuW);
}

void TSetupForm::SampleDisp(int index)
{
    // The folder as the edit holds it now, typed but unconfirmed text included.
    // With sub-folders on, a tree whose first folder with pictures has some counts, as the
    // show would start with it.
    const PhotoOptions options = photoOptions();
    const QStringList pictures
        = firstFolderPictures(folderEdit(CurrentSlot)->text(), options.subFolders, options.allFormats);
    QString picture;
    if (const auto i = sampleIndexFor(int(pictures.size()), index)) {
        SampleIndex = *i;
        picture = pictures.at(*i);
    }
    const SlotSettings &slot = current();
    m_sample = {slot.frameSize, slot.frameWidth, slot.framePicture, slot.clockColor, picture, options};
    if (SampleForm)
        SampleForm->SetDisp(m_sample);
    emit sampleChanged();
}

void TSetupForm::trbGakuSChange()
{
    frameSliderChange(ui->trbGakuS, ScaleBlock::FrameSize, &SlotSettings::frameSize);
}

void TSetupForm::trbGakuWChange()
{
    frameSliderChange(ui->trbGakuW, ScaleBlock::FrameWidth, &SlotSettings::frameWidth);
}

void TSetupForm::frameSliderChange(const QSlider *slider, ScaleBlock block, int SlotSettings::*field)
{
    // The program's own slider moves (loading, slot switch, reset) run with Reacting off.
    if (!Reacting)
        return;
    runGuarded([this, slider, block, field] {
        const qint32 value = scaleValue(block, slider->value());
        if (value == current().*field)
            return;
        current().*field = value;
        SampleDisp(SampleIndex);
    });
}

void TSetupForm::Button1Click()
{
    runGuarded([this] { SampleDisp(SampleIndex - 1); });
}

void TSetupForm::Button2Click()
{
    runGuarded([this] { SampleDisp(SampleIndex + 1); });
}

void TSetupForm::storeLiveValues()
{
    SlotSettings &slot = current();
    slot.frameSize = scaleValue(ScaleBlock::FrameSize, ui->trbGakuS->value());
    slot.stayTime = scaleValue(ScaleBlock::StayTime, ui->trbStayT->value());
    slot.slideInterval = scaleValue(ScaleBlock::SlideInterval, ui->trbSlideT->value());
    slot.moveAmount = scaleValue(ScaleBlock::MoveAmount, ui->trbMoveQ->value());
    slot.frameWidth = scaleValue(ScaleBlock::FrameWidth, ui->trbGakuW->value());
    slot.framePicture = ui->edtGaku->text();
    slot.clockColor = colorToString(m_clockColor);
}

void TSetupForm::selectSlot(int slot)
{
    Reacting = false;
    storeLiveValues();
    CurrentSlot = qint8(slot);
    setClockColor(clockColorOf(m_slots[size_t(slot)].clockColor));
    ui->edtGaku->setText(m_slots[size_t(slot)].framePicture);
    ui->lblShousai->setText(headingFor(slot));
    repaint();
    BarSet(slot);
    SampleDisp(0);
    Reacting = true;
}

void TSetupForm::spbUse0Click()
{
    const int slot = sender()->property("tag").toInt();
    runGuarded([this, slot] { selectSlot(slot); });
}

void TSetupForm::btnFolder0Click()
{
    const int slot = sender()->property("tag").toInt();
    runGuarded([this, slot] {
        const std::optional<QString> chosen = m_dialogs->chooseFolder(this);
        if (!chosen)
            return;
        folderEdit(slot)->setText(*chosen);
        slotButton(slot)->setChecked(true);
        selectSlot(slot);
    });
}

bool TSetupForm::FolderCheck(int slot)
{
    const QString text = folderEdit(slot)->text();
    if (folderTextAcceptable(text))
        return true;
    platform().beep();
    m_dialogs->showMessage(this, folderCheckMessage(text));
    return false;
}

void TSetupForm::OKBtnClick()
{
    bool allAcceptable = true;
    for (int i = 0; i < kSlotCount; ++i)
        allAcceptable = FolderCheck(i) && allAcceptable;
    // A refused folder keeps the dialog open with everything the user changed, so the
    // folder can be corrected (or the dialog cancelled); nothing is written.
    if (!allAcceptable)
        return;

    runGuarded([this] {
        storeLiveValues();
        StoredSettings s;
        s.orderF = ui->ckbOrder->isChecked();
        for (int i = 0; i < kSlotCount; ++i) {
            SlotSettings slot = slotValues(i);
            slot.framePicture = trimControl(slot.framePicture);
            s.folders[size_t(i)] = JoinSlot(slot);
        }
        s.startNo = CurrentSlot;
        s.host = ui->edtHost->text();
        s.userId = ui->edtUserID->text();
        s.password = ui->medPassword->text();
        s.roundTime = ui->speRoundTime->textValue();
        s.mailCheckF = ui->ckbMailCheck->isChecked();
        s.photo = photoOptions();
        DialogLockWait lockWait;
        SettingsStore store(lockWait.wait());
        writeSettings(store, s);
    });
    // SIGTERM during the save has cancelled the dialog already.
    if (!terminationPending())
        accept();
}

void TSetupForm::btnDefaultClick()
{
    runGuarded([this] {
        Reacting = false;
        repaint();
        setSliders(resetSliderPositions());
        SlotSettings &slot = current();
        ui->edtGaku->clear();
        slot.framePicture.clear();
        slot.frameSize = scaleValue(ScaleBlock::FrameSize, ui->trbGakuS->value());
        slot.frameWidth = scaleValue(ScaleBlock::FrameWidth, ui->trbGakuW->value());
        setClockColor(clBlack);
        slot.clockColor = colorToString(clBlack);
        SampleDisp(0);
        Reacting = true;
    });
}

void TSetupForm::btnGakuClick()
{
    runGuarded([this] {
        if (const std::optional<QString> chosen = m_dialogs->chooseFramePicture(this, m_lastFramePicture)) {
            m_lastFramePicture = *chosen;
            ui->edtGaku->setText(*chosen);
            current().framePicture = ui->edtGaku->text();
        }
        SampleDisp(SampleIndex);
    });
}

void TSetupForm::btnTimeClick()
{
    runGuarded([this] {
        if (const std::optional<QColor> chosen = m_dialogs->chooseColor(this, m_lastChosenColor)) {
            m_lastChosenColor = *chosen;
            setClockColor(fromQColor(*chosen));
            current().clockColor = colorToString(m_clockColor);
        }
        SampleDisp(SampleIndex);
    });
}

void TSetupForm::ckbMailCheckClick()
{
    const bool on = ui->ckbMailCheck->isChecked();
    for (QWidget *control : {static_cast<QWidget *>(ui->lblHost), static_cast<QWidget *>(ui->lblUserID),
                             static_cast<QWidget *>(ui->lblPassword), static_cast<QWidget *>(ui->lblRoundTime),
                             static_cast<QWidget *>(ui->edtHost), static_cast<QWidget *>(ui->edtUserID),
                             static_cast<QWidget *>(ui->medPassword), static_cast<QWidget *>(ui->speRoundTime),
                             static_cast<QWidget *>(ui->btnMailCheck)})
        control->setEnabled(on);
    endMailTest();
}

void TSetupForm::endMailTest()
{
    ui->btnMailCheck->setText(QStringLiteral("メールチェックテスト"));
    ui->memStatus->hide();
    ui->memStatus->clear();
    if (m_mailTestRunning) {
        // Connect is still waiting for the server under the press that started the test.
        // A QUIT now would wait for the server as well (up to the whole time-out with a
        // silent one), so the conversation is cut off at once: the wait ends and that
        // Connect fails, and its failure goes to the error report.
        popMail->Abort();
    } else if (popMail->Connected()) {
        runGuarded([this] { popMail->Disconnect(); });
    }
}

void TSetupForm::btnMailCheckClick()
{
    if (!ui->memStatus->isHidden()) {
        endMailTest();
        return;
    }
    // A test that was just ended may still be unwinding under an earlier press; the
    // client runs one Connect at a time.
    if (m_mailTestRunning)
        return;

    ui->memStatus->clear();
    ui->memStatus->show();
    ui->btnMailCheck->setText(QStringLiteral("テスト終了"));
    setMailAccount(*popMail, {ui->edtHost->text(), ui->edtUserID->text(), ui->medPassword->text()});

    const MailCheckClient client = popMail;
    const QPointer<TSetupForm> self(this);
    m_mailTestRunning = true;
    runGuarded([&client] { client->Connect(); });
    // The failure, if any, has been reported; the memo keeps its lines and the button
    // its caption, so the next press ends the test. The dialog may be gone by now.
    if (self)
        self->m_mailTestRunning = false;
}

void TSetupForm::popMailConnect(QObject *)
{
    if (popMail->Connected())
        popMail->Disconnect();
}

void TSetupForm::popMailStatus(QObject *, const QString &Status)
{
    // Only a test being presented lists lines; an ended one stays cleared.
    if (ui->memStatus->isHidden())
        return;
    ui->memStatus->appendPlainText(trimControl(Status));
}

void TSetupForm::edtURLClick()
{
    // The desktop's opener takes the plain address; the link text's "URL" and space
    // are only shown.
    platform().openUrl(kWebPageAddress);
}

bool TSetupForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->edtURL && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && ui->edtURL->rect().contains(mouse->position().toPoint()))
            runGuarded([this] { edtURLClick(); });
    }
    return QDialog::eventFilter(watched, event);
}
