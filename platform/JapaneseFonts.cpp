#include "platform/JapaneseFonts.h"

#include <QFont>
#include <QStringList>

void installJapaneseFontSubstitutions()
{
    // The fixed-pitch names go to the fixed-pitch IPA font, the proportional one to the
    // proportional IPA font.
    const QStringList fixedPitch{QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans Mono CJK JP"),
                                 QStringLiteral("Noto Sans CJK JP")};
    const QStringList proportional{QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                                   QStringLiteral("Noto Sans CJK JP")};
    QFont::insertSubstitutions(QStringLiteral("ＭＳ ゴシック"), fixedPitch);
    QFont::insertSubstitutions(QStringLiteral("ＪＳゴシック"), fixedPitch);
    QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"), proportional);
}
