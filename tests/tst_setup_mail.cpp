#include "mail/Pop3Client.h"
#include "tests/DovecotServer.h"
#include "tests/MailFixture.h"
#include "tests/ScriptedPeer.h"
#include "tests/SetupFixture.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

const QString kStartCaption = QStringLiteral("メールチェックテスト");
const QString kEndCaption = QStringLiteral("テスト終了");

// How a test that waits for the server is ended.
enum class Ending { SecondPress, ThirdPressAtOnce, Unchecking, Closing, Confirming };

} // namespace

Q_DECLARE_METATYPE(Ending)

// The mail group of the settings dialog: enabling, the test against a scripted server and
// a real Dovecot, ending a test while it waits, the period field and the link.
class TestSetupMail : public SetupFixture
{
    Q_OBJECT

private:
    // A dialog with the mail check on and the given account, its client aimed at `port`.
    std::unique_ptr<TSetupForm> openDialog(quint16 port, const QString &user = QStringLiteral("alice"),
                                           const QString &password = QStringLiteral("secret"))
    {
        store("MailCheckF", "1");
        store("Host", localHost(port));
        store("UserID", user);
        store("Password", password);
        return showDialog();
    }

    static QStringList memoLines(const QWidget &dialog)
    {
        const QString text = control<QPlainTextEdit>(dialog, "memStatus")->toPlainText();
        return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    }

    static QPushButton *testButton(const QWidget &dialog) { return control<QPushButton>(dialog, "btnMailCheck"); }
    static QPlainTextEdit *memo(const QWidget &dialog) { return control<QPlainTextEdit>(dialog, "memStatus"); }

private slots:
    void initTestCase() { setUpProgram(); }

    void init() { QVERIFY2(setUpTest(), "no temporary folder for the settings"); }

    void clientIsSetUpForTheTest()
    {
        const auto dialog = openDialog(110);
        const TPop3Client &client = dialog->mailClient();
        QCOMPARE(client.Port, 110);
        QCOMPARE(client.TimeOut, 30000);
        QCOMPARE(client.ReportLevel, 3);
        QVERIFY(!client.Parse);
        QVERIFY(!client.DeleteOnRead);
    }

    void acceptingServerListsFourPositiveLines()
    {
        ScriptedPeer peer(loginSequence() + statSequence() + quitSequence());
        const auto dialog = openDialog(peer.port());
        testButton(*dialog)->click();

        QVERIFY2(peer.mismatches.isEmpty(), qPrintable(peer.mismatches.join(QLatin1Char('\n'))));
        QCOMPARE(m_errors, QStringList());
        const QStringList lines = memoLines(*dialog);
        QCOMPARE(lines, (QStringList{"+OK", "+OK logged in", "+OK 3 1200", "+OK bye"}));
        QVERIFY(memo(*dialog)->isVisible());
        QCOMPARE(testButton(*dialog)->text(), kEndCaption);
        QVERIFY(!dialog->mailClient().Connected());
        QVERIFY(!dialog->mailTestRunning());
        // The test is no setting: nothing reaches the store.
        QCOMPARE(stored("MailCheckF"), QStringLiteral("1"));

        // The second press ends the presented test.
        testButton(*dialog)->click();
        QVERIFY(!memo(*dialog)->isVisible());
        QCOMPARE(memoLines(*dialog), QStringList());
        QCOMPARE(testButton(*dialog)->text(), kStartCaption);
        QCOMPARE(peer.connections, 1);
    }

    void valuesAreTakenAsTyped()
    {
        ScriptedPeer peer(loginSequence("bob", "typed") + statSequence() + quitSequence());
        const auto dialog = openDialog(peer.port());
        control<QLineEdit>(*dialog, "edtUserID")->setText(QStringLiteral("bob"));
        control<QLineEdit>(*dialog, "medPassword")->setText(QStringLiteral("typed"));
        testButton(*dialog)->click();
        QVERIFY2(peer.mismatches.isEmpty(), qPrintable(peer.mismatches.join(QLatin1Char('\n'))));
        QCOMPARE(m_errors, QStringList());
        QCOMPARE(stored("UserID"), QStringLiteral("alice"));
    }

    void emptyAccountFailsAtOnce_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::newRow("no account name") << QString() << QStringLiteral("secret");
        QTest::newRow("no password") << QStringLiteral("alice") << QString();
    }

    void emptyAccountFailsAtOnce()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        ScriptedPeer peer(loginSequence());
        const auto dialog = openDialog(peer.port(), user, password);
        testButton(*dialog)->click();
        QCOMPARE(m_errors, QStringList{"Authentication failed"});
        QCOMPARE(peer.connections, 0);
        QVERIFY(memo(*dialog)->isVisible());
        QCOMPARE(memoLines(*dialog), QStringList());
        QCOMPARE(testButton(*dialog)->text(), kEndCaption);
    }

    void rejectedLoginKeepsTheLinesReceived()
    {
        ScriptedPeer peer(greetingSequence() + C("USER alice") + S("+OK") + C("PASS secret")
                          + S("-ERR invalid password") + quitSequence());
        const auto dialog = openDialog(peer.port());
        testButton(*dialog)->click();
        QCOMPARE(m_errors, QStringList{"Authentication failed"});
        QCOMPARE(memoLines(*dialog), (QStringList{"+OK", "-ERR invalid password", "+OK bye"}));
        QVERIFY(memo(*dialog)->isVisible());
        QCOMPARE(testButton(*dialog)->text(), kEndCaption);
        QCOMPARE(stored("MailCheckF"), QStringLiteral("1"));
        QVERIFY(control<QCheckBox>(*dialog, "ckbMailCheck")->isChecked());
    }

    void refusedConnectionIsReported()
    {
        const quint16 port = closedPort();
        QVERIFY(port != 0);
        const auto dialog = openDialog(port);
        testButton(*dialog)->click();
        QCOMPARE(m_errors, QStringList{"Connection Failed"});
        QVERIFY(memo(*dialog)->isVisible());
        QCOMPARE(testButton(*dialog)->text(), kEndCaption);
    }

    void endingAWaitingTest_data()
    {
        QTest::addColumn<Ending>("ending");
        QTest::newRow("second press") << Ending::SecondPress;
        QTest::newRow("third press before the check unwound") << Ending::ThirdPressAtOnce;
        QTest::newRow("unchecking the box") << Ending::Unchecking;
        QTest::newRow("closing the dialog") << Ending::Closing;
        QTest::newRow("confirming the dialog") << Ending::Confirming;
    }

    // The server greets, takes USER and then says nothing: the test waits (up to the
    // client's 30 s) while the dialog stays responsive, and each way of ending it ends
    // it at once.
    void endingAWaitingTest()
    {
        QFETCH(Ending, ending);
        ScriptedPeer peer(greetingSequence() + C("USER alice"));
        const auto dialog = openDialog(peer.port());
        bool ended = false;
        QTimer poll;
        poll.setInterval(5);
        connect(&poll, &QTimer::timeout, this, [&] {
            if (!peer.received.contains(QStringLiteral("USER alice")) || ended)
                return;
            ended = true;
            QVERIFY(dialog->mailTestRunning());
            QCOMPARE(memoLines(*dialog), QStringList());
            switch (ending) {
            case Ending::SecondPress:
                testButton(*dialog)->click();
                break;
            case Ending::ThirdPressAtOnce:
                // The first Connect is still on the stack: the press starts no second one.
                testButton(*dialog)->click();
                testButton(*dialog)->click();
                QVERIFY(memo(*dialog)->isHidden());
                break;
            case Ending::Unchecking:
                control<QCheckBox>(*dialog, "ckbMailCheck")->click();
                break;
            case Ending::Closing:
                dialog->close();
                break;
            case Ending::Confirming:
                control<QPushButton>(*dialog, "OKBtn")->click();
                break;
            }
        });
        poll.start();
        QElapsedTimer clock;
        clock.start();
        testButton(*dialog)->click();
        poll.stop();

        QVERIFY(ended);
        QVERIFY2(clock.elapsed() < 10000, "the test did not end at once");
        QCOMPARE(m_errors, QStringList{"Socket readln aborted"});
        QVERIFY(!dialog->mailTestRunning());
        QVERIFY(!dialog->mailClient().Connected());
        QVERIFY(memo(*dialog)->isHidden());
        QCOMPARE(memoLines(*dialog), QStringList());
        QCOMPARE(testButton(*dialog)->text(), kStartCaption);
        QTRY_VERIFY(peer.clientClosed);
        // No QUIT is sent into a conversation that is out of step.
        QCOMPARE(peer.received, QStringList{"USER alice"});
        switch (ending) {
        case Ending::Unchecking:
            for (const char *name : kMailControls)
                QVERIFY2(!control<QWidget>(*dialog, name)->isEnabled(), name);
            break;
        case Ending::Closing:
        case Ending::Confirming:
            QVERIFY(!dialog->isVisible());
            break;
        case Ending::SecondPress:
        case Ending::ThirdPressAtOnce:
            QVERIFY(dialog->isVisible());
            break;
        }
        QCOMPARE(peer.connections, 1);
        // Confirming writes the settings as they stand; the ended test changes none.
        QCOMPARE(stored("StartNo"), ending == Ending::Confirming ? QStringLiteral("0") : QStringLiteral("<absent>"));

        // The dialog can test again afterwards.
        if (ending == Ending::SecondPress) {
            ScriptedPeer next(loginSequence() + statSequence() + quitSequence());
            control<QLineEdit>(*dialog, "edtHost")->setText(localHost(next.port()));
            m_errors.clear();
            testButton(*dialog)->click();
            QCOMPARE(m_errors, QStringList());
            QCOMPARE(memoLines(*dialog).size(), 4);
        }
    }

    // The settings mode runs the dialog modally; closing it while a test waits ends the
    // test, and the modal run returns once the waiting Connect has failed.
    void closingTheModalDialogDuringATest()
    {
        ScriptedPeer peer(greetingSequence() + C("USER alice"));
        const auto dialog = openDialog(peer.port());
        dialog->hide();
        QTimer::singleShot(0, dialog.get(), [&] { testButton(*dialog)->click(); });
        QTimer poll;
        poll.setInterval(5);
        connect(&poll, &QTimer::timeout, this, [&] {
            if (peer.received.contains(QStringLiteral("USER alice")) && dialog->isVisible())
                dialog->reject();
        });
        poll.start();
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(dialog->exec(), int(QDialog::Rejected));
        poll.stop();
        QVERIFY2(clock.elapsed() < 10000, "the test did not end at once");
        QCOMPARE(m_errors, QStringList{"Socket readln aborted"});
        QVERIFY(!dialog->mailTestRunning());
    }

    // Destroying the dialog while its test's Connect waits under the button's press: the
    // client lives on until that Connect has failed, the failure is reported and the
    // client is freed then.
    void destroyingTheDialogDuringATest()
    {
        ScriptedPeer peer(greetingSequence() + C("USER alice"));
        const int usersBefore = TBlockingSocket::WinsockUsers();
        TSetupForm *dialog = openDialog(peer.port()).release();
        QCOMPARE(TBlockingSocket::WinsockUsers(), usersBefore + 1);
        QPointer<TSetupForm> watch(dialog);
        QTimer poll;
        poll.setInterval(5);
        connect(&poll, &QTimer::timeout, this, [&] {
            if (peer.received.contains(QStringLiteral("USER alice")) && watch)
                delete watch.data();
        });
        poll.start();
        QElapsedTimer clock;
        clock.start();
        QPointer<QPushButton> button = testButton(*dialog);
        button->click();
        poll.stop();
        QVERIFY(!watch);
        QVERIFY(!button);
        QVERIFY2(clock.elapsed() < 10000, "the test did not end at once");
        QCOMPARE(m_errors, QStringList{"Socket readln aborted"});
        QCOMPARE(TBlockingSocket::WinsockUsers(), usersBefore);
        QTRY_VERIFY(peer.clientClosed);
    }

    void loadingWithTheCheckOnEnablesTheControls()
    {
        const auto dialog = openDialog(110);
        for (const char *name : kMailControls)
            QVERIFY2(control<QWidget>(*dialog, name)->isEnabled(), name);
        QVERIFY(memo(*dialog)->isHidden());
        QCOMPARE(testButton(*dialog)->text(), kStartCaption);
    }

    void okWithTheBoxOffSavesTheLoadedValues()
    {
        store("MailCheckF", "0");
        store("Host", "pop.example.net");
        store("UserID", "carol");
        store("Password", "pa ss");
        store("RoundTime", "45");
        const auto dialog = showDialog();
        for (const char *name : kMailControls)
            QVERIFY2(!control<QWidget>(*dialog, name)->isEnabled(), name);
        control<QPushButton>(*dialog, "OKBtn")->click();
        QCOMPARE(stored("MailCheckF"), QStringLiteral("0"));
        QCOMPARE(stored("Host"), QStringLiteral("pop.example.net"));
        QCOMPARE(stored("UserID"), QStringLiteral("carol"));
        QCOMPARE(stored("Password"), QStringLiteral("pa ss"));
        QCOMPARE(stored("RoundTime"), QStringLiteral("45"));
    }

    void roundTimeWhenTheFocusLeaves_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("value");
        QTest::newRow("below the range") << "3"
                                         << "5" << 5;
        QTest::newRow("above the range") << "2000"
                                         << "1000" << 1000;
        QTest::newRow("in the range") << "45"
                                      << "45" << 45;
        QTest::newRow("off the step") << "12"
                                      << "12" << 12;
        QTest::newRow("signs only") << "+-"
                                    << "5" << 5;
        QTest::newRow("decimal") << "1" + QLocale().decimalPoint() + "5"
                                 << "5" << 5;
        QTest::newRow("negative") << "-20"
                                  << "5" << 5;
    }

    void roundTimeWhenTheFocusLeaves()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(int, value);
        const auto dialog = openDialog(110);
        QApplication::setActiveWindow(dialog.get());
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        auto *spin = control<QSpinBox>(*dialog, "speRoundTime");
        spin->setFocus();
        spin->selectAll();
        QTest::keyClick(spin, Qt::Key_Delete);
        QTest::keyClicks(spin, typed);
        QCOMPARE(m_platform->beeps, 0);
        QCOMPARE(spin->text(), typed);
        control<QLineEdit>(*dialog, "edtHost")->setFocus();
        QTRY_VERIFY(!spin->hasFocus());
        QCOMPARE(spin->text(), shown);
        QCOMPARE(spin->value(), value);
        control<QPushButton>(*dialog, "OKBtn")->click();
        QCOMPARE(stored("RoundTime"), QString::number(value));
    }

    void roundTimeTakesOnlyNumberKeys()
    {
        const auto dialog = openDialog(110);
        QApplication::setActiveWindow(dialog.get());
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        auto *spin = control<QSpinBox>(*dialog, "speRoundTime");
        spin->setFocus();
        spin->setValue(5);
        QTest::keyClick(spin, Qt::Key_End);
        QTest::keyClicks(spin, QStringLiteral("a "));
        QCOMPARE(m_platform->beeps, 2);
        QCOMPARE(spin->text(), QStringLiteral("5"));
        QTest::keyClick(spin, Qt::Key_Up);
        QCOMPARE(spin->value(), 10);
        QTest::keyClick(spin, Qt::Key_Up);
        QCOMPARE(spin->value(), 15);
        QTest::keyClick(spin, Qt::Key_Down);
        QCOMPARE(spin->value(), 10);
        QTest::keyClick(spin, Qt::Key_Down);
        QTest::keyClick(spin, Qt::Key_Down);
        QCOMPARE(spin->value(), 5);
        QCOMPARE(m_platform->beeps, 2);
    }

    void passwordIsMasked()
    {
        const auto dialog = openDialog(110, QStringLiteral("alice"), QStringLiteral("secret"));
        const auto *password = control<QLineEdit>(*dialog, "medPassword");
        QCOMPARE(password->text(), QStringLiteral("secret"));
        QCOMPARE(password->displayText(), QStringLiteral("******"));
    }

    void linkOpensTheWebPage()
    {
        const auto dialog = openDialog(110);
        auto *link = control<QLineEdit>(*dialog, "edtURL");
        QCOMPARE(link->text(), QStringLiteral("URL\u3000") + kWebPageAddress);
        QVERIFY(link->isReadOnly());
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(m_platform->openedUrls, QStringList{kWebPageAddress});
        QCOMPARE(control<QLabel>(*dialog, "Label6")->text(),
                 QStringLiteral("※メールチェックは、電話回線では使用できません"));
        QCOMPARE(m_errors, QStringList());
    }

    // Plain, and over TLS with a certificate of a test CA that SSL_CERT_FILE names.
    void realServerListsFourPositiveLines_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("plain") << "127.0.0.1:%1";
        QTest::newRow("TLS") << "pop3s://localhost:%1";
    }

    void realServerListsFourPositiveLines()
    {
        QFETCH(QString, host);
        if (DovecotServer::binary().isEmpty())
            QSKIP("the dovecot binary is not installed (Debian package dovecot-pop3d)");
        QTemporaryDir pki;
        DovecotServer::Tls tls;
        if (host.startsWith(QLatin1String("pop3s"))) {
            const QString made = DovecotServer::makeCertificates(pki.path());
            QVERIFY2(made.isEmpty(), qPrintable(made));
            tls = {pki.filePath("localhost.pem"), pki.filePath("localhost.key")};
            qputenv("SSL_CERT_FILE", QFile::encodeName(pki.filePath("ca.pem")));
        }
        const auto restore = qScopeGuard([] { qunsetenv("SSL_CERT_FILE"); });
        DovecotServer dovecot;
        const QString failure = dovecot.start(3, tls);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        const auto dialog = openDialog(dovecot.port());
        control<QLineEdit>(*dialog, "edtHost")->setText(host.arg(dovecot.port()));
        testButton(*dialog)->click();
        QCOMPARE(m_errors, QStringList());
        const QStringList lines = memoLines(*dialog);
        QCOMPARE(lines.size(), 4);
        for (const QString &line : lines)
            QVERIFY2(line.startsWith(QLatin1String("+OK")) && line == line.trimmed(), qPrintable(line));
        QCOMPARE(dialog->mailClient().MessageCount(), 3);
        QVERIFY(!dialog->mailClient().Connected());
    }
};

QTEST_MAIN(TestSetupMail)
#include "tst_setup_mail.moc"
