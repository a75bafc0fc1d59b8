// The settings store under awkward values, two writing processes at once, a place where
// nothing can be saved, and a save lock in the way.
#include "SetupFixture.h"

#include "platform/ErrorReport.h"
#include "platform/Exception.h"
#include "platform/FakePlatform.h"
#include "platform/JapaneseFonts.h"
#include "platform/PreviewParent.h"
#include "platform/TerminationSignal.h"
#include "settings/SettingsStore.h"
#include "settings/SlotSettings.h"
#include "show/Main.h"
#include "show/Timer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

class TestSettingsHostile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QStringList m_errors;

    static QString writerHelper()
    {
        return QCoreApplication::applicationDirPath() + QStringLiteral("/settings_writer");
    }

    // Runs `work` with the file unable to grow past `bytes`, the way a full disk or a
    // read-only file stops a save (root ignores file modes).
    template <typename Work> static void withFileSizeLimit(rlim_t bytes, Work work)
    {
        struct sigaction ignore
        {};
        ignore.sa_handler = SIG_IGN;
        struct sigaction previous
        {};
        sigaction(SIGXFSZ, &ignore, &previous);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limit = old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
        work();
        setrlimit(RLIMIT_FSIZE, &old);
        sigaction(SIGXFSZ, &previous, nullptr);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        installJapaneseFontSubstitutions();
        setErrorSink([this](const QString &text) { m_errors << text; });
    }

    void init()
    {
        qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit());
        QFile::remove(SettingsStore::filePath());
        QFile::remove(SettingsStore::lockFilePath());
        QDir().rmdir(SettingsStore::lockFilePath());
        m_errors.clear();
    }

    void awkwardValuesRoundTrip_data()
    {
        QTest::addColumn<QString>("value");
        for (const char *special : {",", ";", "=", "\"", "@", "\\", "#", "[", "]"}) {
            const QString s = QString::fromLatin1(special);
            QTest::addRow("%s alone", special) << s;
            QTest::addRow("%s first", special) << s + QStringLiteral("abc");
            QTest::addRow("%s last", special) << QStringLiteral("abc") + s;
            QTest::addRow("%s twice inside", special) << QStringLiteral("a") + s + s + QStringLiteral("b");
        }
        QTest::newRow("leading blanks") << "   /pictures";
        QTest::newRow("trailing blanks") << "/pictures   ";
        QTest::newRow("only blanks") << "   ";
        QTest::newRow("tab first") << "\t/pictures";
        QTest::newRow("quoted") << "\"quoted\"";
        QTest::newRow("variant look-alike") << "@Variant(\\0\\0\\0\\x7f)";
        QTest::newRow("byte array look-alike") << "@ByteArray(x)";
        QTest::newRow("invalid look-alike") << "@Invalid()";
        QTest::newRow("backslash escapes") << "C:\\new\\table\\x41";
        QTest::newRow("all of them") << " ,;=\"@\\ mixed, \"a=b\"; c@d\\e ";
        QTest::newRow("slot with every kind")
            << JoinSlot(450, 5000, 100, 20, 10, " clRed", QStringLiteral("  /p;q=\"r\"@s\\t"), "\\\\host\\f.bmp");
        QTest::newRow("line break") << "a\nb\r\nc";
        QTest::newRow("japanese") << "写真;フォルダ=\"一\"";
    }

    void awkwardValuesRoundTrip()
    {
        QFETCH(QString, value);
        {
            SettingsStore store;
            store.WriteString("Config", "Host", value);
            store.WriteString("Config", "UserID", QStringLiteral("after"));
        }
        SettingsStore store;
        QCOMPARE(store.ReadString("Config", "Host", "missing"), value);
        QCOMPARE(store.ReadString("Config", "UserID", "missing"), QStringLiteral("after"));
    }

    void largeFileReadOnce_data()
    {
        QTest::addColumn<bool>("manyKeys");
        QTest::newRow("50 MB of other keys") << true;
        QTest::newRow("a 50 MB value") << false;
    }

    // A hand-edited file of 50 MB is read once for the whole load, not once for each of
    // its 13 values: it takes about as long as one reading of the file.
    void largeFileReadOnce()
    {
        QFETCH(bool, manyKeys);
        QByteArray content = "[Config]\nFolder0=\"600,7000,50,70,45,clRed,/pics,\"\nStartNo=0\n";
        if (manyKeys) {
            for (int i = 0; content.size() < 50'000'000; ++i)
                content += "Junk" + QByteArray::number(i) + "=some text that fills the line to fifty bytes\n";
        } else {
            content += "Host=" + QByteArray(50'000'000, 'h') + '\n';
        }
        const SettingsStore makesTheFolder;
        const QString path = SettingsStore::filePath();
        const QString copy = m_home.filePath(QStringLiteral("reference.conf"));
        for (const QString &file : {path, copy}) {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(out.write(content), content.size());
        }
        QElapsedTimer timer;
        timer.start();
        {
            QSettings reference(copy, QSettings::IniFormat);
            QVERIFY(reference.value(QStringLiteral("Config/Folder0")).isValid());
        }
        const qint64 oneReading = timer.restart();
        const StoredSettings settings = readSettings(SettingsStore());
        const qint64 load = timer.elapsed();
        QFile::remove(copy);
        QCOMPARE(settings.folders[0], QStringLiteral("600,7000,50,70,45,clRed,/pics,"));
        QCOMPARE(settings.host.size(), manyKeys ? 0 : 50'000'000);
        QVERIFY2(load < 3 * oneReading + 500,
                 qPrintable(QStringLiteral("load %1 ms, one reading %2 ms").arg(load).arg(oneReading)));
    }

    void twoProcessesLoseNothing()
    {
        const QString helper = writerHelper();
        QVERIFY(QFile::exists(helper));
        constexpr int kSaves = 500;
        QProcess a;
        QProcess b;
        a.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        b.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        a.start(helper, {QStringLiteral("A"), QString::number(kSaves)});
        b.start(helper, {QStringLiteral("B"), QString::number(kSaves)});
        QVERIFY(a.waitForFinished(240000));
        QVERIFY(b.waitForFinished(240000));
        QCOMPARE(a.exitStatus(), QProcess::NormalExit);
        QCOMPARE(b.exitStatus(), QProcess::NormalExit);
        QCOMPARE(a.exitCode(), 0);
        QCOMPARE(b.exitCode(), 0);
        SettingsStore store;
        QStringList lost;
        for (const QString &prefix : {QStringLiteral("A"), QStringLiteral("B")}) {
            for (int i = 0; i < kSaves; ++i) {
                const QString name = prefix + QString::number(i);
                if (store.ReadString("Config", name, QString()) != QStringLiteral("%1 value %2").arg(prefix).arg(i))
                    lost << name;
            }
        }
        QVERIFY2(lost.isEmpty(), qPrintable(QStringLiteral("lost: ") + lost.join(u' ')));
        QCOMPARE(QFileInfo(SettingsStore::filePath()).permissions() & 0x0777, QFile::ReadUser | QFile::WriteUser);
    }

    // What two saves in the same millisecond leave behind: another process's save of the
    // same size and the same modification time. The next save here must still keep it.
    void sameSizeSameMillisecondSaveIsKept()
    {
        SettingsStore store;
        store.WriteString("Config", "Host", QStringLiteral("A"));
        const QByteArray path = QFile::encodeName(SettingsStore::filePath());
        struct stat before
        {};
        QCOMPARE(::stat(path.constData(), &before), 0);
        QFile file(SettingsStore::filePath());
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray content = file.readAll();
        content.replace("Host=A", "Host=B");
        QVERIFY(file.seek(0) && file.write(content) == content.size());
        file.close();
        const timespec times[2] = {before.st_atim, before.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, path.constData(), times, 0), 0);
        store.WriteString("Config", "UserID", QStringLiteral("after"));
        QCOMPARE(SettingsStore().ReadString("Config", "Host", "missing"), QStringLiteral("B"));
    }

    void nowhereToSaveGivesTheStoreMessage_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("folder that cannot exist") << "/proc/self/no-such-place";
        QTest::newRow("file name taken by a folder") << "folder-as-file";
    }

    void nowhereToSaveGivesTheStoreMessage()
    {
        QFETCH(QString, where);
        QString home = where;
        if (!where.startsWith(QLatin1Char('/'))) {
            home = m_home.path() + QLatin1Char('/') + where;
            QVERIFY(QDir().mkpath(home + QStringLiteral("/Brightwel/Pantel.conf")));
        }
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home));
        QString message;
        try {
            SettingsStore store;
            store.WriteBool("Config", "OrderF", true);
        } catch (const Exception &e) {
            message = e.message();
        }
        QCOMPARE(message, QStringLiteral("キー Config の作成に失敗しました"));
        // Nothing can be read there either: the saver starts on the defaults and runs.
        FakePlatform::installFake();
        setPreviewParent(0);
        TPantelForm::Environment environment;
        environment.seed = 1;
        TPantelForm form(environment);
        QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join(u'\n')));
        QCOMPARE(form.frameSize(), 450);
        QCOMPARE(form.stayTime(), 5000);
        QCOMPARE(form.slideInterval(), 100);
        QCOMPARE(form.moveAmount(), 20);
        QCOMPARE(form.frameWidth(), 10);
        QVERIFY(!form.closing());
        form.FormKeyDown();
        QTRY_VERIFY(form.closing());
    }

    // The lock beside the settings in the way of the saver's folder rotation and of the
    // dialog's OK. The saver gives up after a second, the dialog keeps painting and shows
    // the wait cursor; SIGTERM ends either wait at once; a lock whose process is gone is
    // taken. The message names the lock file ('%1') and its process (%2).
    void lockInTheWay_data()
    {
        QTest::addColumn<QString>("lock");
        QTest::addColumn<bool>("dialog");
        QTest::addColumn<bool>("terminate");
        QTest::addColumn<int>("atMostMs");
        QTest::addColumn<QString>("expected"); // empty: saved
        const QString folder = QStringLiteral("ロックファイル '%1' がフォルダのため、設定の保存に失敗しました");
        const QString held
            = QStringLiteral("ロックファイル '%1' をプロセス %2 が使用中のため、設定の保存に失敗しました");
        const QString stuck = QStringLiteral("ロックファイル '%1' を削除できないため、設定の保存に失敗しました");
        const QString ended = QStringLiteral("終了の指示により、ロックファイル '%1' を待つのをやめました");
        // Bounds well below the waits they rule out (the saver's second, the dialog's ten
        // seconds), with room for a loaded machine; the texts tell which way each wait ended.
        for (const bool dialog : {false, true}) {
            const char *who = dialog ? "dialog's OK" : "saver's start";
            QTest::addRow("%s, a folder", who) << "folder" << dialog << false << 2000 << folder;
            QTest::addRow("%s, its process gone", who) << "gone" << dialog << false << 2000 << QString();
            QTest::addRow("%s, SIGTERM while a live process holds it", who)
                << "live" << dialog << true << (dialog ? 5000 : 2000) << ended;
        }
        QTest::newRow("saver's start, a live process") << "live" << false << false << 5000 << held;
        QTest::newRow("saver's start, process gone, cannot be removed") << "stuck" << false << false << 5000 << stuck;
        // Released when the wait cursor shows.
        QTest::newRow("dialog's OK, a live process") << "live" << true << false << 5000 << QString();
    }

    void lockInTheWay()
    {
        QFETCH(QString, lock);
        QFETCH(bool, dialog);
        QFETCH(bool, terminate);
        QFETCH(int, atMostMs);
        QFETCH(QString, expected);
        {
            SettingsStore store;
            store.WriteBool("Config", "OrderF", true);
            store.WriteString("Config", "Folder2", "450,5000,100,20,10,clWhite,/nowhere,");
        }
        const QString lockPath = SettingsStore::lockFilePath();
        QProcess holder;
        qint64 holderId = 0;
        if (lock == QLatin1String("folder")) {
            QVERIFY(QDir().mkdir(lockPath));
        } else {
            holder.start(writerHelper(), {QStringLiteral("hold")});
            QVERIFY(holder.waitForReadyRead(10000));
            QCOMPARE(holder.readAll(), QByteArray("held\n"));
            holderId = holder.processId();
        }
        if (lock == QLatin1String("gone")) {
            holder.kill();
            QVERIFY(holder.waitForFinished(10000));
            QVERIFY(QFile::exists(lockPath));
        } else if (lock == QLatin1String("stuck")) {
            // The file names a process that cannot exist, while the helper still holds
            // the file itself, so that it cannot be removed.
            QFile file(lockPath);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QByteArray content = file.readAll();
            content = "999999999" + content.mid(content.indexOf('\n'));
            QVERIFY(file.resize(0) && file.write(content) == content.size());
        }
        std::unique_ptr<TerminationSignal> termination;
        if (terminate)
            termination = std::make_unique<TerminationSignal>();

        QElapsedTimer clock;
        qint64 elapsed = 0;
        if (dialog) {
            TSetupForm form(std::make_unique<NoDialogs>());
            form.show();
            bool waitCursorSeen = false;
            QTimer watch;
            connect(&watch, &QTimer::timeout, this, [&] {
                const QCursor *cursor = QApplication::overrideCursor();
                if (waitCursorSeen || !cursor || cursor->shape() != Qt::WaitCursor)
                    return;
                waitCursorSeen = true;
                if (terminate)
                    ::raise(SIGTERM);
                else
                    holder.closeWriteChannel();
            });
            watch.start(10);
            clock.start();
            QTest::mouseClick(form.findChild<QPushButton *>(QStringLiteral("OKBtn")), Qt::LeftButton);
            elapsed = clock.elapsed();
            QCOMPARE(waitCursorSeen, lock == QLatin1String("live"));
            QVERIFY(!QApplication::overrideCursor());
            // Closed after the save or its failure; SIGTERM's own handler cancels it.
            QCOMPARE(form.isVisible(), terminate);
        } else {
            if (terminate)
                ::raise(SIGTERM);
            FakePlatform::installFake();
            setPreviewParent(0);
            TPantelForm::Environment environment;
            environment.seed = 1;
            clock.start();
            TPantelForm form(environment);
            elapsed = clock.elapsed();
            QCOMPARE(form.folderIndex(), 2);
        }
        termination.reset();
        holder.closeWriteChannel();
        QVERIFY(holder.state() == QProcess::NotRunning || holder.waitForFinished(10000));
        QDir().rmdir(lockPath);

        QVERIFY2(elapsed <= atMostMs, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
        if (expected.isEmpty()) {
            QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join(u'\n')));
            QCOMPARE(SettingsStore().ReadString("Config", "StartNo", "absent"), QString(dialog ? "0" : "2"));
        } else {
            expected.replace(QStringLiteral("%1"), lockPath).replace(QStringLiteral("%2"), QString::number(holderId));
            QCOMPARE(m_errors, QStringList{expected});
            QCOMPARE(SettingsStore().ReadString("Config", "StartNo", "absent"), QStringLiteral("absent"));
        }
    }

    void rotationWithAFullDiskReportsAndRuns()
    {
        // Folder rotation saves the next slot at every start. When that save fails the
        // store's message is shown, and the saver still comes up.
        {
            SettingsStore store;
            store.WriteBool("Config", "OrderF", true);
            store.WriteString("Config", "Folder2", "450,5000,100,20,10,clWhite,/nowhere,");
        }
        const qint64 size = QFileInfo(SettingsStore::filePath()).size();
        FakePlatform::installFake();
        setPreviewParent(0);
        std::unique_ptr<TPantelForm> form;
        withFileSizeLimit(rlim_t(size / 2), [&] {
            TPantelForm::Environment environment;
            environment.seed = 1;
            form = std::make_unique<TPantelForm>(environment);
        });
        QCOMPARE(m_errors, QStringList{QStringLiteral("'StartNo' の設定に失敗しました")});
        QVERIFY(!form->closing());
        QCOMPARE(form->folderIndex(), 2);
        form->FormKeyDown();
        QTRY_VERIFY(form->closing());
        m_errors.clear();
    }
};

QTEST_MAIN(TestSettingsHostile)
#include "tst_settings_hostile.moc"
