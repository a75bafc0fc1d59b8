#include "Fonts.h"

#include <QFont>
#include <QStringList>

void installFontSubstitutions()
{
    const QStringList fixed{QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans Mono CJK JP"),
                            QStringLiteral("Noto Sans CJK JP")};
    const QStringList proportional{QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP"),
                                   QStringLiteral("IPAGothic")};
    QFont::insertSubstitutions(QStringLiteral("ＭＳ ゴシック"), fixed);
    QFont::insertSubstitutions(QStringLiteral("ＪＳゴシック"), fixed);
    QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"), proportional);
}
