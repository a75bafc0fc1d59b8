#include "show/PictureCatalogue.h"

#include "platform/Platform.h"
#include "platform/TerminationSignal.h"

#include <QCollator>
#include <QStringBuilder>
#include <algorithm>
#include <numeric>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

bool isPictureFileName(QStringView name, bool allFormats)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    // The extension with its ASCII letters upper-cased, compared in place: a folder of
    // 20,000 names would otherwise make 40,000 short-lived copies.
    const QStringView extension = name.sliced(dot);
    const auto is = [extension](QLatin1StringView upper) {
        if (extension.size() != upper.size())
            return false;
        for (qsizetype i = 0; i < upper.size(); ++i) {
            char16_t c = extension[i].unicode();
            if (c >= u'a' && c <= u'z')
                c = char16_t(c - (u'a' - u'A'));
            if (c != char16_t(upper[i].unicode()))
                return false;
        }
        return true;
    };
    if (is(QLatin1StringView(".BMP")) || is(QLatin1StringView(".JPG")) || is(QLatin1StringView(".JPEG")))
        return true;
    if (!allFormats)
        return false;
    static constexpr QLatin1StringView kOthers[]{QLatin1StringView(".PNG"),  QLatin1StringView(".GIF"),
                                                 QLatin1StringView(".WEBP"), QLatin1StringView(".TIF"),
                                                 QLatin1StringView(".TIFF"), QLatin1StringView(".HEIC"),
                                                 QLatin1StringView(".HEIF"), QLatin1StringView(".AVIF")};
    return std::any_of(std::begin(kOthers), std::end(kOthers), is);
}

namespace {

// How many paths the locale's comparison sorts without keys.
constexpr qsizetype kComparedUpTo = 64;

// The length of the start that all texts share, short of a surrogate pair's first half
// (a pair folds as one character).
qsizetype sharedStart(const QStringList &texts)
{
    if (texts.isEmpty())
        return 0;
    const QStringView first = texts.front();
    qsizetype shared = first.size();
    for (const QString &text : texts) {
        const qsizetype length = std::min(shared, text.size());
        shared = std::mismatch(first.begin(), first.begin() + length, text.begin()).first - first.begin();
    }
    if (shared > 0 && first[shared - 1].isHighSurrogate())
        --shared;
    return shared;
}

// The keys by which QString's case-blind comparison orders texts: each UTF-16 unit
// case-folded, a low surrogate as the whole folded character it ends. Two keys compare
// as their texts do, so each text is folded once instead of at every comparison. The
// start that all texts share decides nothing and is left out (in one folder's paths it
// is most of each), and all keys lie in one buffer. Empty once SIGTERM has come.
class CaseBlindKeys
{
public:
    explicit CaseBlindKeys(const QStringList &texts)
    {
        const qsizetype shared = sharedStart(texts);
        std::vector<size_t> ends;
        ends.reserve(size_t(texts.size()));
        for (const QString &text : texts) {
            if (terminationPending())
                return;
            fold(QStringView(text).sliced(shared));
            ends.push_back(m_folded.size());
        }
        m_keys.reserve(ends.size());
        size_t begin = 0;
        for (const size_t end : ends) {
            m_keys.emplace_back(m_folded.data() + begin, end - begin);
            begin = end;
        }
    }

    const std::vector<std::u32string_view> &keys() const { return m_keys; }

private:
    void fold(QStringView text)
    {
        char16_t last = 0;
        for (const QChar unit : text) {
            char32_t character = unit.unicode();
            // ASCII folds to its lower case, and most names are ASCII.
            if (character < 0x80) {
                m_folded.push_back(character >= U'A' && character <= U'Z' ? character + (U'a' - U'A') : character);
            } else {
                if (QChar::isLowSurrogate(character) && QChar::isHighSurrogate(last))
                    character = QChar::surrogateToUcs4(last, char16_t(character));
                m_folded.push_back(QChar::toCaseFolded(character));
            }
            last = unit.unicode();
        }
    }

    std::u32string m_folded;
    std::vector<std::u32string_view> m_keys;
};

// The entries in the order of their keys (one key an entry, same index); entries with
// equal keys keep their order.
// Once SIGTERM has come the order no longer matters (the program is ending): every
// comparison then says "equal" at once, the sort of a huge folder ends in a moment and
// nothing is listed.
template <typename Key> QStringList sortedByKeys(QStringList entries, const std::vector<Key> &keys)
{
    std::vector<size_t> order(keys.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(),
                     [&keys](size_t a, size_t b) { return !terminationPending() && keys[a] < keys[b]; });
    if (terminationPending())
        return {};
    QStringList sorted;
    sorted.reserve(entries.size());
    for (const size_t i : order)
        sorted << std::move(entries[qsizetype(i)]);
    return sorted;
}

} // namespace

QStringList listPictureFiles(const QString &folder, bool allFormats)
{
    QStringList pictures;
    if (folder.isEmpty())
        return pictures;
    // Every entry, hidden and system ones included; the attributes are not looked at, so
    // a sub-folder named like a picture is listed too (the loader skips it).
    const QString prefix = folder + QLatin1Char('/');
    // A folder of hundreds of thousands of entries takes most of a second; once SIGTERM
    // has come the program is ending and the work is given up at once.
    const QStringList names = platform().folderEntryNames(folder);
    for (const QString &name : names) {
        if (terminationPending())
            return {};
        if (isPictureFileName(name, allFormats))
            pictures << QString(prefix % name); // one allocation a path
    }
    return sortedPicturePaths(std::move(pictures));
}

QCollator picturePathCollator()
{
    QCollator collator; // the user's locale
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

QStringList sortedPicturePaths(QStringList paths, const QCollator &collator)
{
    // In the C locale the collator compares case-folded UTF-16 code units, but its sort
    // keys would not fold the case; compare by keys of that folding there.
    if (collator.locale().language() == QLocale::C) {
        const CaseBlindKeys keys(paths);
        if (terminationPending())
            return {};
        return sortedByKeys(std::move(paths), keys.keys());
    }
    // Elsewhere the locale's comparison passes over the start that two paths share at
    // once, so the few dozen paths of one folder of a library sort faster by it than by
    // keys of whole paths; a big folder takes one sort key a path, made once, instead
    // (20,000 pictures would call the comparison some 300,000 times).
    if (paths.size() <= kComparedUpTo) {
        std::stable_sort(paths.begin(), paths.end(), [&collator](const QString &a, const QString &b) {
            return !terminationPending() && collator.compare(a, b) < 0;
        });
        return terminationPending() ? QStringList() : paths;
    }
    std::vector<QCollatorSortKey> keys;
    keys.reserve(size_t(paths.size()));
    for (const QString &path : std::as_const(paths)) {
        if (terminationPending())
            return {};
        keys.push_back(collator.sortKey(path));
    }
    return sortedByKeys(std::move(paths), keys);
}

FolderRule pictureFolderRule(bool allFormats)
{
    return {[allFormats](const QString &folder) { return listPictureFiles(folder, allFormats); },
            [allFormats](QStringView name) { return isPictureFileName(name, allFormats); },
            // One collator for the whole walk: making one costs more than sorting a folder.
            [collator = picturePathCollator()](QStringList paths) {
                return sortedPicturePaths(std::move(paths), collator);
            }};
}

QStringList firstFolderPictures(const QString &folder, bool subFolders, bool allFormats)
{
    QStringList first;
    bool found = false;
    WalkHooks hooks;
    hooks.cancelled = [&found] { return found || terminationPending(); };
    hooks.firstPictures = [&](const QStringList &pictures) {
        first = pictures;
        found = true;
    };
    walkPictureFolders(folder, subFolders, pictureFolderRule(allFormats), hooks);
    return first;
}
