#include "platform/Exception.h"
#include "settings/ColorText.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsText.h"
#include "settings/SlotSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

class TestSettings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;

    static void writeRawFile(const QByteArray &content)
    {
        SettingsStore store; // makes the folder
        QFile file(SettingsStore::filePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.flush();
        // A hand edit comes at its own time; QSettings notices a changed file by its
        // size and time, so give each edit of these tests a time of its own.
        static int edits = 0;
        file.setFileTime(QDateTime::currentDateTime().addSecs(++edits), QFileDevice::FileModificationTime);
    }

    static QByteArray rawFile()
    {
        QFile file(SettingsStore::filePath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return file.readAll();
    }

private slots:
    void init()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit());
        QFile::remove(SettingsStore::filePath());
    }

    void integerParse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("value");
        QTest::newRow("decimal") << "450" << true << 450;
        QTest::newRow("leading spaces") << "   12" << true << 12;
        QTest::newRow("plus") << "+7" << true << 7;
        QTest::newRow("minus") << "-7" << true << -7;
        QTest::newRow("dollar hex") << "$1F" << true << 31;
        QTest::newRow("x hex") << "x1f" << true << 31;
        QTest::newRow("X hex") << "X1F" << true << 31;
        QTest::newRow("0x hex") << "0x1a2b" << true << 0x1a2b;
        QTest::newRow("0X hex") << "0X1A2B" << true << 0x1a2b;
        QTest::newRow("negative hex") << "-$10" << true << -16;
        QTest::newRow("full 32-bit hex") << "$FFFFFFFF" << true << -1;
        QTest::newRow("system colour") << "$80000005" << true << int(0x80000005u);
        QTest::newRow("int max") << "2147483647" << true << 2147483647;
        QTest::newRow("int min") << "-2147483648" << true << int(-2147483647 - 1);
        QTest::newRow("too large") << "2147483648" << false << 0;
        QTest::newRow("hex too large") << "$100000000" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("only sign") << "-" << false << 0;
        QTest::newRow("only prefix") << "$" << false << 0;
        QTest::newRow("trailing space") << "12 " << false << 0;
        QTest::newRow("space after sign") << "- 12" << false << 0;
        QTest::newRow("letters") << "abc" << false << 0;
        QTest::newRow("hex digit in decimal") << "12a" << false << 0;
        QTest::newRow("line end attached") << "3\r\n" << false << 0;
        QTest::newRow("many zeros") << "0000000000000000000042" << true << 42;
    }

    void integerParse()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, value);
        const auto parsed = parseInteger(text);
        QCOMPARE(parsed.has_value(), ok);
        if (ok)
            QCOMPARE(*parsed, value);
    }

    void split_data()
    {
        QTest::addColumn<QString>("packed");
        QTest::addColumn<int>("k");
        QTest::addColumn<QString>("field");
        QTest::newRow("first") << "450,5000,100,20,10,,," << 1 << "450";
        QTest::newRow("fifth") << "450,5000,100,20,10,,," << 5 << "10";
        QTest::newRow("empty sixth") << "450,5000,100,20,10,,," << 6 << "";
        QTest::newRow("eighth of default") << "450,5000,100,20,10,,," << 8 << "";
        QTest::newRow("last piece counts") << "a,b,c" << 3 << "c";
        QTest::newRow("past the end") << "a,b,c" << 4 << "";
        QTest::newRow("empty text, field 1") << "" << 1 << "";
        QTest::newRow("no trimming") << " a , b" << 2 << " b";
    }

    void split()
    {
        QFETCH(QString, packed);
        QFETCH(int, k);
        QFETCH(QString, field);
        QCOMPARE(Split(packed, k), field);
    }

    void parseSlotFields_data()
    {
        QTest::addColumn<QString>("packed");
        QTest::addColumn<int>("reader"); // 0 dialog, 1 show window
        QTest::addColumn<QList<int>>("numbers");
        QTest::addColumn<QString>("color");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("picture");
        const QList<int> defaults{450, 5000, 100, 20, 10};
        QTest::newRow("default text") << "450,5000,100,20,10,,," << 0 << defaults << "clBlack"
                                      << ""
                                      << "";
        QTest::newRow("one field") << "600" << 0 << QList<int>{600, 5000, 100, 20, 10} << "clBlack"
                                   << ""
                                   << "";
        QTest::newRow("comma in folder") << "450,5000,100,20,10,clRed,/home/a,b/pics,/f.bmp" << 0 << defaults << "clRed"
                                         << "/home/a"
                                         << "b/pics";
        QTest::newRow("nine fields") << "1,2,3,4,5,clWhite,/p,/g.jpg,extra" << 1 << QList<int>{1, 2, 3, 4, 5}
                                     << "clWhite"
                                     << "/p"
                                     << "/g.jpg";
        QTest::newRow("not numbers") << "big,x,,-,$,c,d,e" << 1 << defaults << "c"
                                     << "d"
                                     << "e";
        QTest::newRow("blank colour, dialog") << "450,5000,100,20,10,  ,," << 0 << defaults << "  "
                                              << ""
                                              << "";
        QTest::newRow("blank colour, show") << "450,5000,100,20,10,  ,," << 1 << defaults << "clBlack"
                                            << ""
                                            << "";
        QTest::newRow("untrimmed colour, show") << "450,5000,100,20,10, clRed,," << 1 << defaults << " clRed"
                                                << ""
                                                << "";
        QTest::newRow("blank folder kept") << "450,5000,100,20,10,, , " << 1 << defaults << "clBlack"
                                           << " "
                                           << " ";
    }

    void parseSlotFields()
    {
        QFETCH(QString, packed);
        QFETCH(int, reader);
        QFETCH(QList<int>, numbers);
        QFETCH(QString, color);
        QFETCH(QString, folder);
        QFETCH(QString, picture);
        const SlotSettings s = parseSlot(packed, reader == 0 ? SlotReader::Dialog : SlotReader::ShowWindow);
        QCOMPARE((QList<int>{s.frameSize, s.stayTime, s.slideInterval, s.moveAmount, s.frameWidth}), numbers);
        QCOMPARE(s.clockColor, color);
        QCOMPARE(s.folderPath, folder);
        QCOMPARE(s.framePicture, picture);
    }

    void joinSlotIsEightFields()
    {
        const QString joined = JoinSlot(parseSlot("600", SlotReader::Dialog));
        QCOMPARE(joined, QStringLiteral("600,5000,100,20,10,clBlack,,"));
        QCOMPARE(joined.count(QLatin1Char(',')), 7);
        QCOMPARE(JoinSlot(1, 2, 3, 4, 5, "$0000FF80", "/a b", "/c.jpg"),
                 QStringLiteral("1,2,3,4,5,$0000FF80,/a b,/c.jpg"));
    }

    void sliderScale_data()
    {
        QTest::addColumn<int>("block");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("position");
        QTest::newRow("frame 600") << int(ScaleBlock::FrameSize) << 600 << 10;
        QTest::newRow("stay 7000") << int(ScaleBlock::StayTime) << 7000 << 5;
        QTest::newRow("slide 50") << int(ScaleBlock::SlideInterval) << 50 << 5;
        QTest::newRow("move 70") << int(ScaleBlock::MoveAmount) << 70 << 5;
        QTest::newRow("width 45") << int(ScaleBlock::FrameWidth) << 45 << 9;
        QTest::newRow("frame 475 off scale") << int(ScaleBlock::FrameSize) << 475 << 7;
        QTest::newRow("stay 4000 off scale") << int(ScaleBlock::StayTime) << 4000 << 4;
        QTest::newRow("slide 30 off scale") << int(ScaleBlock::SlideInterval) << 30 << 6;
        QTest::newRow("move 25 off scale") << int(ScaleBlock::MoveAmount) << 25 << 2;
        QTest::newRow("width 12 off scale") << int(ScaleBlock::FrameWidth) << 12 << 2;
        QTest::newRow("width 0") << int(ScaleBlock::FrameWidth) << 0 << 2;
        QTest::newRow("width 46") << int(ScaleBlock::FrameWidth) << 46 << 2;
        QTest::newRow("frame 1050") << int(ScaleBlock::FrameSize) << 1050 << 19;
    }

    void sliderScale()
    {
        QFETCH(int, block);
        QFETCH(int, value);
        QFETCH(int, position);
        QCOMPARE(scalePosition(ScaleBlock(block), value), position);
    }

    void sliderScaleTable()
    {
        QCOMPARE(kSliderScale.size(), size_t(60));
        for (int p = 0; p < 20; ++p)
            QCOMPARE(scaleValue(ScaleBlock::FrameSize, p), 100 + 50 * p);
        // The defaults sit at the reset positions.
        QCOMPARE(scaleValue(ScaleBlock::FrameSize, 7), 450);
        QCOMPARE(scaleValue(ScaleBlock::StayTime, 4), 5000);
        QCOMPARE(scaleValue(ScaleBlock::SlideInterval, 6), 100);
        QCOMPARE(scaleValue(ScaleBlock::MoveAmount, 2), 20);
        QCOMPARE(scaleValue(ScaleBlock::FrameWidth, 2), 10);
        // A default off its scale would send the reset button to position 0.
        for (const SlotNumber &n : kSlotNumbers)
            QCOMPARE(scaleValue(n.block, resetPosition(n.block)), n.defaultValue);
    }

    void colorText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<uint>("value");
        QTest::addColumn<QString>("written");
        QTest::newRow("name") << "clRed" << true << 0x0000FFu << "clRed";
        QTest::newRow("name, any case") << "CLred" << true << 0x0000FFu << "clRed";
        QTest::newRow("light green") << "$0000FF80" << true << 0x0000FF80u << "$0000FF80";
        QTest::newRow("light green, lower case") << "$0000ff80" << true << 0x0000FF80u << "$0000FF80";
        QTest::newRow("light green, decimal") << "65408" << true << 0x0000FF80u << "$0000FF80";
        QTest::newRow("number of a name") << "$00FFFF" << true << 0x00FFFFu << "clYellow";
        QTest::newRow("system colour") << "clBtnFace" << true << 0x8000000Fu << "clBtnFace";
        QTest::newRow("clNone") << "clNone" << true << 0x1FFFFFFFu << "clNone";
        QTest::newRow("small value pads") << "$5" << true << 5u << "$00000005";
        QTest::newRow("neither") << "sunset" << false << 0u << "";
    }

    void colorText()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(uint, value);
        QFETCH(QString, written);
        const auto color = stringToColor(text);
        QCOMPARE(color.has_value(), ok);
        if (!ok) {
            QCOMPARE(clockColorOf(text), clBlack);
            return;
        }
        QCOMPARE(*color, ColorValue(value));
        QCOMPARE(colorToString(*color), written);
    }

    void colorTableRoundTrips()
    {
        QCOMPARE(colorNameCount(), 42);
        for (int i = 0; i < colorNameCount(); ++i) {
            QCOMPARE(colorToString(colorValueAt(i)), colorNameAt(i));
            QCOMPARE(stringToColor(colorNameAt(i)), std::optional<ColorValue>(colorValueAt(i)));
        }
        QCOMPARE(toQColor(0x0000FF80), QColor(0x80, 0xFF, 0x00));
        QCOMPARE(fromQColor(QColor(0x80, 0xFF, 0x00)), ColorValue(0x0000FF80));
        QCOMPARE(toQColor(*stringToColor("clBtnFace")), QColor(192, 192, 192));
    }

    void emptyStoreReadsDefaults()
    {
        const StoredSettings s = readSettings(SettingsStore());
        QCOMPARE(s.orderF, false);
        for (const QString &folder : s.folders)
            QCOMPARE(folder, QStringLiteral("450,5000,100,20,10,,,"));
        QCOMPARE(s.startNo, 0);
        QVERIFY(s.host.isEmpty() && s.userId.isEmpty() && s.password.isEmpty());
        QCOMPARE(s.roundTime, 15);
        QCOMPARE(s.mailCheckF, false);
        QCOMPARE(s.photo, PhotoOptions{});
        QVERIFY2(!QFile::exists(SettingsStore::filePath()), "reading must not write the file");
    }

    void roundTripFieldForField()
    {
        StoredSettings s;
        s.orderF = true;
        for (int i = 0; i < kSlotCount; ++i)
            s.folders[size_t(i)]
                = JoinSlot(100 + i, 10, 1, 500, 45, "$0000FF80", QStringLiteral("/p/ä;=\"@\\ %1").arg(i), " /g.jpg");
        s.startNo = 4;
        s.host = "mail.example.org";
        s.userId = "  user, with comma";
        s.password = "p@ss=word;\"x\"";
        s.roundTime = 2;
        s.mailCheckF = true;
        s.photo.fitPicture = true;
        s.photo.shuffle = true;
        {
            SettingsStore store;
            writeSettings(store, s);
        }
        const StoredSettings r = readSettings(SettingsStore());
        QCOMPARE(r.orderF, s.orderF);
        QCOMPARE(r.folders, s.folders);
        QCOMPARE(r.startNo, s.startNo);
        QCOMPARE(r.host, s.host);
        QCOMPARE(r.userId, s.userId);
        QCOMPARE(r.password, s.password);
        QCOMPARE(r.roundTime, s.roundTime);
        QCOMPARE(r.mailCheckF, s.mailCheckF);
        QCOMPARE(r.photo, s.photo);
        // Every value is stored as text: booleans as 1 / 0, integers in decimal.
        const QByteArray raw = rawFile();
        QVERIFY2(raw.contains("OrderF=1"), raw.constData());
        QVERIFY2(raw.contains("StartNo=4"), raw.constData());
        QVERIFY2(raw.contains("RoundTime=2"), raw.constData());
        for (const char *line : {"FitPicture=1", "AllFormats=0", "SubFolders=0", "Shuffle=1", "ShowDate=0"})
            QVERIFY2(raw.contains(line), raw.constData());
    }

    void photoOptions_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<bool>("on");
        QTest::newRow("absent") << QByteArray() << false;
        QTest::newRow("1") << QByteArray("1") << true;
        QTest::newRow("quoted 1") << QByteArray("\"1\"") << true;
        QTest::newRow("0") << QByteArray("0") << false;
        QTest::newRow("yes") << QByteArray("yes") << false;
        QTest::newRow("leading blank") << QByteArray("\" 1\"") << false;
        QTest::newRow("2") << QByteArray("2") << false;
        QTest::newRow("hex") << QByteArray("$1") << false;
        QTest::newRow("empty") << QByteArray("\"\"") << false;
    }

    // Only "1" turns an option on, unlike the design's booleans, for which "2" is true.
    void photoOptions()
    {
        QFETCH(QByteArray, stored);
        QFETCH(bool, on);
        QByteArray content = "[Config]\nStartNo=3\n";
        for (const SettingNames::PhotoOptionName &option : SettingNames::kPhotoOptions) {
            if (!stored.isEmpty())
                content += option.name.toLatin1() + '=' + stored + '\n';
        }
        writeRawFile(content);
        const StoredSettings s = readSettings(SettingsStore());
        for (const SettingNames::PhotoOptionName &option : SettingNames::kPhotoOptions)
            QVERIFY2(s.photo.*option.flag == on, qPrintable(option.name));
        QCOMPARE(s.startNo, 3);
        QCOMPARE(readPhotoOptions(SettingsStore()), s.photo);
    }

    void privateFileModes()
    {
        SettingsStore store;
        store.WriteString("Config", "Password", "secret");
        QCOMPARE(QFileInfo(SettingsStore::filePath()).permissions() & 0x0777, QFile::ReadUser | QFile::WriteUser);
        for (int i = 0; i < 100; ++i)
            store.WriteInteger("Config", "StartNo", i % 6);
        const QFileInfo file(SettingsStore::filePath());
        QCOMPARE(file.permissions() & 0x0777, QFile::ReadUser | QFile::WriteUser);
        QCOMPARE(QFileInfo(file.absolutePath()).permissions() & 0x0777,
                 QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
    }

    void handWrittenValues_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("unquoted commas keep every field") << QByteArray("Folder0=600,7000") << "Folder0"
                                                          << "600,7000";
        QTest::newRow("unquoted full slot") << QByteArray("Folder1=600,7000,50,70,45,clRed,/pics,") << "Folder1"
                                            << "600,7000,50,70,45,clRed,/pics,";
        QTest::newRow("quoted") << QByteArray("Host=\"a,b\"") << "Host"
                                << "a,b";
        QTest::newRow("empty") << QByteArray("Host=") << "Host"
                               << "";
    }

    void handWrittenValues()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        writeRawFile("[Config]\n" + line + "\n");
        QCOMPARE(SettingsStore().ReadString("Config", name, "default"), expected);
    }

    void booleansAndIntegers_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<bool>("asBoolDefaultFalse");
        QTest::addColumn<bool>("asBoolDefaultTrue");
        QTest::addColumn<int>("asIntDefault15");
        QTest::newRow("2") << QByteArray("2") << true << true << 2;
        QTest::newRow("0") << QByteArray("0") << false << false << 0;
        QTest::newRow("text") << QByteArray("yes") << false << true << 15;
        QTest::newRow("hex") << QByteArray("$10") << true << true << 16;
        QTest::newRow("trailing blank") << QByteArray("\"5 \"") << false << true << 15;
    }

    void booleansAndIntegers()
    {
        QFETCH(QByteArray, stored);
        QFETCH(bool, asBoolDefaultFalse);
        QFETCH(bool, asBoolDefaultTrue);
        QFETCH(int, asIntDefault15);
        writeRawFile("[Config]\nV=" + stored + "\n");
        SettingsStore store;
        QCOMPARE(store.ReadBool("Config", "V", false), asBoolDefaultFalse);
        QCOMPARE(store.ReadBool("Config", "V", true), asBoolDefaultTrue);
        QCOMPARE(store.ReadInteger("Config", "V", 15), asIntDefault15);
    }

    void startNoOutOfRangeSelectsSlotZero()
    {
        writeRawFile("[Config]\nStartNo=9\n");
        const StoredSettings s = readSettings(SettingsStore());
        QCOMPARE(s.startNo, 9);
        QCOMPARE(s.slotIndex(), 0);
    }

    void rotation_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QList<int>>("sequence");
        QTest::newRow("slots 0 and 3") << 5 << QStringList{"/a", "", "", "/d", "", ""} << QList<int>{0, 3, 0, 3};
        QTest::newRow("all empty") << 2 << QStringList{"", "", "", "", "", ""} << QList<int>{2, 2, 2};
        QTest::newRow("only the stored one") << 4 << QStringList{"", "", "", "", "/e", ""} << QList<int>{4, 4};
        QTest::newRow("blanks count as used") << 0 << QStringList{"", "", " ", "", "", ""} << QList<int>{2, 2};
        QTest::newRow("every slot") << 4 << QStringList{"1", "2", "3", "4", "5", "6"} << QList<int>{5, 0, 1};
    }

    void rotation()
    {
        QFETCH(int, start);
        QFETCH(QStringList, folders);
        QFETCH(QList<int>, sequence);
        {
            SettingsStore store;
            store.WriteInteger("Config", "StartNo", start);
            store.WriteBool("Config", "OrderF", true);
            for (int i = 0; i < kSlotCount; ++i)
                store.WriteString("Config", SettingNames::folder(i),
                                  JoinSlot(450, 5000, 100, 20, 10, "clBlack", folders[i], ""));
        }
        // Each start of the show window reads, rotates and writes StartNo back.
        for (int expected : sequence) {
            const StoredSettings s = readSettings(SettingsStore());
            const int next = RotateStartNo(s.startNo, s.folderPaths());
            SettingsStore().WriteInteger("Config", "StartNo", next);
            QCOMPARE(next, expected);
            QVERIFY(rawFile().contains("StartNo=" + QByteArray::number(expected)));
        }
    }

    void sectionCannotBeCreated()
    {
        // A settings folder that cannot exist, even for root.
        qputenv("XDG_CONFIG_HOME", "/proc/self/no-such-place");
        SettingsStore store;
        try {
            store.WriteString("Config", "Host", "x");
            QFAIL("the write must raise");
        } catch (const Exception &e) {
            QCOMPARE(e.message(), QStringLiteral("キー Config の作成に失敗しました"));
        }
    }

    void failedWriteStopsTheSave()
    {
        // Make the file unable to grow past what the first two values need, so that a
        // later write fails the way a full or read-only disk makes it fail (root ignores
        // file modes, so a read-only file would not do).
        {
            SettingsStore store;
            store.WriteBool("Config", "OrderF", false);
        }
        const qint64 sizeWithOrderF = QFileInfo(SettingsStore::filePath()).size();
        const struct sigaction ignore
        {
        };
        struct sigaction previous
        {};
        struct sigaction act = ignore;
        act.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &act, &previous);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limit = old;
        limit.rlim_cur = rlim_t(sizeWithOrderF + 250); // room for Folder0 only
        setrlimit(RLIMIT_FSIZE, &limit);

        StoredSettings s;
        s.orderF = true;
        for (QString &folder : s.folders)
            folder = JoinSlot(450, 5000, 100, 20, 10, "clBlack", "/pictures/" + QString(150, 'x'), "");
        QString message;
        try {
            SettingsStore store;
            writeSettings(store, s);
        } catch (const Exception &e) {
            message = e.message();
        }
        setrlimit(RLIMIT_FSIZE, &old);
        sigaction(SIGXFSZ, &previous, nullptr);

        QCOMPARE(message, QStringLiteral("'Folder1' の設定に失敗しました"));
        const QByteArray raw = rawFile();
        QVERIFY2(raw.contains("Folder0="), raw.constData());
        QVERIFY2(!raw.contains("Folder2"), raw.constData());
        QVERIFY2(!raw.contains("RoundTime"), raw.constData());
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
