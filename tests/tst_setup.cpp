#include "settings/ColorText.h"
#include "setup/CaptionFit.h"
#include "setup/Folder.h"
#include "setup/QtTranslation.h"
#include "setup/Sample.h"
#include "setup/SetupRules.h"
#include "tests/SetupFixture.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QTreeView>
#include <QtTest>
#include <deque>

namespace {

// Dialog answers put in by the test, and what the settings dialog asked.
class FakeDialogs final : public SetupDialogs
{
public:
    std::deque<std::optional<QString>> framePictures;
    std::deque<std::optional<QColor>> colors;
    std::deque<std::optional<QString>> folders;
    QStringList framePictureStarts;
    QList<QColor> colorStarts;
    QStringList messages;

    std::optional<QString> chooseFramePicture(QWidget *, const QString &start) override
    {
        framePictureStarts << start;
        return next(framePictures);
    }
    std::optional<QColor> chooseColor(QWidget *, const QColor &initial) override
    {
        colorStarts << initial;
        return next(colors);
    }
    std::optional<QString> chooseFolder(QWidget *) override { return next(folders); }
    void showMessage(QWidget *, const QString &text) override { messages << text; }

private:
    template <typename T> static std::optional<T> next(std::deque<std::optional<T>> &answers)
    {
        if (answers.empty())
            return std::nullopt;
        const bool given = answers.front().has_value();
        const T value = given ? *answers.front() : T();
        answers.pop_front();
        if (!given)
            return std::nullopt;
        return value;
    }
};

QByteArray rawFile()
{
    QFile file(SettingsStore::filePath());
    if (!file.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("<no file>");
    return file.readAll();
}

QList<int> sliderPositions(const QWidget &dialog)
{
    return {control<QSlider>(dialog, "trbGakuS")->value(), control<QSlider>(dialog, "trbStayT")->value(),
            control<QSlider>(dialog, "trbSlideT")->value(), control<QSlider>(dialog, "trbMoveQ")->value(),
            control<QSlider>(dialog, "trbGakuW")->value()};
}

void setSliders(const QWidget &dialog, const QList<int> &positions)
{
    control<QSlider>(dialog, "trbGakuS")->setValue(positions[0]);
    control<QSlider>(dialog, "trbStayT")->setValue(positions[1]);
    control<QSlider>(dialog, "trbSlideT")->setValue(positions[2]);
    control<QSlider>(dialog, "trbMoveQ")->setValue(positions[3]);
    control<QSlider>(dialog, "trbGakuW")->setValue(positions[4]);
}

QColor clockSampleColor(const QWidget &dialog)
{
    return control<QLabel>(dialog, "lblTime")->palette().color(QPalette::WindowText);
}

void click(QAbstractButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

// A check box answers a click on its box or its caption only, and its caption may end
// short of its middle.
void clickBox(QCheckBox *box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

} // namespace

class TestSetup : public SetupFixture
{
    Q_OBJECT

private:
    FakeDialogs *m_dialogs = nullptr;
    QString m_startDirectory;

    std::unique_ptr<TSetupForm> openDialog()
    {
        auto dialogs = std::make_unique<FakeDialogs>();
        m_dialogs = dialogs.get();
        return showDialog(std::move(dialogs));
    }

private slots:
    void initTestCase()
    {
        setUpProgram();
        m_startDirectory = QDir::currentPath();
    }

    void init()
    {
        QVERIFY2(setUpTest(), "no temporary folder for the settings");
        QDir::setCurrent(m_startDirectory);
    }

    void emptyStoreShowsTheDefaults()
    {
        const auto dialog = openDialog();
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Pantelo設定"));
        // 596 x 404 as drawn, wider only by what a caption needs in the fonts at hand.
        QCOMPARE(dialog->height(), 404);
        QVERIFY(dialog->width() >= 596 && dialog->width() <= 640);
        QVERIFY(dialog->slotButton(0)->isChecked());
        for (int i = 1; i < kSlotCount; ++i)
            QVERIFY(!dialog->slotButton(i)->isChecked());
        QCOMPARE(control<QLabel>(*dialog, "lblShousai")->text(), QStringLiteral("No.1 詳細設定"));
        QCOMPARE(sliderPositions(*dialog), (QList<int>{7, 4, 6, 2, 2}));
        QCOMPARE(control<QLineEdit>(*dialog, "edtGaku")->text(), QString());
        QCOMPARE(clockSampleColor(*dialog), QColor(Qt::black));
        for (const char *name : kMailControls)
            QVERIFY2(!control<QWidget>(*dialog, name)->isEnabled(), name);
        QVERIFY(!control<QPlainTextEdit>(*dialog, "memStatus")->isVisible());
        QCOMPARE(control<QSpinBox>(*dialog, "speRoundTime")->value(), 15);
        QCOMPARE(dialog->photoOptions(), PhotoOptions{});
        QCOMPARE(control<QWidget>(*dialog, "GroupBox3")->width(), control<QWidget>(*dialog, "GroupBox2")->width());
        QCOMPARE(control<QLabel>(*dialog, "lblVer")->text(), QStringLiteral("1.12"));
        QVERIFY(dialog->reacting());
        QCOMPARE(rawFile(), QByteArrayLiteral("<no file>")); // loading writes nothing
    }

    void okOnEmptyStoreWritesEveryValue()
    {
        const auto dialog = openDialog();
        click(control<QPushButton>(*dialog, "OKBtn"));
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QVERIFY(!dialog->isVisible());

        QSettings file(SettingsStore::filePath(), QSettings::IniFormat);
        file.beginGroup(SettingNames::Section);
        QStringList expectedKeys{"OrderF", "StartNo", "Host", "UserID", "Password", "RoundTime", "MailCheckF"};
        for (int i = 0; i < kSlotCount; ++i)
            expectedKeys << SettingNames::folder(i);
        for (const SettingNames::PhotoOptionName &option : SettingNames::kPhotoOptions)
            expectedKeys << option.name;
        QStringList keys = file.childKeys();
        keys.sort();
        expectedKeys.sort();
        QCOMPARE(keys, expectedKeys);
        QCOMPARE(stored("OrderF"), QStringLiteral("0"));
        for (int i = 0; i < kSlotCount; ++i)
            QCOMPARE(stored(SettingNames::folder(i)), QStringLiteral("450,5000,100,20,10,clBlack,,"));
        QCOMPARE(stored("StartNo"), QStringLiteral("0"));
        QCOMPARE(stored("Host"), QString());
        QCOMPARE(stored("UserID"), QString());
        QCOMPARE(stored("Password"), QString());
        QCOMPARE(stored("RoundTime"), QStringLiteral("15"));
        QCOMPARE(stored("MailCheckF"), QStringLiteral("0"));
        for (const SettingNames::PhotoOptionName &option : SettingNames::kPhotoOptions)
            QCOMPARE(stored(option.name), QStringLiteral("0"));
        QVERIFY(m_errors.isEmpty());
    }

    void photoOptionBoxes_data()
    {
        QTest::addColumn<QStringList>("storedOn");
        QTest::addColumn<int>("clicked");
        QTest::newRow("none stored, fit turned on") << QStringList{} << 0;
        QTest::newRow("formats and date stored, date turned off") << QStringList{"AllFormats", "ShowDate"} << 4;
        QTest::newRow("all stored, shuffle turned off")
            << QStringList{"FitPicture", "AllFormats", "SubFolders", "Shuffle", "ShowDate"} << 3;
    }

    // The boxes show the stored options, tell of a click at once, keep through a reset and
    // are saved on OK.
    void photoOptionBoxes()
    {
        QFETCH(QStringList, storedOn);
        QFETCH(int, clicked);
        const auto &options = SettingNames::kPhotoOptions;
        for (const QString &name : storedOn)
            store(name, "1");
        const auto dialog = openDialog();
        QSignalSpy changed(dialog.get(), &TSetupForm::photoOptionsChanged);
        for (size_t i = 0; i < options.size(); ++i) {
            QCOMPARE(dialog->photoOptionBox(int(i))->objectName(), "ckb" + options[i].name);
            QCOMPARE(dialog->photoOptionBox(int(i))->isChecked(), storedOn.contains(options[i].name));
        }
        QCOMPARE(changed.count(), 0);

        clickBox(dialog->photoOptionBox(clicked));
        PhotoOptions expected = dialog->photoOptions();
        QCOMPARE(expected.*options[size_t(clicked)].flag, !storedOn.contains(options[size_t(clicked)].name));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).value<PhotoOptions>(), expected);

        click(control<QPushButton>(*dialog, "btnDefault"));
        QCOMPARE(dialog->photoOptions(), expected);
        click(control<QPushButton>(*dialog, "OKBtn"));
        QCOMPARE(readPhotoOptions(SettingsStore()), expected);
    }

    void cancelWritesNothing_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("Cancel button") << false;
        QTest::newRow("Esc") << true;
    }

    void cancelWritesNothing()
    {
        QFETCH(bool, escape);
        store("Folder0", "600,7000,50,70,45,clRed,/pictures,/frame.jpg");
        const QByteArray before = rawFile();
        const auto dialog = openDialog();
        setSliders(*dialog, {1, 1, 1, 1, 1});
        control<QLineEdit>(*dialog, "edtFolder2")->setText("/elsewhere");
        click(control<QPushButton>(*dialog, "btnDefault"));
        clickBox(control<QCheckBox>(*dialog, "ckbShowDate"));
        QVERIFY(control<QCheckBox>(*dialog, "ckbShowDate")->isChecked());
        if (escape)
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
        else
            click(control<QPushButton>(*dialog, "CancelBtn"));
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QVERIFY(!dialog->isVisible());
        QCOMPARE(rawFile(), before);
    }

    void offScaleFrameSizeKeptUntilPresented_data()
    {
        QTest::addColumn<bool>("visit");
        QTest::addColumn<QString>("written");
        QTest::newRow("never selected") << false << "460,4000,100,20,10,clBlack,,";
        QTest::newRow("selected once") << true << "450,5000,100,20,10,clBlack,,";
    }

    void offScaleFrameSizeKeptUntilPresented()
    {
        QFETCH(bool, visit);
        QFETCH(QString, written);
        store("Folder3", "460,4000,100,20,10,,,");
        const auto dialog = openDialog();
        if (visit) {
            click(dialog->slotButton(3));
            QCOMPARE(sliderPositions(*dialog), (QList<int>{7, 4, 6, 2, 2}));
            click(dialog->slotButton(0));
        }
        click(control<QPushButton>(*dialog, "OKBtn"));
        QCOMPARE(stored("Folder3"), written);
    }

    void folderEndingInSeparatorIsRefused_data()
    {
        QTest::addColumn<int>("slot");
        QTest::newRow("current slot") << 0;
        QTest::newRow("other slot") << 4;
    }

    void folderEndingInSeparatorIsRefused()
    {
        QFETCH(int, slot);
        const auto dialog = openDialog();
        dialog->folderEdit(slot)->setText("/home/someone/pictures/");
        setSliders(*dialog, {10, 5, 5, 5, 9});
        click(control<QPushButton>(*dialog, "OKBtn"));

        QCOMPARE(m_platform->beeps, 1);
        QCOMPARE(m_dialogs->messages,
                 QStringList{"「/home/someone/pictures/」 Panteloの画像はフォルダーに入れてください。"});
        QCOMPARE(rawFile(), QByteArrayLiteral("<no file>"));
        // The dialog stays open with the user's changes, so the folder can be corrected.
        QVERIFY(dialog->isVisible());
        QCOMPARE(sliderPositions(*dialog), (QList<int>{10, 5, 5, 5, 9}));

        dialog->folderEdit(slot)->setText("/home/someone/pictures");
        click(control<QPushButton>(*dialog, "OKBtn"));
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QCOMPARE(stored(SettingNames::folder(slot)).section(',', 6, 6), QStringLiteral("/home/someone/pictures"));
        QCOMPARE(stored("Folder0").section(',', 0, 4), QStringLiteral("600,7000,50,70,45"));
        QCOMPARE(m_platform->beeps, 1);
    }

    void twoFailingSlotsGiveTwoMessagesInOrder()
    {
        const auto dialog = openDialog();
        dialog->folderEdit(5)->setText("/b/");
        dialog->folderEdit(1)->setText("/");
        dialog->folderEdit(3)->setText("/fine");
        click(control<QPushButton>(*dialog, "OKBtn"));
        QCOMPARE(m_platform->beeps, 2);
        QCOMPARE(m_dialogs->messages,
                 (QStringList{"「/」 Panteloの画像はフォルダーに入れてください。",
                              "「/b/」 Panteloの画像はフォルダーに入れてください。"}));
        QCOMPARE(rawFile(), QByteArrayLiteral("<no file>"));
        QVERIFY(dialog->isVisible());
    }

    void folderCheck_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("acceptable");
        QTest::newRow("empty") << "" << true;
        QTest::newRow("blanks only") << "   " << true;
        QTest::newRow("control characters only") << "\t\n" << true;
        QTest::newRow("plain folder") << "/home/a/pics" << true;
        QTest::newRow("root") << "/" << false;
        QTest::newRow("ends in separator") << "/home/a/pics/" << false;
        QTest::newRow("blank after final separator") << "/home/a/pics/ " << true;
        QTest::newRow("backslash is an ordinary character here") << "/home/a/pics\\" << true;
    }

    void folderCheck()
    {
        QFETCH(QString, text);
        QFETCH(bool, acceptable);
        QCOMPARE(folderTextAcceptable(text), acceptable);
        const auto dialog = openDialog();
        dialog->folderEdit(2)->setText(text);
        QCOMPARE(dialog->FolderCheck(2), acceptable);
        QCOMPARE(m_platform->beeps, acceptable ? 0 : 1);
        QCOMPARE(m_dialogs->messages.size(), acceptable ? 0 : 1);
    }

    void resetChangesOnlyTheCurrentSlot()
    {
        store("Folder0", "600,7000,50,70,45,clWhite,/zero,/frame0.jpg");
        store("Folder1", "600,7000,50,70,45,clRed,/one,/frame1.jpg");
        store("StartNo", "0");
        const auto dialog = openDialog();
        QCOMPARE(sliderPositions(*dialog), (QList<int>{10, 5, 5, 5, 9}));
        QCOMPARE(clockSampleColor(*dialog), QColor(Qt::white));
        QSignalSpy sampled(dialog.get(), &TSetupForm::sampleChanged);

        click(control<QPushButton>(*dialog, "btnDefault"));
        QCOMPARE(sliderPositions(*dialog), (QList<int>{7, 4, 6, 2, 2}));
        QCOMPARE(control<QLineEdit>(*dialog, "edtGaku")->text(), QString());
        QCOMPARE(clockSampleColor(*dialog), QColor(Qt::black));
        QCOMPARE(sampled.count(), 1);
        QCOMPARE(dialog->sample().frameSize, 450);
        QCOMPARE(dialog->sample().frameWidth, 10);
        QCOMPARE(dialog->sample().clockColor, QStringLiteral("clBlack"));
        QCOMPARE(dialog->sample().framePicture, QString());
        // Stay, slide and move reach the slot only when it is left or confirmed.
        QCOMPARE(dialog->slotValues(0).stayTime, 7000);
        QVERIFY(dialog->reacting());

        click(control<QPushButton>(*dialog, "OKBtn"));
        QCOMPARE(stored("Folder0"), QStringLiteral("450,5000,100,20,10,clBlack,/zero,"));
        QCOMPARE(stored("Folder1"), QStringLiteral("600,7000,50,70,45,clRed,/one,/frame1.jpg"));
    }

    void slotSwitchKeepsEachSlotsValues()
    {
        store("Folder2", "300,1000,2,300,40,clBlue,/two,/f2.bmp");
        const auto dialog = openDialog();
        setSliders(*dialog, {0, 9, 0, 9, 0});
        control<QLineEdit>(*dialog, "edtGaku")->setText("/typed.jpg");
        click(dialog->slotButton(2));
        QVERIFY(dialog->slotButton(2)->isChecked());
        QVERIFY(!dialog->slotButton(0)->isChecked());
        // The chosen slot stands out in bold; the others do not.
        for (int slot = 0; slot < kSlotCount; ++slot)
            QCOMPARE(dialog->slotButton(slot)->font().bold(), slot == 2);
        QCOMPARE(dialog->currentSlot(), 2);
        QCOMPARE(sliderPositions(*dialog), (QList<int>{4, 1, 1, 8, 8}));
        QCOMPARE(control<QLineEdit>(*dialog, "edtGaku")->text(), QStringLiteral("/f2.bmp"));
        QCOMPARE(clockSampleColor(*dialog), QColor(Qt::blue));
        QCOMPARE(control<QLabel>(*dialog, "lblShousai")->text(), QStringLiteral("No.3 詳細設定"));
        const SlotSettings left = dialog->slotValues(0);
        QCOMPARE(left.frameSize, 100);
        QCOMPARE(left.stayTime, 50000);
        QCOMPARE(left.slideInterval, 1);
        QCOMPARE(left.moveAmount, 500);
        QCOMPARE(left.frameWidth, 3);
        QCOMPARE(left.framePicture, QStringLiteral("/typed.jpg"));

        // Pressing the down button again keeps it down and keeps the values.
        setSliders(*dialog, {5, 5, 5, 5, 5});
        click(dialog->slotButton(2));
        QVERIFY(dialog->slotButton(2)->isChecked());
        QCOMPARE(sliderPositions(*dialog), (QList<int>{5, 5, 5, 5, 5}));

        click(control<QPushButton>(*dialog, "OKBtn"));
        QCOMPARE(stored("StartNo"), QStringLiteral("2"));
        QCOMPARE(stored("Folder0"), QStringLiteral("100,50000,1,500,3,clBlack,,/typed.jpg"));
        QCOMPARE(stored("Folder2"), QStringLiteral("350,7000,50,70,25,clBlue,/two,/f2.bmp"));
    }

    void browsingAnotherRowSelectsIt()
    {
        store("StartNo", "1");
        store("Folder3", "600,7000,50,70,45,clRed,/old,/f3.jpg");
        const auto dialog = openDialog();
        QCOMPARE(dialog->currentSlot(), 1);
        setSliders(*dialog, {3, 3, 3, 3, 3});
        m_dialogs->folders.push_back(QStringLiteral("/chosen/pictures"));
        click(dialog->browseButton(3));

        QCOMPARE(dialog->currentSlot(), 3);
        QVERIFY(dialog->slotButton(3)->isChecked());
        QVERIFY(!dialog->slotButton(1)->isChecked());
        QCOMPARE(dialog->folderEdit(3)->text(), QStringLiteral("/chosen/pictures"));
        QCOMPARE(sliderPositions(*dialog), (QList<int>{10, 5, 5, 5, 9}));
        QCOMPARE(control<QLineEdit>(*dialog, "edtGaku")->text(), QStringLiteral("/f3.jpg"));
        QCOMPARE(clockSampleColor(*dialog), QColor(Qt::red));
        QCOMPARE(control<QLabel>(*dialog, "lblShousai")->text(), QStringLiteral("No.4 詳細設定"));
        const SlotSettings two = dialog->slotValues(1);
        QCOMPARE(QList<int>({two.frameSize, two.stayTime, two.slideInterval, two.moveAmount, two.frameWidth}),
                 QList<int>({250, 3000, 10, 30, 15}));
        QVERIFY(dialog->reacting());
    }

    void browsingTheCurrentRowKeepsItsSliders()
    {
        const auto dialog = openDialog();
        setSliders(*dialog, {12, 8, 1, 0, 6});
        m_dialogs->folders.push_back(QStringLiteral("/chosen"));
        click(dialog->browseButton(0));
        QCOMPARE(sliderPositions(*dialog), (QList<int>{12, 8, 1, 0, 6}));
        QCOMPARE(dialog->folderEdit(0)->text(), QStringLiteral("/chosen"));
    }

    void cancelledBrowseChangesNothing()
    {
        const auto dialog = openDialog();
        dialog->folderEdit(4)->setText("/typed");
        click(dialog->browseButton(4)); // no answer: the picker was cancelled
        QCOMPARE(dialog->currentSlot(), 0);
        QCOMPARE(dialog->folderEdit(4)->text(), QStringLiteral("/typed"));
        QVERIFY(dialog->slotButton(0)->isChecked());
    }

    void barSet_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::addColumn<QList<int>>("positions");
        QTest::newRow("all on the scale") << "600,7000,50,70,45,,," << QList<int>{10, 5, 5, 5, 9};
        QTest::newRow("none on the scale") << "475,4000,30,25,12,,," << QList<int>{7, 4, 6, 2, 2};
        QTest::newRow("width 0") << "450,5000,100,20,0,,," << QList<int>{7, 4, 6, 2, 2};
        QTest::newRow("width 46") << "450,5000,100,20,46,,," << QList<int>{7, 4, 6, 2, 2};
        QTest::newRow("smallest") << "100,10,1,1,3,,," << QList<int>{0, 0, 0, 0, 0};
        QTest::newRow("largest") << "1050,50000,1000,500,45,,," << QList<int>{19, 9, 9, 9, 9};
    }

    void barSet()
    {
        QFETCH(QString, slot);
        QFETCH(QList<int>, positions);
        const SlotSettings values = parseSlot(slot, SlotReader::Dialog);
        const SliderPositions p = sliderPositionsFor(values);
        QCOMPARE(QList<int>({p.gakuS, p.stayT, p.slideT, p.moveQ, p.gakuW}), positions);

        store("Folder5", slot);
        const auto dialog = openDialog();
        setSliders(*dialog, {3, 3, 3, 3, 3});
        click(dialog->slotButton(5));
        QCOMPARE(sliderPositions(*dialog), positions);
        // The values stay in the slot until it is left or confirmed.
        QCOMPARE(dialog->slotValues(5).frameSize, values.frameSize);
        QCOMPARE(dialog->sample().frameSize, values.frameSize);
    }

    void chosenColourGoesIntoTheSlot()
    {
        const auto dialog = openDialog();
        QSignalSpy sampled(dialog.get(), &TSetupForm::sampleChanged);
        m_dialogs->colors.push_back(QColor(Qt::red));
        click(control<QPushButton>(*dialog, "btnTime"));
        QCOMPARE(m_dialogs->colorStarts, QList<QColor>{QColor(Qt::black)});
        QCOMPARE(clockSampleColor(*dialog), QColor(Qt::red));
        QCOMPARE(dialog->slotValues(0).clockColor, QStringLiteral("clRed"));
        QCOMPARE(sampled.count(), 1);
        QCOMPARE(dialog->sample().clockColor, QStringLiteral("clRed"));

        // The colour dialog starts where it ended, whatever the next slot holds.
        click(dialog->slotButton(1));
        m_dialogs->colors.push_back(QColor(0x12, 0x34, 0x56));
        click(control<QPushButton>(*dialog, "btnTime"));
        QCOMPARE(m_dialogs->colorStarts.last(), QColor(Qt::red));
        QCOMPARE(dialog->slotValues(1).clockColor, QStringLiteral("$00563412"));

        click(control<QPushButton>(*dialog, "OKBtn"));
        QCOMPARE(stored("Folder0").section(',', 5, 5), QStringLiteral("clRed"));
        QCOMPARE(stored("Folder1").section(',', 5, 5), QStringLiteral("$00563412"));
    }

    void cancelledColourDialogKeepsTheSlot()
    {
        store("Folder0", "450,5000,100,20,10,clWhite,,");
        const auto dialog = openDialog();
        QSignalSpy sampled(dialog.get(), &TSetupForm::sampleChanged);
        click(control<QPushButton>(*dialog, "btnTime"));
        QCOMPARE(clockSampleColor(*dialog), QColor(Qt::white));
        QCOMPARE(dialog->slotValues(0).clockColor, QStringLiteral("clWhite"));
        QCOMPARE(sampled.count(), 1);
        QCOMPARE(dialog->sample().clockColor, QStringLiteral("clWhite"));
        click(control<QPushButton>(*dialog, "OKBtn"));
        QCOMPARE(stored("Folder0").section(',', 5, 5), QStringLiteral("clWhite"));
    }

    void systemColourKeepsItsName()
    {
        store("Folder0", "450,5000,100,20,10,clBtnFace,,");
        const auto dialog = openDialog();
        click(control<QPushButton>(*dialog, "OKBtn"));
        QCOMPARE(stored("Folder0").section(',', 5, 5), QStringLiteral("clBtnFace"));
    }

    void unreadableClockColourShowsAndSavesAsBlack_data()
    {
        QTest::addColumn<bool>("current");
        QTest::addColumn<QString>("written");
        QTest::newRow("presented slot") << true << "clBlack";
        QTest::newRow("slot never selected") << false << "clNotAColour";
    }

    void unreadableClockColourShowsAndSavesAsBlack()
    {
        QFETCH(bool, current);
        QFETCH(QString, written);
        store("Folder2", "450,5000,100,20,10,clNotAColour,,");
        if (current)
            store("StartNo", "2");
        const auto dialog = openDialog();
        if (current)
            QCOMPARE(clockSampleColor(*dialog), QColor(Qt::black));
        click(control<QPushButton>(*dialog, "OKBtn"));
        QCOMPARE(stored("Folder2").section(',', 5, 5), written);
        QVERIFY(m_errors.isEmpty());
    }

    void chosenFramePictureGoesIntoTheSlot()
    {
        const auto dialog = openDialog();
        m_dialogs->framePictures.push_back(QStringLiteral("/frames/gold.jpg"));
        click(control<QPushButton>(*dialog, "btnGaku"));
        QCOMPARE(control<QLineEdit>(*dialog, "edtGaku")->text(), QStringLiteral("/frames/gold.jpg"));
        QCOMPARE(dialog->slotValues(0).framePicture, QStringLiteral("/frames/gold.jpg"));
        QCOMPARE(dialog->sample().framePicture, QStringLiteral("/frames/gold.jpg"));

        click(control<QPushButton>(*dialog, "btnGaku")); // cancelled
        QCOMPARE(m_dialogs->framePictureStarts, (QStringList{QString(), "/frames/gold.jpg"}));
        QCOMPARE(control<QLineEdit>(*dialog, "edtGaku")->text(), QStringLiteral("/frames/gold.jpg"));

        // A frame picture with blanks around it is saved trimmed.
        control<QLineEdit>(*dialog, "edtGaku")->setText("  /frames/gold.jpg ");
        click(control<QPushButton>(*dialog, "OKBtn"));
        QCOMPARE(stored("Folder0"), QStringLiteral("450,5000,100,20,10,clBlack,,/frames/gold.jpg"));
    }

    void sampleIndex_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("expected"); // -1: no picture
        QTest::newRow("first") << 3 << 0 << 0;
        QTest::newRow("last") << 3 << 2 << 2;
        QTest::newRow("after the last") << 3 << 3 << 0;
        QTest::newRow("far beyond the end") << 3 << 17 << 0;
        QTest::newRow("before the first") << 3 << -1 << 2;
        QTest::newRow("empty folder") << 0 << 1 << -1;
    }

    void sampleIndex()
    {
        QFETCH(int, count);
        QFETCH(int, index);
        QFETCH(int, expected);
        QCOMPARE(sampleIndexFor(count, index).value_or(-1), expected);
    }

    void sampleListsTheFolderAsTyped()
    {
        QTemporaryDir pictures;
        for (const char *name : {"b.JPG", "a.bmp", "c.jpeg", "notes.txt"}) {
            QFile file(pictures.filePath(QLatin1String(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        store("Folder0", QStringLiteral("450,5000,100,20,10,clBlack,%1,").arg(pictures.path()));
        const auto dialog = openDialog();
        QCOMPARE(dialog->sample().picture, pictures.filePath("a.bmp"));
        dialog->SampleDisp(2);
        QCOMPARE(dialog->sampleIndex(), 2);
        QCOMPARE(dialog->sample().picture, pictures.filePath("c.jpeg"));
        dialog->SampleDisp(3);
        QCOMPARE(dialog->sampleIndex(), 0);
        dialog->SampleDisp(-1);
        QCOMPARE(dialog->sample().picture, pictures.filePath("c.jpeg"));

        // An empty folder typed into the edit: no picture, the index stays.
        QTemporaryDir empty;
        dialog->folderEdit(0)->setText(empty.path());
        dialog->SampleDisp(0);
        QCOMPARE(dialog->sample().picture, QString());
        QCOMPARE(dialog->sampleIndex(), 2);
    }

    void mailControlsFollowTheCheckBox_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::newRow("stored on") << true;
        QTest::newRow("stored off") << false;
    }

    void mailControlsFollowTheCheckBox()
    {
        QFETCH(bool, stored);
        store("MailCheckF", stored ? "1" : "0");
        store("Host", "pop.example.net");
        store("RoundTime", "3");
        const auto dialog = openDialog();
        for (const char *name : kMailControls)
            QVERIFY2(control<QWidget>(*dialog, name)->isEnabled() == stored, name);
        QVERIFY(!control<QPlainTextEdit>(*dialog, "memStatus")->isVisible());
        QCOMPARE(control<QLineEdit>(*dialog, "edtHost")->text(), QStringLiteral("pop.example.net"));
        QCOMPARE(control<QSpinBox>(*dialog, "speRoundTime")->value(), 5);

        click(control<QCheckBox>(*dialog, "ckbMailCheck"));
        for (const char *name : kMailControls)
            QVERIFY2(control<QWidget>(*dialog, name)->isEnabled() == !stored, name);

        click(control<QPushButton>(*dialog, "OKBtn"));
        QCOMPARE(::stored("MailCheckF"), QString(stored ? "0" : "1"));
        QCOMPARE(::stored("Host"), QStringLiteral("pop.example.net"));
        QCOMPARE(::stored("RoundTime"), QStringLiteral("5"));
    }

    void storeFailureIsReported()
    {
        const auto dialog = openDialog();
        qputenv("XDG_CONFIG_HOME", "/proc/self/no-such-place");
        click(control<QPushButton>(*dialog, "OKBtn"));
        qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit());
        QCOMPARE(m_errors, QStringList{"キー Config の作成に失敗しました"});
        QVERIFY(!dialog->isVisible());
    }

    void captionsFit_data()
    {
        QTest::addColumn<QString>("form");
        QTest::newRow("settings dialog") << "setup";
        QTest::newRow("folder picker") << "folder";
        QTest::newRow("sample window") << "sample";
    }

    // Every caption of the three forms shows whole in the font it is drawn with, and every
    // control that grew for it still lies inside its parent.
    void captionsFit()
    {
        QFETCH(QString, form);
        std::unique_ptr<QWidget> window;
        if (form == "setup")
            window = openDialog();
        else if (form == "folder")
            window = std::make_unique<TFolderForm>();
        else
            window = std::make_unique<TSampleForm>();
        window->show();
        QStringList captions;
        for (const QWidget *control : window->findChildren<QWidget *>()) {
            const int needed = captionWidth(control);
            if (needed == 0 || control->objectName().startsWith("qt_"))
                continue;
            captions << control->objectName();
            QVERIFY2(needed <= control->width(),
                     qPrintable(QString("%1 is %2 wide, its caption needs %3")
                                    .arg(control->objectName())
                                    .arg(control->width())
                                    .arg(needed)));
            QVERIFY2(control->parentWidget()->rect().contains(control->geometry()), qPrintable(control->objectName()));
        }
        QVERIFY(!captions.isEmpty());
        if (form == "setup") {
            for (const char *name :
                 {"lblPhoto", "ckbFitPicture", "ckbAllFormats", "ckbSubFolders", "ckbShuffle", "ckbShowDate"})
                QVERIFY2(captions.contains(name), name);
        }
    }

    void controlsStandWhereTheyBelong_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("hint");
        QTest::newRow("OKBtn") << "OKBtn" << QRect(464, 360, 73, 24) << "終了";
        QTest::newRow("CancelBtn") << "CancelBtn" << QRect(384, 360, 74, 24) << "キャンセル";
        QTest::newRow("edtURL") << "edtURL" << QRect(344, 338, 217, 16) << "最新版が置いてあるURLに飛びます";
        QTest::newRow("ckbOrder") << "ckbOrder" << QRect(8, 28, 273, 17)
                                  << "起動する度に下のフォルダーを順次切り替える";
        QTest::newRow("spbUse3") << "spbUse3" << QRect(8, 109, 41, 19) << "ONで、画像を使用するフォルダに設定";
        QTest::newRow("edtFolder5") << "edtFolder5" << QRect(56, 148, 177, 20) << "画像の入っているフォルダを入力";
        QTest::newRow("btnFolder0") << "btnFolder0" << QRect(240, 49, 41, 19) << "フォルダをダイアログから選択";
        QTest::newRow("edtGaku") << "edtGaku" << QRect(8, 225, 193, 20) << "空欄でデフォルト画像を使用します";
        QTest::newRow("trbGakuW") << "trbGakuW" << QRect(112, 275, 153, 25)
                                  << "額の幅の太さ（2目盛り以下では時間を表示しません）";
        QTest::newRow("trbMoveQ") << "trbMoveQ" << QRect(112, 340, 153, 25) << "画像の移動量";
        QTest::newRow("btnDefault") << "btnDefault" << QRect(8, 365, 273, 20) << "「詳細設定」を初期値に戻す";
        QTest::newRow("medPassword") << "medPassword" << QRect(120, 92, 153, 20)
                                     << "メールサーバーに入るためのパスワード";
        QTest::newRow("ckbFitPicture") << "ckbFitPicture" << QRect(8, 28, 273, 17)
                                       << "大きな写真は縮めて、額の中に全体を表示します";
        QTest::newRow("ckbShowDate") << "ckbShowDate" << QRect(8, 96, 273, 17)
                                     << "写真の撮影日を額の上の縁に表示します";
        QTest::newRow("memStatus") << "memStatus" << QRect(8, 48, 273, 89) << "「+OK」が付けば成功です";
    }

    void controlsStandWhereTheyBelong()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, hint);
        const auto dialog = openDialog();
        const QWidget *widget = dialog->findChild<QWidget *>(name);
        QVERIFY(widget);
        QCOMPARE(widget->geometry(), geometry);
        QCOMPARE(widget->toolTip(), hint);
    }

    void tabOrder_data()
    {
        QTest::addColumn<bool>("mailCheck");
        QTest::newRow("mail check off") << false;
        QTest::newRow("mail check on") << true;
    }

    void tabOrder()
    {
        QFETCH(bool, mailCheck);
        store("MailCheckF", mailCheck ? "1" : "0");
        const auto dialog = openDialog();
        QStringList expected{"OKBtn", "CancelBtn"};
        for (int i = 0; i < kSlotCount; ++i)
            expected << QStringLiteral("edtFolder%1").arg(i) << QStringLiteral("btnFolder%1").arg(i);
        expected << "ckbOrder"
                 << "trbSlideT"
                 << "trbStayT"
                 << "trbMoveQ"
                 << "trbGakuS"
                 << "btnGaku"
                 << "btnTime"
                 << "edtGaku"
                 << "trbGakuW"
                 << "Button1"
                 << "Button2"
                 << "btnDefault";
        // The mail rows are disabled until the box is ticked; the memo is hidden.
        if (mailCheck)
            expected << "edtHost"
                     << "edtUserID"
                     << "medPassword"
                     << "speRoundTime"
                     << "btnMailCheck";
        expected << "ckbMailCheck"
                 << "ckbFitPicture"
                 << "ckbAllFormats"
                 << "ckbSubFolders"
                 << "ckbShuffle"
                 << "ckbShowDate"
                 << "edtURL"
                 << "OKBtn";
        QWidget *widget = control<QWidget>(*dialog, "OKBtn");
        QStringList chain;
        for (int i = 0; i < expected.size(); ++i) {
            chain << widget->objectName();
            widget = widget->nextInFocusChain();
            while (widget->focusPolicy() == Qt::NoFocus || !widget->isEnabled() || !widget->isVisible()
                   || widget->objectName().startsWith("qt_"))
                widget = widget->nextInFocusChain();
        }
        QCOMPARE(chain, expected);
    }

    void japaneseFontsAreSubstituted()
    {
        const auto dialog = openDialog();
        const QLabel *heading = control<QLabel>(*dialog, "lblShousai");
        QCOMPARE(heading->font().pixelSize(), 12);
        QVERIFY2(QFontInfo(heading->font()).family().startsWith("IPA"),
                 qPrintable(QFontInfo(heading->font()).family()));
        QVERIFY(QFontMetrics(heading->font()).inFontUcs4(U'詳'));
        const QLabel *clock = control<QLabel>(*dialog, "lblTime");
        QCOMPARE(clock->font().pixelSize(), 16);
        QCOMPARE(QFontInfo(clock->font()).family(), QStringLiteral("IPAGothic"));
    }

    void folderPickerWalksTheTree()
    {
        QTemporaryDir tree;
        QVERIFY(QDir(tree.path()).mkpath("Beta/inner"));
        QVERIFY(QDir(tree.path()).mkpath("alpha"));
        const QString top = QDir(tree.path()).canonicalPath();
        QVERIFY(QDir::setCurrent(top));

        TFolderForm picker;
        QCOMPARE(picker.windowTitle(), QStringLiteral("フォルダ名指定"));
        QCOMPARE(picker.size(), QSize(271, 329));
        QCOMPARE(picker.folder(), top);
        const QStringList entries = picker.entries();
        QCOMPARE(entries.mid(entries.size() - 2), (QStringList{top + "/alpha", top + "/Beta"}));
        QCOMPARE(entries.at(entries.size() - 3), top);
        // The rows start at the root of the file system the directory lies on.
        QVERIFY2(top.startsWith(entries.first()), qPrintable(entries.first()));

        // A double click enters the directory and moves the process there.
        auto *list = control<QListWidget>(picker, "DirectoryListBox");
        picker.show();
        QVERIFY(QTest::qWaitForWindowExposed(&picker));
        QListWidgetItem *beta = list->item(picker.entryRow(top + "/Beta"));
        const QPoint spot = list->visualItemRect(beta).center();
        QTest::mousePress(list->viewport(), Qt::LeftButton, {}, spot);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, spot);
        QCOMPARE(picker.folder(), top + "/Beta");
        QCOMPARE(QDir::currentPath(), top + "/Beta");
        QCOMPARE(picker.entries().last(), top + "/Beta/inner");
        QCOMPARE(control<QLineEdit>(picker, "edtFolder")->text(), top + "/Beta");

        // A directory that has gone is reported and the picker stays where it was.
        QVERIFY(QDir(top + "/Beta/inner").removeRecursively());
        QVERIFY(!picker.setDirectory(top + "/Beta/inner"));
        QCOMPARE(m_errors.size(), 1);
        QCOMPARE(picker.folder(), top + "/Beta");

        // The next picker starts where this one ended; its parent row leads back up.
        TFolderForm next;
        QCOMPARE(next.folder(), top + "/Beta");
        QVERIFY(next.entryRow(top) >= 0);
        QVERIFY(next.setDirectory(top));
        QCOMPARE(next.folder(), top);
    }

    void browsingWithTheRealPicker()
    {
        QTemporaryDir tree;
        QVERIFY(QDir(tree.path()).mkpath("pictures"));
        const QString chosen = QDir(tree.path()).canonicalPath() + "/pictures";
        QVERIFY(QDir::setCurrent(chosen));
        store("StartNo", "1");
        TSetupForm dialog; // the program's own dialogs
        dialog.show();
        setSliders(dialog, {3, 3, 3, 3, 3});

        // Confirm the picker as soon as it runs.
        QTimer::singleShot(0, this, [] {
            const auto picker = qobject_cast<TFolderForm *>(QApplication::activeModalWidget());
            if (picker)
                click(control<QPushButton>(*picker, "btnOk"));
        });
        click(dialog.browseButton(3));
        QCOMPARE(dialog.folderEdit(3)->text(), chosen);
        QCOMPARE(dialog.currentSlot(), 3);
        QCOMPARE(dialog.slotValues(1).frameSize, 250);

        QTimer::singleShot(0, this, [] {
            const auto picker = qobject_cast<TFolderForm *>(QApplication::activeModalWidget());
            if (picker)
                click(control<QPushButton>(*picker, "btnCansel"));
        });
        click(dialog.browseButton(5));
        QCOMPARE(dialog.folderEdit(5)->text(), QString());
        QCOMPARE(dialog.currentSlot(), 3);
    }

    void realFileDialogShowsAPreview()
    {
        QTemporaryDir folder;
        const QString picture = QDir(folder.path()).canonicalPath() + "/Frame.JPG";
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(picture, "JPEG"));

        QStringList filters;
        bool nonNative = false;
        bool preselectedShown = false;
        QStringList squeezedColumns;
        bool previewShown = false;
        bool previewClearedForOtherFiles = false;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            filters = dialog->nameFilters();
            nonNative = dialog->testOption(QFileDialog::DontUseNativeDialog);
            if (auto *preview = dialog->findChild<QLabel *>("picturePreview")) {
                preselectedShown = !preview->pixmap().isNull();
                emit dialog->currentChanged(picture);
                previewShown = !preview->pixmap().isNull();
                emit dialog->currentChanged(folder.path());
                previewClearedForOtherFiles = preview->pixmap().isNull();
            }
            if (const auto *files = dialog->findChild<QTreeView *>("treeView")) {
                const QHeaderView *header = files->header();
                for (int column = 1; column < header->count(); ++column)
                    if (header->sectionSize(column) < header->sectionSizeHint(column))
                        squeezedColumns << files->model()->headerData(column, Qt::Horizontal).toString();
            }
            dialog->setDirectory(folder.path());
            dialog->selectFile(picture);
            static_cast<QDialog *>(dialog)->accept(); // QFileDialog::accept checks the file
        });
        const std::optional<QString> chosen = makeSystemSetupDialogs()->chooseFramePicture(nullptr, picture);
        QCOMPARE(filters, QStringList{"画像ファイル (*.bmp *.jpg *.jpeg)"});
        QVERIFY(nonNative);
        QVERIFY2(preselectedShown, "the last chosen picture is previewed when the dialog opens");
        QVERIFY2(squeezedColumns.isEmpty(), qPrintable(squeezedColumns.join(", ")));
        QVERIFY(previewShown);
        QVERIFY(previewClearedForOtherFiles);
        QCOMPARE(chosen.value_or("<cancelled>"), picture);
    }

    void realColourDialogStartsWithTheLastChoice()
    {
        TSetupForm dialog; // the program's own dialogs
        dialog.show();
        QList<QColor> starts;
        const auto answer = [&](const QColor &color) {
            QTimer::singleShot(0, this, [&starts, color] {
                auto *colours = qobject_cast<QColorDialog *>(QApplication::activeModalWidget());
                if (!colours)
                    return;
                starts << colours->currentColor();
                colours->setCurrentColor(color);
                colours->accept();
            });
        };
        answer(Qt::red);
        click(control<QPushButton>(dialog, "btnTime"));
        answer(Qt::blue);
        click(control<QPushButton>(dialog, "btnTime"));
        QCOMPARE(starts, (QList<QColor>{Qt::black, Qt::red}));
        QCOMPARE(dialog.slotValues(0).clockColor, QStringLiteral("clBlue"));
    }

    // Runs last: the translation stays installed for the rest of the program.
    void standardDialogsSpeakJapanese()
    {
        if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_ja.qm"))
            QSKIP("Qt's Japanese translation is not installed");
        QVERIFY(installQtJapaneseTranslation());
        const QColorDialog colours;
        QVERIFY2(colours.windowTitle() != "Select Color", qPrintable(colours.windowTitle()));
    }
};

QTEST_MAIN(TestSetup)
#include "tst_setup.moc"
