#include "platform/PreviewParent.h"

namespace {
quint32 g_previewParent = 0;
}

quint32 previewParent()
{
    return g_previewParent;
}

void setPreviewParent(quint32 window)
{
    g_previewParent = window;
}
