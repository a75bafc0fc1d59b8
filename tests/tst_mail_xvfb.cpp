// The real program under a real X server with the mail check on: against a Dovecot
// mailbox holding mail the frame turns yellow and carries the marker; against a stopped
// server the dark-red error mark shows. Needs xvfb-run (a 1024 x 768 screen) and dovecot.
#include "settings/SettingsStore.h"
#include "tests/DovecotServer.h"

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool isYellow(QRgb c)
{
    return qRed(c) == 255 && qGreen(c) == 255 && qBlue(c) == 0;
}
bool isGold(QRgb c)
{
    return qRed(c) > 200 && qGreen(c) > 165 && qBlue(c) < 40 && !isYellow(c);
}
bool isMaroon(QRgb c)
{
    return (c & 0xFFFFFF) == 0x800000;
}
bool isDark(QRgb c)
{
    return qRed(c) < 100 && qGreen(c) < 100 && qBlue(c) < 100;
}

QImage screenShot()
{
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

int count(const QImage &image, const QRect &area, bool (*test)(QRgb))
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += test(image.pixel(x, y)) ? 1 : 0;
    return n;
}

// The smallest rectangle holding every pixel that passes the test.
QRect boundsOf(const QImage &image, bool (*test)(QRgb))
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (test(image.pixel(x, y)))
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

} // namespace

// The saver's process, ended when a test leaves early.
class Saver : public QProcess
{
public:
    ~Saver() override
    {
        if (state() != NotRunning) {
            kill();
            waitForFinished(5000);
        }
    }
};

class TestMailXvfb : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QString m_binary;
    DovecotServer m_dovecot;

    void startSaver(QProcess &process, quint16 port)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.path());
        SettingsStore().WriteString(SettingNames::Section, SettingNames::Host,
                                    QStringLiteral("127.0.0.1:") + QString::number(port));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(m_binary, {QStringLiteral("/s")});
        QVERIFY(process.waitForStarted());
    }

    static void endSaver(QProcess &process)
    {
        process.terminate();
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitCode(), 0);
    }

private slots:
    void initTestCase()
    {
        m_binary = qEnvironmentVariable("PANTEL_BINARY");
        QVERIFY2(QFileInfo(m_binary).isExecutable(), "PANTEL_BINARY must name build/pantel");
        if (DovecotServer::binary().isEmpty())
            QSKIP("the dovecot binary is not installed (Debian package dovecot-pop3d)");
        const QString failure = m_dovecot.start(2);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit());
        const QString pictures = m_home.path() + QStringLiteral("/pictures");
        QDir().mkpath(pictures);
        QImage picture(400, 400, QImage::Format_RGB32);
        picture.fill(Qt::blue);
        QVERIFY(picture.save(pictures + QStringLiteral("/blue.bmp"), "BMP"));
        SettingsStore store;
        // A long rest and no move: the frame stays in place for the screenshots.
        store.WriteString(SettingNames::Section, SettingNames::folder(0),
                          QStringLiteral("450,60000,1,0,10,clWhite,") + pictures + QLatin1Char(','));
        store.WriteString(SettingNames::Section, SettingNames::Host, QStringLiteral("127.0.0.1"));
        store.WriteString(SettingNames::Section, SettingNames::UserID, QString::fromLatin1(DovecotServer::User));
        store.WriteString(SettingNames::Section, SettingNames::Password, QString::fromLatin1(DovecotServer::Password));
        store.WriteBool(SettingNames::Section, SettingNames::MailCheckF, true);
    }

    void mailboxWithMailShowsTheTalkLook()
    {
        Saver saver;
        startSaver(saver, m_dovecot.port());
        QImage shot;
        QTRY_VERIFY_WITH_TIMEOUT((shot = screenShot(), count(shot, shot.rect(), isYellow) > 4 * 400 * 9), 10000);
        const QRect frame = boundsOf(shot, isYellow);
        QCOMPARE(frame.size(), QSize(450 - 6, 450 - 6)); // inside the frame's 3-pixel bevel
        if (!qEnvironmentVariableIsEmpty("PANTEL_SHOTS"))
            shot.save(qEnvironmentVariable("PANTEL_SHOTS") + QStringLiteral("/talk.png"));
        QCOMPARE(count(shot, shot.rect(), isMaroon), 0);
        // The marker: black text on the yellow strip below the mat.
        const QRect strip(frame.left(), frame.bottom() - 10, frame.width(), 10);
        const int text = count(shot, strip, isDark);
        QVERIFY2(text > 80, qPrintable(QString::number(text)));
        endSaver(saver);
    }

    void stoppedServerShowsTheErrorMark()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const quint16 stopped = probe.serverPort();
        probe.close();
        Saver saver;
        startSaver(saver, stopped);
        QImage shot;
        QTRY_VERIFY_WITH_TIMEOUT((shot = screenShot(), count(shot, shot.rect(), isMaroon) > 153 * 17 / 2), 10000);
        if (!qEnvironmentVariableIsEmpty("PANTEL_SHOTS"))
            shot.save(qEnvironmentVariable("PANTEL_SHOTS") + QStringLiteral("/error.png"));
        QVERIFY(count(shot, shot.rect(), isGold) > 1000); // the frame picture is there
        const QRect mark = boundsOf(shot, isMaroon);
        QCOMPARE(mark.size(), QSize(153, 17));
        QVERIFY(count(shot, mark, isMaroon) > 153 * 17 / 2);
        QCOMPARE(count(shot, shot.rect(), isYellow), 0);
        endSaver(saver);
    }
};

QTEST_MAIN(TestMailXvfb)
#include "tst_mail_xvfb.moc"
