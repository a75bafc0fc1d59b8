// The picture catalogue: which names count as pictures, what a folder's list holds and
// the order it comes in (the locale's, without regard to case).
#include "show/PictureCatalogue.h"

#include "platform/TerminationSignal.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <sys/fsuid.h>
#include <unistd.h>

class TestCatalogue : public QObject
{
    Q_OBJECT

    static bool touch(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly);
    }

    // A folder with a picture in it that its owner has taken every permission from.
    QTemporaryDir m_locked;

private slots:
    void initTestCase()
    {
        QVERIFY(m_locked.isValid());
        const QString locked = m_locked.filePath(QStringLiteral("locked"));
        QVERIFY(QDir(m_locked.path()).mkdir(QStringLiteral("locked")));
        QVERIFY(touch(locked + QStringLiteral("/a.jpg")));
        QVERIFY(QFile::setPermissions(m_locked.path(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                          | QFile::ExeOther));
        QVERIFY(QFile::setPermissions(locked, {}));
    }

    void cleanupTestCase()
    {
        // The temporary folder can only be removed with its content readable again.
        QFile::setPermissions(m_locked.filePath(QStringLiteral("locked")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void pictureNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("picture");
        QTest::addColumn<bool>("allFormats");
        QTest::newRow("jpg") << "a.jpg" << true << false;
        QTest::newRow("JPG") << "A.JPG" << true << false;
        QTest::newRow("mixed case") << "a.JpEg" << true << false;
        QTest::newRow("bmp") << "a.bmp" << true << false;
        QTest::newRow("extension alone") << ".jpg" << true << false;
        QTest::newRow("hidden") << ".beach.jpeg" << true << false;
        QTest::newRow("two dots, last counts") << "a.bmp.jpg" << true << false;
        QTest::newRow("partial download") << "a.jpg.part" << false << false;
        QTest::newRow("no dot") << "jpg" << false << false;
        QTest::newRow("ends in a dot") << "a.jpg." << false << false;
        QTest::newRow("jpe") << "a.jpe" << false << false;
        QTest::newRow("png") << "a.png" << false << false;
        QTest::newRow("blank after") << "a.jpg " << false << false;
        // Only ASCII letters are upper-cased: a dotless i does not make "JPG".
        QTest::newRow("Turkish dotless i") << QStringLiteral("a.b\u0131p") << false << false;
        QTest::newRow("fullwidth") << QStringLiteral("a.\uFF4A\uFF50\uFF47") << false << false;
        // With every format, these count as well; anything else still does not.
        for (const char *name :
             {"a.png", "a.GIF", "a.webp", "a.tif", "a.TIFF", "a.heic", "a.Heif", "a.avif", "a.jpg", "a.bmp"})
            QTest::addRow("all formats: %s", name) << QString::fromLatin1(name) << true << true;
        for (const char *name : {"a.txt", "a.jxl", "a.svg", "a.png.part"})
            QTest::addRow("all formats: %s", name) << QString::fromLatin1(name) << false << true;
    }

    void pictureNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, picture);
        QFETCH(bool, allFormats);
        QCOMPARE(isPictureFileName(name, allFormats), picture);
    }

    // The rule the dialog's sample and the show's first picture use: the first folder of
    // the tree with pictures; with sub-folders off, the folder's own.
    void firstFolderPictures_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("subFolders");
        QTest::addColumn<QStringList>("first");
        const QStringList nested{"2019/08 Hokkaido/b.jpg", "2019/08 Hokkaido/a.JPG", "2020/c.bmp", ".hidden/d.jpg"};
        QTest::newRow("nested, sub-folders on")
            << nested << true << QStringList{"2019/08 Hokkaido/a.JPG", "2019/08 Hokkaido/b.jpg"};
        QTest::newRow("nested, sub-folders off") << nested << false << QStringList{};
        QTest::newRow("own pictures first") << (nested + QStringList{"z.jpg"}) << true << QStringList{"z.jpg"};
        QTest::newRow("hidden folder only") << QStringList{".hidden/d.jpg"} << true << QStringList{};
        QTest::newRow("flat, sub-folders off")
            << QStringList{"b.jpg", "a.bmp"} << false << QStringList{"a.bmp", "b.jpg"};
    }

    void firstFolderPictures()
    {
        QFETCH(QStringList, files);
        QFETCH(bool, subFolders);
        QFETCH(QStringList, first);
        QTemporaryDir folder;
        for (const QString &file : files) {
            QVERIFY(QDir(folder.path()).mkpath(QFileInfo(folder.filePath(file)).path()));
            QVERIFY(touch(folder.filePath(file)));
        }
        QStringList expected;
        for (const QString &file : first)
            expected << folder.filePath(file);
        QCOMPARE(::firstFolderPictures(folder.path(), subFolders), expected);
    }

    void folderList()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        for (const char *name : {"b.JPG", "a.jpg", "C.bmp", ".hidden.jpeg", "notes.txt", "x.jpg.part", "noext"})
            QVERIFY(touch(folder.filePath(QString::fromLatin1(name))));
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("sub.jpg")));        // listed; the loader skips it
        QVERIFY(touch(folder.filePath(QStringLiteral("sub.jpg/inner.jpg")))); // sub-folders are not entered

        const QString base = folder.path() + QLatin1Char('/');
        QCOMPARE(listPictureFiles(folder.path()),
                 (QStringList{base + ".hidden.jpeg", base + "a.jpg", base + "b.JPG", base + "C.bmp",
                              base + "sub.jpg"}));
    }

    // The listing of a folder of hundreds of thousands of entries takes most of a second;
    // once SIGTERM has come it stops, since the program is ending.
    void folderListEndsAtTermination()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        for (const char *name : {"b.jpg", "a.jpg", "c.bmp"})
            QVERIFY(touch(folder.filePath(QString::fromLatin1(name))));
        TerminationSignal termination;
        QCOMPARE(listPictureFiles(folder.path()).size(), 3);
        ::raise(SIGTERM);
        QVERIFY(terminationPending());
        QVERIFY(listPictureFiles(folder.path()).isEmpty());
    }

    void folderListNothing_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("empty text") << QString();
        QTest::newRow("missing folder") << QStringLiteral("/nonexistent/pantel/pictures");
        QTest::newRow("a file, not a folder") << QCoreApplication::applicationFilePath();
        QTest::newRow("folder that cannot be opened") << m_locked.filePath(QStringLiteral("locked"));
    }

    void folderListNothing()
    {
        QFETCH(QString, folder);
        // Listed with an ordinary user's rights: root opens any folder. The file-system
        // user id is this thread's alone and goes back to what it was after the listing.
        const uid_t before = uid_t(setfsuid(geteuid() == 0 ? 65534 : geteuid()));
        const QStringList listed = listPictureFiles(folder);
        setfsuid(before);
        QVERIFY(listed.isEmpty());
    }

    // A name that is not valid UTF-8 cannot be named again by any text, so the listing
    // leaves it out; every valid name is listed as its bytes say, a leading byte order
    // mark and non-characters included.
    void undecodableNames_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("listed");
        QTest::newRow("accent") << QByteArray("\xc3\xa9t\xc3\xa9.jpg") << true;
        QTest::newRow("Latin-1 byte") << QByteArray("\xe9t\xe9.jpg") << false;
        QTest::newRow("cut-off sequence") << QByteArray("a\xe3\x81.jpg") << false;
        QTest::newRow("overlong dot") << QByteArray("a\xc0\xae.jpg") << false;
        QTest::newRow("surrogate") << QByteArray("a\xed\xa0\x80.jpg") << false;
        QTest::newRow("beyond U+10FFFF") << QByteArray("a\xf4\x90\x80\x80.jpg") << false;
        QTest::newRow("U+10FFFF") << QByteArray("a\xf4\x8f\xbf\xbf.jpg") << true;
        QTest::newRow("byte order mark first") << QByteArray("\xef\xbb\xbf"
                                                             "a.jpg")
                                               << true;
    }

    void undecodableNames()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, listed);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QByteArray path = QFile::encodeName(folder.path()) + '/' + name;
        const int made = ::creat(path.constData(), 0644); // QFile would take a text
        QVERIFY(made >= 0);
        ::close(made);
        // QTemporaryDir cannot name such a file to remove it either.
        const auto remove = qScopeGuard([&path] { ::unlink(path.constData()); });
        // Decoded as part of the whole path, as any path is: a byte order mark inside a
        // text is a character.
        const QStringList expected{QFile::decodeName(path)};
        QCOMPARE(listPictureFiles(folder.path()), listed ? expected : QStringList());
    }

    // The list is sorted by sort keys made once a name; the order must be the one the
    // locale's own comparison gives, for accents, Japanese, digits and case alike.
    void orderIsTheLocalesComparison()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QStringList stems{QStringLiteral("Été"),      QStringLiteral("ete"),     QStringLiteral("旅行"),
                                QStringLiteral("りょこう"), QStringLiteral("IMG_10"),  QStringLiteral("img_9"),
                                QStringLiteral("Zebra"),    QStringLiteral("zebra 2"), QStringLiteral("_x"),
                                QStringLiteral("Ärger"),    QStringLiteral("arg"),     QStringLiteral("0001")};
        const QStringList extensions{QStringLiteral(".jpg"), QStringLiteral(".BMP"), QStringLiteral(".Jpeg")};
        for (const QString &stem : stems)
            for (const QString &extension : extensions)
                QVERIFY(touch(folder.filePath(stem + extension)));

        const QStringList listed = listPictureFiles(folder.path());
        QCOMPARE(listed.size(), stems.size() * extensions.size());
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        for (qsizetype i = 1; i < listed.size(); ++i)
            QVERIFY2(collator.compare(listed[i - 1], listed[i]) <= 0,
                     qPrintable(listed[i - 1] + QLatin1String(" before ") + listed[i]));
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
