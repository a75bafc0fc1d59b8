#include "PictureCatalogue.h"

#include "SettingsText.h"

#include <QCollator>
#include <QDir>
#include <algorithm>

bool isPictureFileName(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    const QString extension = upperAscii(name.mid(dot));
    return extension == QLatin1String(".BMP") || extension == QLatin1String(".JPG")
        || extension == QLatin1String(".JPEG");
}

QStringList listPictureFiles(const QString &folder)
{
    QStringList pictures;
    if (folder.isEmpty())
        return pictures;
    // Every entry, hidden and system ones included; the attributes are not looked at, so
    // a sub-folder named like a picture is listed too (the loader skips it).
    const QDir dir(folder);
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                            QDir::Unsorted);
    for (const QString &name : names) {
        if (isPictureFileName(name))
            pictures << folder + QLatin1Char('/') + name;
    }
    QCollator collator;  // the user's locale
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(pictures.begin(), pictures.end(),
                     [&collator](const QString &a, const QString &b) { return collator.compare(a, b) < 0; });
    return pictures;
}
