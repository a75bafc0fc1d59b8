#include "show/BuiltInFrame.h"

#include <QImageReader>

// The picture is compiled into this static library; its resources are registered before
// the first use.
static void initShowResources()
{
    Q_INIT_RESOURCE(show);
}

QImage builtInFramePicture()
{
    initShowResources();
    // Read as BMP and nothing else: asked to guess, the reader would first load every
    // image-format plugin to ask whether it reads BMP (none does), on the way to the
    // first frame.
    QImageReader reader(QStringLiteral(":/pantel/GoldBar.bmp"), QByteArrayLiteral("bmp"));
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}
