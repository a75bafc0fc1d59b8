// Soak: the show window changing pictures as fast as its settings allow (stay 10 ms,
// slide steps 1 ms apart, a move of 1 pixel) over 200 small pictures of which 10 are
// broken, while the window's own mail check runs on its timer against a scripted POP3
// peer, and what the window shows after each check is read. Resident memory after the first tenth of the changes, and
// the open file descriptors, must stay flat. Sizes come from the environment:
//   PANTEL_SOAK_CHANGES (default 300), PANTEL_SOAK_CHECKS (default 50),
//   PANTEL_SOAK_MAIL_MS (time between two mail checks, default 200)
// scripts/soak runs 10,000 changes and 2,000 checks a second apart.
#include "settings/SettingsStore.h"
#include "settings/SlotSettings.h"
#include "show/MailIndicator.h"
#include "show/Main.h"
#include "show/Panel.h"
#include "show/Timer.h"
#include "tests/MailFixture.h"
#include "tests/ScriptedPeer.h"
#include "tests/ShowFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define PANTEL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PANTEL_ASAN 1
#endif
#endif

namespace {

int envInt(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

int openDescriptors()
{
    return int(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());
}

double megabytes(qint64 bytes)
{
    return double(bytes) / (1024.0 * 1024.0);
}

} // namespace

class TestSoak : public ShowFixture
{
    Q_OBJECT

private:
    // 200 pictures, a few pixels to a few hundred, BMP and JPEG; every 20th is broken
    // in one of several ways.
    void makePictures()
    {
        QImage source(320, 240, QImage::Format_RGB32);
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x)
                source.setPixel(x, y, qRgb(x * 255 / 320, y * 255 / 240, (x + y) % 256));
        QByteArray validJpeg;
        for (int i = 0; i < 200; ++i) {
            const QSize size(24 + (i * 37) % 290, 16 + (i * 53) % 220);
            const QImage picture = source.scaled(size);
            const bool jpeg = i % 2 == 0;
            const QString path
                = m_pictures + QStringLiteral("/p%1.%2").arg(i, 3, 10, QLatin1Char('0')).arg(jpeg ? "jpg" : "bmp");
            if (i % 20 != 19) {
                QVERIFY(picture.save(path, jpeg ? "JPG" : "BMP"));
                if (jpeg && validJpeg.isEmpty()) {
                    QFile file(path);
                    QVERIFY(file.open(QIODevice::ReadOnly));
                    validJpeg = file.readAll();
                }
                continue;
            }
            QByteArray broken;
            switch ((i / 20) % 5) {
            case 0:
                broken = validJpeg.left(validJpeg.size() / 3);
                break; // cut short
            case 1:
                broken = QByteArray();
                break; // empty
            case 2:
                broken = QByteArray(4000, '\x5a');
                break; // garbage
            case 3:
                broken = QByteArray("BM") + QByteArray(60, '\xff');
                break; // a header of nonsense
            case 4:
                broken = validJpeg.left(2) + QByteArray(3000, '\0');
                break; // no frame at all
            }
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(broken);
        }
        QCOMPARE(QDir(m_pictures).entryList(QDir::Files).size(), 200);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(setUpProgram(), "no temporary folder for the settings");
        m_pictures = m_home.path() + QStringLiteral("/pictures");
        QVERIFY(QDir().mkpath(m_pictures));
        makePictures();
    }

    void showAndMailForLong()
    {
        const int changesWanted = envInt("PANTEL_SOAK_CHANGES", 300);
        const int checksWanted = envInt("PANTEL_SOAK_CHECKS", 50);
        const int mailInterval = envInt("PANTEL_SOAK_MAIL_MS", 200);
        {
            SettingsStore store;
            store.WriteString(SettingNames::Section, SettingNames::folder(0),
                              JoinSlot(300, 10, 1, 1, 10, QStringLiteral("clWhite"), m_pictures, QString()));
            store.WriteString(SettingNames::Section, SettingNames::Host, QStringLiteral("127.0.0.1"));
            store.WriteString(SettingNames::Section, SettingNames::UserID, QStringLiteral("alice"));
            store.WriteString(SettingNames::Section, SettingNames::Password, QStringLiteral("secret"));
            store.WriteBool(SettingNames::Section, SettingNames::MailCheckF, true);
        }
        setUpTest();

        // The window's own mail check, on its timer, against a server that plays each
        // check its part: every tenth check meets a mailbox that is locked, every tenth
        // a server that hangs up after its greeting, the rest find 0 to 3 messages.
        const auto fails = [](int n) { return n % 10 == 3 || n % 10 == 7; };
        TPantelForm *window = nullptr;
        int checks = 0; // checks ended and their indicator read
        int mailFound = 0;
        int mailFailures = 0;
        int indicatorWrong = 0;
        // What the window shows once check n has ended, read when the next begins: the
        // error mark after a failure, else no mark and mail waiting as the count said.
        const auto readIndicator = [&](int n) {
            const bool errorShown = !window->pnlError->isHidden();
            const bool waiting = window->mailIndicator()->mailWaiting();
            const bool right = fails(n) ? errorShown : !errorShown && waiting == (n % 4 != 0);
            mailFailures += errorShown;
            mailFound += !errorShown && waiting;
            if (!right && ++indicatorWrong <= 5)
                qWarning("soak: after mail check %d the window shows error %d, mail waiting %d", n, errorShown,
                         waiting);
            ++checks;
        };
        ScriptedPeer server([&](int n) -> PeerScript {
            if (n > 0 && n <= checksWanted)
                readIndicator(n - 1);
            if (n >= checksWanted)
                window->timMailCheck->setEnabled(false); // this one runs, and is the last
            if (n % 10 == 3)
                return loginSequence() + statSequence("-ERR mailbox locked") + quitSequence();
            if (n % 10 == 7)
                return greetingSequence() + closeConnection();
            return loginSequence() + statSequence("+OK " + QByteArray::number(n % 4) + " 100") + quitSequence();
        });

        TPantelForm::Environment environment;
        environment.seed = 7;
        environment.screenSize = QSize(1024, 768);
        SettingsStore().WriteString(SettingNames::Section, SettingNames::Host, localHost(server.port()));
        TPantelForm form(environment); // its start-up check is check 0
        window = &form;
        QCOMPARE(form.pictureCount(), 200);
        QCOMPARE(form.stayTime(), 10);
        QCOMPARE(form.slideInterval(), 1);
        QCOMPARE(form.moveAmount(), 1);
        QVERIFY(form.timMailCheck->enabled());
        form.timMailCheck->setInterval(mailInterval);
        // The move timer has a fixed 100 ms period; at 1 ms the move of one pixel between
        // two pictures takes no longer than a slide step, so the changes come as fast as
        // the stay and slide settings allow.
        form.timMove->setInterval(1);
        // The clock ticks every half second instead of every 30, so that the talk look
        // comes and goes many times in a run.
        form.timCheck->setInterval(500);

        int changes = 0;
        QObject::connect(form.timStay, &Timer::timeout, &form, [&changes] { ++changes; });
        int samples = 0;
        int talkSamples = 0;

        const int warmUp = qMax(1, changesWanted / 10);
        qint64 rssBase = -1;
        int fdBase = -1;
        qint64 rssMax = 0;
        int fdMax = 0;
        QElapsedTimer clock;
        clock.start();
        // A plain event loop runs the show: QTRY_* waits would sleep 10 ms between
        // their rounds of events and hold back the 1 ms slide steps.
        QEventLoop loop;
        const qint64 limitMs = qint64(changesWanted) * 1000 + qint64(checksWanted) * (mailInterval + 3000) + 60000;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, &form, [&] {
            if ((changes >= changesWanted && checks >= checksWanted) || clock.elapsed() > limitMs)
                loop.quit();
            if (rssBase < 0 && changes >= warmUp) {
                rssBase = residentBytes();
                fdBase = openDescriptors();
            }
            ++samples;
            talkSamples += form.mailIndicator()->talkShown();
            if (rssBase >= 0) {
                rssMax = qMax(rssMax, residentBytes());
                fdMax = qMax(fdMax, openDescriptors());
            }
        });
        sampler.start(250);

        loop.exec();
        form.timMailCheck->setEnabled(false);
        sampler.stop();
        // The last check may still be talking to the server.
        QTRY_VERIFY_WITH_TIMEOUT(!form.mailIndicator()->mailCheckRunning(), 10000);
        QCoreApplication::processEvents();
        const qint64 rssEnd = residentBytes();
        const int fdEnd = openDescriptors();
        const double seconds = clock.elapsed() / 1000.0;

        qInfo("soak: %d picture changes (%.1f a second), %d mail checks (%d found mail, %d failed) in %.1f s; "
              "the talk look in %d of %d samples",
              changes, changes / seconds, checks, mailFound, mailFailures, seconds, talkSamples, samples);
        qInfo("soak: resident memory after %d changes %.1f MB, at the end %.1f MB (growth %.2f MB, peak %.1f MB)",
              warmUp, megabytes(rssBase), megabytes(rssEnd), megabytes(rssEnd - rssBase), megabytes(rssMax));
        qInfo("soak: open file descriptors after %d changes %d, at the end %d, peak %d", warmUp, fdBase, fdEnd, fdMax);

        QVERIFY2(changes >= changesWanted, "the show stalled");
        QVERIFY2(checks >= checksWanted, "the mail checks stalled");
        QCOMPARE(indicatorWrong, 0);
        QCOMPARE(mailFailures, checksWanted / 10 * 2 + (checksWanted % 10 > 3) + (checksWanted % 10 > 7));
        QVERIFY(server.mismatches.isEmpty());
        // Mail waits after most checks, so the frame takes the talk look at clock ticks.
        if (seconds > 5)
            QVERIFY(talkSamples > 0 && talkSamples < samples);
        QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join(u'\n')));
        QVERIFY(rssBase > 0 && fdBase > 0);
        // Descriptors: the same count at the end; a check or a picture may be open at a
        // sample, so the peak may lie a few above.
        QVERIFY2(fdEnd <= fdBase, qPrintable(QStringLiteral("%1 -> %2").arg(fdBase).arg(fdEnd)));
        QVERIFY2(fdMax <= fdBase + 4, qPrintable(QStringLiteral("peak %1").arg(fdMax)));
#ifndef PANTEL_ASAN
        // Under AddressSanitizer freed memory is held back in quarantine, so resident
        // memory says nothing there; LeakSanitizer checks for leaks at the exit instead.
        QVERIFY2(rssEnd - rssBase < 5 * 1024 * 1024,
                 qPrintable(QStringLiteral("grew %1 MB").arg(megabytes(rssEnd - rssBase))));
#endif
        form.FormKeyDown();
        QTRY_VERIFY(form.closing());
    }
};

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
