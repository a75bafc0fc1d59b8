#include "settings/ColorText.h"

#include "settings/SettingsText.h"

#include <array>

namespace {

struct NamedColor
{
    const char *name;
    ColorValue value;
};

constexpr ColorValue sys(int index)
{
    return clSystemBase + ColorValue(index);
}

// clang-format off
constexpr std::array<NamedColor, 42> kColorNames{{
    {"clBlack", 0x000000},  {"clMaroon", 0x000080},  {"clGreen", 0x008000},
    {"clOlive", 0x008080},  {"clNavy", 0x800000},    {"clPurple", 0x800080},
    {"clTeal", 0x808000},   {"clGray", 0x808080},    {"clSilver", 0xC0C0C0},
    {"clRed", 0x0000FF},    {"clLime", 0x00FF00},    {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},   {"clFuchsia", 0xFF00FF}, {"clAqua", 0xFFFF00},
    {"clWhite", 0xFFFFFF},
    {"clScrollBar", sys(0)},          {"clBackground", sys(1)},
    {"clActiveCaption", sys(2)},      {"clInactiveCaption", sys(3)},
    {"clMenu", sys(4)},               {"clWindow", sys(5)},
    {"clWindowFrame", sys(6)},        {"clMenuText", sys(7)},
    {"clWindowText", sys(8)},         {"clCaptionText", sys(9)},
    {"clActiveBorder", sys(10)},      {"clInactiveBorder", sys(11)},
    {"clAppWorkSpace", sys(12)},      {"clHighlight", sys(13)},
    {"clHighlightText", sys(14)},     {"clBtnFace", sys(15)},
    {"clBtnShadow", sys(16)},         {"clGrayText", sys(17)},
    {"clBtnText", sys(18)},           {"clInactiveCaptionText", sys(19)},
    {"clBtnHighlight", sys(20)},      {"cl3DDkShadow", sys(21)},
    {"cl3DLight", sys(22)},           {"clInfoText", sys(23)},
    {"clInfoBk", sys(24)},
    {"clNone", clNone},
}};
// clang-format on

// The classic Windows standard scheme, system colour index 0 to 24, as 0xRRGGBB.
constexpr std::array<QRgb, 25> kClassicScheme{{
    0xC0C0C0, // scroll bar
    0x008080, // desktop background
    0x000080, // active caption
    0x808080, // inactive caption
    0xC0C0C0, // menu
    0xFFFFFF, // window
    0x000000, // window frame
    0x000000, // menu text
    0x000000, // window text
    0xFFFFFF, // caption text
    0xC0C0C0, // active border
    0xC0C0C0, // inactive border
    0x808080, // application work space
    0x000080, // highlight
    0xFFFFFF, // highlight text
    0xC0C0C0, // button face
    0x808080, // button shadow
    0x808080, // grey text
    0x000000, // button text
    0xC0C0C0, // inactive caption text
    0xFFFFFF, // button highlight
    0x000000, // 3-D dark shadow
    0xDFDFDF, // 3-D light
    0x000000, // tooltip text
    0xFFFFE1, // tooltip background
}};

} // namespace

QString colorToString(ColorValue color)
{
    for (const NamedColor &entry : kColorNames) {
        if (entry.value == color)
            return QString::fromLatin1(entry.name);
    }
    return QStringLiteral("$%1").arg(color, 8, 16, QLatin1Char('0')).toUpper();
}

std::optional<ColorValue> stringToColor(const QString &text)
{
    for (const NamedColor &entry : kColorNames) {
        if (text.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0)
            return entry.value;
    }
    if (const auto number = parseInteger(text))
        return ColorValue(quint32(*number));
    return std::nullopt;
}

ColorValue clockColorOf(const QString &text)
{
    return stringToColor(text).value_or(clBlack);
}

QColor toQColor(ColorValue color)
{
    if (color & clSystemBase) {
        const quint32 index = color & 0xFFFFFF;
        if (index < kClassicScheme.size())
            return QColor::fromRgb(kClassicScheme[index]);
        return QColor(Qt::black);
    }
    if (color == clNone)
        return QColor(Qt::black);
    return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
}

ColorValue fromQColor(const QColor &color)
{
    const QColor rgb = color.toRgb();
    return ColorValue(rgb.red()) | (ColorValue(rgb.green()) << 8) | (ColorValue(rgb.blue()) << 16);
}

int colorNameCount()
{
    return int(kColorNames.size());
}

QString colorNameAt(int index)
{
    return QString::fromLatin1(kColorNames.at(size_t(index)).name);
}

ColorValue colorValueAt(int index)
{
    return kColorNames.at(size_t(index)).value;
}
