// The picture catalogue: which names count as pictures, what a folder's list holds and
// the order it comes in (the locale's, without regard to case).
#include "show/PictureCatalogue.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

class TestCatalogue : public QObject
{
    Q_OBJECT

    static bool touch(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly);
    }

private slots:
    void pictureNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("picture");
        QTest::newRow("jpg") << "a.jpg" << true;
        QTest::newRow("JPG") << "A.JPG" << true;
        QTest::newRow("mixed case") << "a.JpEg" << true;
        QTest::newRow("bmp") << "a.bmp" << true;
        QTest::newRow("extension alone") << ".jpg" << true;
        QTest::newRow("hidden") << ".beach.jpeg" << true;
        QTest::newRow("two dots, last counts") << "a.bmp.jpg" << true;
        QTest::newRow("partial download") << "a.jpg.part" << false;
        QTest::newRow("no dot") << "jpg" << false;
        QTest::newRow("ends in a dot") << "a.jpg." << false;
        QTest::newRow("jpe") << "a.jpe" << false;
        QTest::newRow("png") << "a.png" << false;
        QTest::newRow("blank after") << "a.jpg " << false;
        // Only ASCII letters are upper-cased: a dotless i does not make "JPG".
        QTest::newRow("Turkish dotless i") << QStringLiteral("a.b\u0131p") << false;
        QTest::newRow("fullwidth") << QStringLiteral("a.\uFF4A\uFF50\uFF47") << false;
    }

    void pictureNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, picture);
        QCOMPARE(isPictureFileName(name), picture);
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

    void folderListNothing_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("empty text") << QString();
        QTest::newRow("missing folder") << QStringLiteral("/nonexistent/pantel/pictures");
        QTest::newRow("a file, not a folder") << QCoreApplication::applicationFilePath();
    }

    void folderListNothing()
    {
        QFETCH(QString, folder);
        QVERIFY(listPictureFiles(folder).isEmpty());
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
