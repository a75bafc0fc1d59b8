#include "show/PictureCatalogue.h"

#include "settings/SettingsText.h"

#include <QCollator>
#include <QDir>
#include <algorithm>
#include <utility>
#include <vector>

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
    const QStringList names
        = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString &name : names) {
        if (isPictureFileName(name))
            pictures << folder + QLatin1Char('/') + name;
    }
    QCollator collator; // the user's locale
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // In the C locale the collator compares case-folded UTF-16 code units, but its sort
    // keys would not fold the case; compare directly there.
    if (collator.locale().language() == QLocale::C) {
        std::stable_sort(pictures.begin(), pictures.end(),
                         [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
        return pictures;
    }
    // Elsewhere one sort key a path, made once, instead of the locale's comparison over
    // and over (a folder of 20,000 pictures would call it some 300,000 times).
    std::vector<std::pair<QCollatorSortKey, qsizetype>> keys;
    keys.reserve(size_t(pictures.size()));
    for (qsizetype i = 0; i < pictures.size(); ++i)
        keys.emplace_back(collator.sortKey(pictures[i]), i);
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto &a, const auto &b) { return a.first.compare(b.first) < 0; });
    QStringList sorted;
    sorted.reserve(pictures.size());
    for (const auto &key : keys)
        sorted << pictures[key.second];
    return sorted;
}
