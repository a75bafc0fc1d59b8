#include "show/BuiltInFrame.h"

// The picture is compiled into this static library; its resources are registered before
// the first use.
static void initShowResources()
{
    Q_INIT_RESOURCE(show);
}

QImage builtInFramePicture()
{
    initShowResources();
    return QImage(QStringLiteral(":/pantel/GoldBar.bmp"), "BMP");
}
