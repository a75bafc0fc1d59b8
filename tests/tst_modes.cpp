#include "app/Modes.h"
#include "platform/FakePlatform.h"
#include "platform/PreviewParent.h"

#include <QProcess>
#include <QtTest>

Q_DECLARE_METATYPE(Mode)

class TestModes : public QObject
{
    Q_OBJECT

private slots:
    void dispatch_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("modeText");
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<uint>("parent");
        QTest::newRow("/s") << QStringList{"/s"} << "/S" << Mode::Run << 0u;
        QTest::newRow("/S") << QStringList{"/S"} << "/S" << Mode::Run << 0u;
        QTest::newRow("-s") << QStringList{"-s"} << "-S" << Mode::Run << 0u;
        QTest::newRow("/x") << QStringList{"/x"} << "/X" << Mode::Run << 0u;
        QTest::newRow("lone S") << QStringList{"S"} << "S" << Mode::Run << 0u;
        QTest::newRow("-root") << QStringList{"-root"} << "-ROOT" << Mode::Run << 0u;
        QTest::newRow("/c:1234") << QStringList{"/c:1234"} << "/C:1234" << Mode::Settings << 0u;
        QTest::newRow("/C 1234") << QStringList{"/C", "1234"} << "/C" << Mode::Settings << 0u;
        QTest::newRow("no arguments") << QStringList{} << "/C" << Mode::Settings << 0u;
        QTest::newRow("empty argument") << QStringList{""} << "" << Mode::Settings << 0u;
        QTest::newRow("/p 4242") << QStringList{"/p", "4242"} << "/P" << Mode::Preview << 4242u;
        QTest::newRow("/p abc") << QStringList{"/p", "abc"} << "/P" << Mode::Preview << 0u;
        QTest::newRow("/p alone") << QStringList{"/p"} << "/P" << Mode::Preview << 0u;
        QTest::newRow("/p 0x1a2b") << QStringList{"/p", "0x1a2b"} << "/P" << Mode::Preview << 0x1a2bu;
        QTest::newRow("/p x-id 0x3a00007") << QStringList{"/p", "0x3a00007"} << "/P" << Mode::Preview << 0x3a00007u;
        QTest::newRow("/a") << QStringList{"/a"} << "/A" << Mode::PasswordChange << 0u;
        QTest::newRow("/a 77") << QStringList{"/a", "77"} << "/A" << Mode::PasswordChange << 77u;
        QTest::newRow("only ASCII upper-cased") << QStringList{"/ß"} << "/ß" << Mode::Run << 0u;
        QTest::newRow("second argument ignored in run") << QStringList{"/s", "99"} << "/S" << Mode::Run << 0u;
    }

    void dispatch()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, modeText);
        QFETCH(Mode, mode);
        QFETCH(uint, parent);
        const ModeChoice choice = chooseMode(arguments);
        QCOMPARE(choice.modeText, modeText);
        QCOMPARE(choice.mode, mode);
        QCOMPARE(choice.previewParent, quint32(parent));
    }

    void passwordChangeCallsTheLibrary_data()
    {
        QTest::addColumn<bool>("libraryPresent");
        QTest::addColumn<QList<quint32>>("calls");
        QTest::newRow("library present") << true << QList<quint32>{77};
        QTest::newRow("library missing") << false << QList<quint32>{};
    }

    void passwordChangeCallsTheLibrary()
    {
        QFETCH(bool, libraryPresent);
        QFETCH(QList<quint32>, calls);
        FakePlatform &fake = FakePlatform::installFake();
        fake.changerLibraryPresent = libraryPresent;
        int argc = 0;
        QCOMPARE(runMode(chooseMode({"/a", "77"}), argc, nullptr), 0);
        QCOMPARE(fake.changeOwners, calls);
        QCOMPARE(previewParent(), 77u);
    }

    void passwordChangeModeEndsAtOnce()
    {
        const QString binary = qEnvironmentVariable("PANTEL_BINARY");
        if (binary.isEmpty())
            QSKIP("PANTEL_BINARY is not set");
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.insert("QT_QPA_PLATFORM", "xcb"); // no display: a window would fail to start
        process.setProcessEnvironment(env);
        process.start(binary, {"/a"});
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QVERIFY2(process.readAllStandardError().isEmpty(), "nothing is reported");
    }
};

QTEST_GUILESS_MAIN(TestModes)
#include "tst_modes.moc"
