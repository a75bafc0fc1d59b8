// The show window's mail indicator: the companion's atoms, the mail checks against a
// scripted POP3 peer, the talk look and the error mark, and closing during a check.
#include "mail/Pop3Client.h"
#include "settings/SettingsStore.h"
#include "show/ImageView.h"
#include "show/MailIndicator.h"
#include "show/Main.h"
#include "show/Panel.h"
#include "show/Timer.h"
#include "tests/MailFixture.h"
#include "tests/ScriptedPeer.h"
#include "tests/ShowFixture.h"

#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <limits>
#include <memory>

namespace {

const QRgb Yellow = qRgb(255, 255, 0);

bool isDark(QRgb c)
{
    return qRed(c) < 100 && qGreen(c) < 100 && qBlue(c) < 100;
}
bool isGold(QRgb c)
{
    return qRed(c) > 200 && qGreen(c) > 165 && qBlue(c) < 40 && (c & 0xFFFFFF) != (Yellow & 0xFFFFFF);
}

// A mail check that succeeds: login, the mailbox status, and the QUIT of the connect event.
PeerScript mailbox(int messages)
{
    return loginSequence() + statSequence("+OK " + QByteArray::number(messages) + " 900") + quitSequence();
}

int pixelsOf(const QImage &image, const QRect &area, bool (*test)(QRgb))
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += test(image.pixel(x, y)) ? 1 : 0;
    return n;
}

} // namespace

class TestMailIndicator : public ShowFixture
{
    Q_OBJECT

private:
    // Slot 0 with the given frame width, a white clock and the folder of two pictures
    // (a folder without pictures would put its hint into the clock label at start); the
    // mail check as given.
    void writeSettings(bool mailCheck, int frameWidth = 10)
    {
        const QString pictures = m_pictures;
        QFile::remove(SettingsStore::filePath());
        SettingsStore store;
        store.WriteString(SettingNames::Section, SettingNames::folder(0),
                          QStringLiteral("450,5000,100,20,%1,clWhite,%2,").arg(frameWidth).arg(pictures));
        store.WriteString(SettingNames::Section, SettingNames::Host, QStringLiteral("127.0.0.1"));
        store.WriteString(SettingNames::Section, SettingNames::UserID, QStringLiteral("alice"));
        store.WriteString(SettingNames::Section, SettingNames::Password, QStringLiteral("secret"));
        store.WriteInteger(SettingNames::Section, SettingNames::RoundTime, 15);
        store.WriteBool(SettingNames::Section, SettingNames::MailCheckF, mailCheck);
    }

    // The window with its mail check going to `port` of 127.0.0.1, named in the host text.
    static std::unique_ptr<TPantelForm> makeForm(quint16 port)
    {
        SettingsStore().WriteString(SettingNames::Section, SettingNames::Host, localHost(port));
        TPantelForm::Environment environment;
        environment.seed = 1;
        return std::make_unique<TPantelForm>(environment);
    }

    // The window's mail client.
    static TPop3Client &popMail(const TPantelForm &form) { return *form.mailIndicator()->popMail(); }

    static bool showsTalk(const TPantelForm &form)
    {
        return form.mailIndicator()->talkShown() && form.lblTime->text() == QStringLiteral("<<< Pantelo Talked >>>")
            && !form.imgGaku->hasPicture() && form.pnlBase->color() == QColor(Yellow)
            && form.lblTime->palette().color(QPalette::WindowText) == QColor(Qt::black);
    }

    // The normal look: the built-in frame picture, the panel's own colour, the white
    // clock showing the time.
    static bool showsNormal(const TPantelForm &form)
    {
        static const QRegularExpression clock(QStringLiteral("^\\d{1,2}\\D\\d\\d$"));
        return !form.mailIndicator()->talkShown() && clock.match(form.lblTime->text()).hasMatch()
            && form.imgGaku->hasPicture()
            && form.imgGaku->picture()->pixels
            == form.imgDummy->picture()
                   ->pixels.scaled(form.imgGaku->size(), Qt::IgnoreAspectRatio, Qt::FastTransformation)
                   .convertToFormat(QImage::Format_RGB32)
            && form.pnlBase->color() == QColor::fromRgb(Panel::ButtonFace)
            && form.lblTime->palette().color(QPalette::WindowText) == QColor(Qt::white);
    }

    static bool errorShown(const TPantelForm &form) { return !form.pnlError->isHidden(); }

private slots:
    void initTestCase()
    {
        QVERIFY2(setUpProgram(), "no temporary folder for the settings");
        m_pictures = m_home.path() + QStringLiteral("/pictures");
        QDir().mkpath(m_pictures);
        for (const char *name : {"a.bmp", "b.bmp"}) {
            QImage image(64, 64, QImage::Format_RGB32);
            image.fill(Qt::red);
            QVERIFY(image.save(m_pictures + QLatin1Char('/') + QLatin1String(name), "BMP"));
        }
    }

    void init() { setUpTest(); }

    void cleanup() { QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join(QLatin1Char('\n')))); }

    // The indicator on its own: what its start-up check, and then a clock tick with the
    // companion's signal and one without, tell the window.
    void indicatorSignals_data()
    {
        QTest::addColumn<bool>("mailCheck");
        QTest::addColumn<bool>("companion");
        QTest::addColumn<PeerScript>("script"); // empty: no server listens
        QTest::addColumn<QStringList>("atStart");
        QTest::addColumn<QStringList>("atTicks");
        const QStringList none;
        // With the mail check on, the companion's signal counts even without the companion.
        const QStringList talkComesAndGoes{"talk on", "talk off"};
        QTest::newRow("mail waiting") << true << false << mailbox(2) << QStringList{"logged in", "mail waiting"}
                                      << QStringList{"talk on"};
        QTest::newRow("mailbox empty") << true << false << mailbox(0) << QStringList{"logged in"} << talkComesAndGoes;
        QTest::newRow("login refused") << true << false
                                       << (greetingSequence() + C("USER alice") + S("-ERR no") + quitSequence())
                                       << QStringList{"check failed"} << talkComesAndGoes;
        QTest::newRow("no server") << true << false << PeerScript() << QStringList{"check failed"} << talkComesAndGoes;
        QTest::newRow("companion talked") << false << true << PeerScript() << none << talkComesAndGoes;
        QTest::newRow("signal without companion or check") << false << false << PeerScript() << none << none;
    }

    void indicatorSignals()
    {
        QFETCH(bool, mailCheck);
        QFETCH(bool, companion);
        QFETCH(PeerScript, script);
        QFETCH(QStringList, atStart);
        QFETCH(QStringList, atTicks);
        ScriptedPeer peer(script);
        Timer timMailCheck;
        MailIndicator indicator(&timMailCheck);
        QStringList told;
        connect(&indicator, &MailIndicator::loggedIn, this, [&] { told << QStringLiteral("logged in"); });
        connect(&indicator, &MailIndicator::checkFailed, this, [&] { told << QStringLiteral("check failed"); });
        connect(&indicator, &MailIndicator::mailWaitingChanged, this,
                [&](bool waiting) { told << (waiting ? QStringLiteral("mail waiting") : QStringLiteral("no mail")); });
        connect(&indicator, &MailIndicator::talkChanged, this,
                [&](bool shown) { told << (shown ? QStringLiteral("talk on") : QStringLiteral("talk off")); });
        StoredSettings settings;
        settings.host = localHost(script.isEmpty() ? closedPort() : peer.port());
        settings.userId = QStringLiteral("alice");
        settings.password = QStringLiteral("secret");
        settings.mailCheckF = mailCheck;
        indicator.configure(settings);
        if (companion)
            m_platform->atoms << CompanionAtom;
        indicator.start();
        QCOMPARE(told, atStart);
        QVERIFY(!indicator.mailCheckRunning());
        told.clear();
        m_platform->atoms << TalkedAtom;
        indicator.clockTick();
        m_platform->atoms.remove(TalkedAtom);
        indicator.clockTick();
        QCOMPARE(told, atTicks);
    }

    void checkInterval_data()
    {
        QTest::addColumn<int>("roundTime");
        QTest::addColumn<int>("interval");
        QTest::newRow("default 15 minutes") << 15 << 900000;
        QTest::newRow("1 minute") << 1 << 60000;
        QTest::newRow("0 is the shortest, 5") << 0 << 300000;
        QTest::newRow("negative is the shortest, 5") << -7 << 300000;
        QTest::newRow("beyond the timer's range") << 40000 << std::numeric_limits<int>::max();
    }

    void checkInterval()
    {
        QFETCH(int, roundTime);
        QFETCH(int, interval);
        QCOMPARE(mailCheckInterval(roundTime), interval);
    }

    // The client's account and the timer come from the settings; the rest is fixed.
    void clientAndTimerFromSettings_data()
    {
        QTest::addColumn<bool>("mailCheck");
        QTest::newRow("mail check on") << true;
        QTest::newRow("mail check off") << false;
    }

    void clientAndTimerFromSettings()
    {
        QFETCH(bool, mailCheck);
        ScriptedPeer peer(mailbox(0));
        writeSettings(mailCheck);
        auto form = makeForm(peer.port());
        QCOMPARE(popMail(*form).Host, QStringLiteral("127.0.0.1"));
        QCOMPARE(popMail(*form).Port, peer.port());
        QCOMPARE(popMail(*form).UserID, QStringLiteral("alice"));
        QCOMPARE(popMail(*form).Password, QStringLiteral("secret"));
        QCOMPARE(popMail(*form).TimeOut, 30000);
        QCOMPARE(popMail(*form).ReportLevel, 0);
        QCOMPARE(form->timMailCheck->interval(), 900000);
        QCOMPARE(form->timMailCheck->enabled(), mailCheck);
        // The start-up check ran only with the mail check on, and left no connection.
        QCOMPARE(peer.connections, mailCheck ? 1 : 0);
        QVERIFY(!popMail(*form).Connected());
        QVERIFY(!errorShown(*form));
    }

    void noMarkerWithoutCompanionOrMailCheck()
    {
        writeSettings(false);
        auto form = makeForm(closedPort());
        QVERIFY(!form->mailIndicator()->companionRunning());
        // Whatever appears later: the companion's atoms and its signal.
        m_platform->atoms << CompanionAtom << TalkedAtom;
        for (int i = 0; i < 3; ++i) {
            form->timCheckTimer();
            QVERIFY(showsNormal(*form));
        }
    }

    // The companion at start and its signal: the marker comes with the first clock tick
    // that sees the signal (the one of start-up when it is there already) and goes with
    // the first tick that misses it.
    void companionSignal_data()
    {
        QTest::addColumn<bool>("signalAtStart");
        QTest::newRow("signal at start") << true;
        QTest::newRow("signal later") << false;
    }

    void companionSignal()
    {
        QFETCH(bool, signalAtStart);
        writeSettings(false);
        m_platform->atoms << CompanionAtom;
        if (signalAtStart)
            m_platform->atoms << TalkedAtom;
        auto form = makeForm(closedPort());
        QVERIFY(form->mailIndicator()->companionRunning());
        if (!signalAtStart) {
            QVERIFY(showsNormal(*form));
            m_platform->atoms << TalkedAtom;
            form->timCheckTimer();
        }
        QVERIFY(showsTalk(*form));
        form->timCheckTimer();
        QVERIFY(showsTalk(*form));
        m_platform->atoms.remove(TalkedAtom);
        form->timCheckTimer();
        QVERIFY(showsNormal(*form));
        form->timCheckTimer();
        QVERIFY(showsNormal(*form));
    }

    // The look is restored exactly as at start: a frame picture file that is not a
    // picture leaves the frame without one, and the panel's colour shows again.
    void talkEndRestoresFramePictureFile()
    {
        const QString broken = m_home.path() + QStringLiteral("/broken.bmp");
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a picture");
        file.close();
        QFile::remove(SettingsStore::filePath());
        SettingsStore store;
        store.WriteString(SettingNames::Section, SettingNames::folder(0),
                          QStringLiteral("450,5000,100,20,10,clRed,%1,%2").arg(m_pictures, broken));
        m_platform->atoms << CompanionAtom << TalkedAtom;
        auto form = makeForm(closedPort());
        QVERIFY(form->mailIndicator()->talkShown());
        m_platform->atoms.remove(TalkedAtom);
        form->timCheckTimer();
        QVERIFY(!form->mailIndicator()->talkShown());
        QVERIFY(!form->imgGaku->hasPicture());
        QCOMPARE(form->pnlBase->color(), QColor::fromRgb(Panel::ButtonFace));
        QCOMPARE(form->lblTime->palette().color(QPalette::WindowText), QColor(Qt::red));
    }

    // Without a clock (frame width 5 or less) the marker still shows; when the talk
    // ends it goes, since no clock would ever replace it.
    void markerWithoutClock_data()
    {
        QTest::addColumn<int>("frameWidth");
        QTest::newRow("5") << 5;
        QTest::newRow("0") << 0;
    }

    void markerWithoutClock()
    {
        QFETCH(int, frameWidth);
        writeSettings(false, frameWidth);
        m_platform->atoms << CompanionAtom;
        auto form = makeForm(closedPort());
        form->lblTime->clear();
        m_platform->atoms << TalkedAtom;
        form->timCheckTimer();
        QVERIFY(showsTalk(*form));
        m_platform->atoms.remove(TalkedAtom);
        form->timCheckTimer();
        QVERIFY(!form->mailIndicator()->talkShown());
        QCOMPARE(form->lblTime->text(), QString());
    }

    // Mail found by the start-up check shows at once and stays until a check finds the
    // mailbox empty; a failing check in between changes nothing but the error mark.
    void mailKeepsMarkerUntilMailboxEmpty()
    {
        writeSettings(true);
        ScriptedPeer start(mailbox(2));
        auto form = makeForm(start.port());
        QVERIFY2(start.mismatches.isEmpty(), qPrintable(start.mismatches.join(u'\n')));
        QVERIFY(start.finished());
        QVERIFY(form->mailIndicator()->mailWaiting());
        QVERIFY(showsTalk(*form));
        QVERIFY(!errorShown(*form));

        popMail(*form).Port = closedPort();
        form->timMailCheckTimer();
        QVERIFY(errorShown(*form));
        QVERIFY(form->mailIndicator()->mailWaiting());
        form->timCheckTimer();
        QVERIFY(showsTalk(*form));

        ScriptedPeer stillMail(mailbox(1));
        popMail(*form).Port = stillMail.port();
        form->timMailCheckTimer();
        QVERIFY(stillMail.finished());
        QVERIFY(!errorShown(*form));
        QVERIFY(form->mailIndicator()->mailWaiting());
        form->timCheckTimer();
        QVERIFY(showsTalk(*form));

        ScriptedPeer empty(mailbox(0));
        popMail(*form).Port = empty.port();
        form->timMailCheckTimer();
        QVERIFY(empty.finished());
        QVERIFY(!form->mailIndicator()->mailWaiting());
        QVERIFY(showsTalk(*form)); // until the next clock tick
        form->timCheckTimer();
        QVERIFY(showsNormal(*form));
    }

    // Failures of every kind only show the error mark; the periodic check leaves no
    // connection open.
    void failingCheckShowsErrorMark_data()
    {
        QTest::addColumn<PeerScript>("script");
        QTest::newRow("refused login") << (greetingSequence() + C("USER alice") + S("+OK") + C("PASS secret")
                                           + S("-ERR no") + quitSequence());
        QTest::newRow("bad greeting") << (S("-ERR busy") + quitSequence());
        QTest::newRow("closed at once") << closeConnection();
        QTest::newRow("status refused") << (loginSequence() + statSequence("-ERR locked") + quitSequence());
    }

    void failingCheckShowsErrorMark()
    {
        QFETCH(PeerScript, script);
        writeSettings(true);
        auto form = makeForm(closedPort());
        QVERIFY(errorShown(*form)); // the start-up check failed
        QVERIFY(!form->mailIndicator()->mailWaiting());
        ScriptedPeer peer(script);
        popMail(*form).Port = peer.port();
        form->timMailCheckTimer();
        QVERIFY(errorShown(*form));
        QVERIFY(!popMail(*form).Connected());
        QVERIFY(!form->mailIndicator()->mailWaiting());
        QVERIFY(!form->mailIndicator()->mailCheckRunning());
        QTRY_VERIFY(peer.clientClosed);
    }

    // The next good check hides the mark before it learns about the mail: while the
    // QUIT of the connect event waits for its answer the mark is gone already and
    // MailWaiting is still the old value.
    void goodCheckHidesErrorBeforeMailWaiting()
    {
        writeSettings(true);
        auto form = makeForm(closedPort());
        QVERIFY(errorShown(*form));
        ScriptedPeer peer(loginSequence() + statSequence("+OK 4 900") + C("QUIT") + pauseFor(200) + S("+OK bye")
                          + closeConnection());
        popMail(*form).Port = peer.port();
        bool sampled = false;
        bool errorDuringQuit = true;
        bool waitingDuringQuit = true;
        QTimer sampler;
        sampler.setInterval(5);
        connect(&sampler, &QTimer::timeout, this, [&] {
            if (!sampled && peer.received.contains(QStringLiteral("QUIT"))) {
                sampled = true;
                errorDuringQuit = errorShown(*form);
                waitingDuringQuit = form->mailIndicator()->mailWaiting();
            }
        });
        sampler.start();
        form->timMailCheckTimer();
        QVERIFY(sampled);
        QVERIFY(!errorDuringQuit);
        QVERIFY(!waitingDuringQuit);
        QVERIFY(form->mailIndicator()->mailWaiting());
        QVERIFY(!errorShown(*form));
    }

    // The frame in the talk look, to the pixel: the border between the frame's bevel and
    // the mat is yellow, the clock strip carries black text on it; it was gold before.
    void yellowFramePixels()
    {
        writeSettings(false);
        m_platform->atoms << CompanionAtom;
        auto form = makeForm(closedPort());
        const QPoint frame = form->pnlBase->pos();
        // The left border strip between the bevel (3) and the mat (13), away from the clock.
        const QRect border(frame.x() + 4, frame.y() + 20, 8, 400);
        const QRect clock = form->lblTime->geometry().translated(frame);
        const auto isYellow = [](QRgb c) { return (c & 0xFFFFFF) == (Yellow & 0xFFFFFF); };
        QImage shot = form->grab().toImage();
        QCOMPARE(pixelsOf(shot, border, isYellow), 0);
        QVERIFY(pixelsOf(shot, clock, isGold) > 0); // the golden bar behind the clock

        m_platform->atoms << TalkedAtom;
        form->timCheckTimer();
        shot = form->grab().toImage();
        QCOMPARE(pixelsOf(shot, border, isYellow), border.width() * border.height());
        if (!qEnvironmentVariableIsEmpty("PANTEL_SHOTS"))
            shot.save(qEnvironmentVariable("PANTEL_SHOTS") + QStringLiteral("/talk-offscreen.png"));
        const int text = pixelsOf(shot, clock, isDark);
        QVERIFY2(text > 50, qPrintable(QString::number(text)));
        // The strip beside the text is yellow too: no gold is left behind the label.
        const QRect beside(clock.left(), clock.top(), 40, 9); // above the lower bevel
        QCOMPARE(pixelsOf(shot, beside, isYellow), beside.width() * beside.height());

        m_platform->atoms.remove(TalkedAtom);
        form->timCheckTimer();
        shot = form->grab().toImage();
        QCOMPARE(pixelsOf(shot, border, isYellow), 0);
        QVERIFY(pixelsOf(shot, clock, isGold) > 0); // the golden bar behind the clock
    }

    // The error mark to the pixel: maroon with white text at the top left of the
    // picture area, above the picture panels.
    void errorMarkPixels()
    {
        writeSettings(true);
        auto form = makeForm(closedPort());
        QVERIFY(errorShown(*form));
        const QRect mark(form->pnlError->mapTo(form.get(), QPoint(0, 0)), form->pnlError->size());
        QCOMPARE(mark.size(), QSize(153, 17));
        const QImage shot = form->grab().toImage();
        const int maroon = pixelsOf(shot, mark, [](QRgb c) { return (c & 0xFFFFFF) == 0x800000; });
        const int white
            = pixelsOf(shot, mark, [](QRgb c) { return qRed(c) > 200 && qGreen(c) > 200 && qBlue(c) > 200; });
        QVERIFY2(maroon > mark.width() * mark.height() / 2, qPrintable(QString::number(maroon)));
        QVERIFY2(white > 30, qPrintable(QString::number(white)));
    }

    // A check waits for the server inside the mail timer's handler; meanwhile the other
    // timers run, further mail ticks start no second connection, and input closes the
    // window. Closing, or even destroying, the window during the wait ends the check
    // at once without touching the window or the client after they are gone.
    void closingDuringWaitingCheck_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::addColumn<PeerScript>("script");
        QTest::addColumn<QString>("lastLine");
        // The server greets, then never answers the login.
        const PeerScript login = greetingSequence() + C("USER alice");
        // The server never answers the QUIT of the connect event.
        const PeerScript quit = loginSequence() + statSequence("+OK 2 100") + C("QUIT");
        QTest::newRow("key closes the window during the login") << false << login << QStringLiteral("USER alice");
        QTest::newRow("window destroyed during the login") << true << login << QStringLiteral("USER alice");
        QTest::newRow("key closes the window during the QUIT") << false << quit << QStringLiteral("QUIT");
        QTest::newRow("window destroyed during the QUIT") << true << quit << QStringLiteral("QUIT");
    }

    void closingDuringWaitingCheck()
    {
        QFETCH(bool, destroy);
        QFETCH(PeerScript, script);
        QFETCH(QString, lastLine);
        writeSettings(true);
        ScriptedPeer start(mailbox(0));
        std::unique_ptr<TPantelForm> form = makeForm(start.port());
        QVERIFY(start.finished());
        QTRY_VERIFY(start.clientClosed);

        ScriptedPeer silent(script);
        popMail(*form).Port = silent.port();
        QPointer<TPop3Client> client = &popMail(*form);
        int slideSteps = 0;
        connect(form->timSlide, &Timer::timeout, this, [&] { ++slideSteps; });
        form->timSlide->setInterval(10);
        form->timSlide->setEnabled(true);
        form->timMailCheck->setInterval(20);
        form->timMailCheck->setEnabled(true);
        // The check waits inside the mail timer's handler, so what happens during the
        // wait is watched (and the window closed) from a timer that fires inside it.
        QPointer<TPantelForm> window = form.get();
        QSignalSpy closed(form.get(), &TPantelForm::closed);
        bool acted = false;
        bool runningDuringWait = false;
        int stepsAtStart = -1;
        int stepsDuringWait = 0;
        int connectionsDuringWait = 0;
        QElapsedTimer waiting;
        QElapsedTimer sinceClose;
        QTimer watcher;
        watcher.setInterval(5);
        connect(&watcher, &QTimer::timeout, this, [&] {
            if (acted || !silent.received.contains(lastLine))
                return;
            if (stepsAtStart < 0) {
                stepsAtStart = slideSteps;
                waiting.start();
                return;
            }
            if (waiting.elapsed() < 200) // slide steps and mail ticks come meanwhile
                return;
            acted = true;
            runningDuringWait = form->mailIndicator()->mailCheckRunning();
            stepsDuringWait = slideSteps - stepsAtStart;
            connectionsDuringWait = silent.connections;
            sinceClose.start();
            if (destroy)
                form.reset();
            else
                QTest::keyClick(form.get(), Qt::Key_A);
        });
        watcher.start();
        QTRY_VERIFY_WITH_TIMEOUT(acted, 10000);
        watcher.stop();
        // The check ended at once, not at its 30 s time-out.
        QVERIFY2(sinceClose.elapsed() < 5000, qPrintable(QString::number(sinceClose.elapsed())));
        QVERIFY(runningDuringWait);
        QVERIFY2(stepsDuringWait >= 3, qPrintable(QString::number(stepsDuringWait)));
        QCOMPARE(connectionsDuringWait, 1);
        if (destroy) {
            QVERIFY(!window);
        } else {
            QCOMPARE(closed.count(), 1);
            QVERIFY(form->closing());
        }
        // The check ends at once, not at its time-out, and drops the connection.
        QTRY_VERIFY_WITH_TIMEOUT(silent.clientClosed, 5000);
        if (destroy) {
            QTRY_VERIFY(!client); // freed by the check once its wait returned
        } else {
            QTRY_VERIFY(!form->mailIndicator()->mailCheckRunning());
            QVERIFY(client);
            QVERIFY(!client->Connected());
            form.reset();
            QVERIFY(!client);
        }
        QCOMPARE(silent.connections, 1);
    }

    // A move step serves the event queue between its steps; a mail tick served there
    // would hold the move until the check ends, so its check runs right after the step.
    void mailTickDuringMoveStepWaitsForIt()
    {
        writeSettings(true);
        auto form = makeForm(closedPort());
        ScriptedPeer peer(mailbox(3));
        popMail(*form).Port = peer.port();
        form->timSlide->setEnabled(false);
        form->timStayTimer();
        QVERIFY(form->timMove->enabled());
        form->timMailCheck->setInterval(1);
        QTest::qSleep(5); // the mail tick is due; the move step's event processing serves it
        form->timMoveTimer();
        form->timMailCheck->setInterval(3600000);
        QCOMPARE(form->moveCount(), 1);
        QVERIFY(!form->mailIndicator()->mailWaiting());
        QCOMPARE(peer.connections, 0);
        QTRY_VERIFY(form->mailIndicator()->mailWaiting());
        QVERIFY(!errorShown(*form));
    }

    // A connection still open when the window goes (here: one the test opened by hand)
    // is ended with QUIT.
    void destroyEndsOpenConnection()
    {
        writeSettings(false);
        auto form = makeForm(closedPort());
        ScriptedPeer peer(loginSequence() + statSequence("+OK 1 10") + quitSequence());
        popMail(*form).Port = peer.port();
        popMail(*form).OnConnect = nullptr; // leaves the connection open
        popMail(*form).Connect();
        QVERIFY(popMail(*form).Connected());
        form.reset();
        QVERIFY(peer.received.contains(QStringLiteral("QUIT")));
    }
};

QTEST_MAIN(TestMailIndicator)
#include "tst_mailindicator.moc"
