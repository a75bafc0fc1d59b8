#pragma once

#include <QtGlobal>

// The window into which a preview is drawn: set once by the entry from the command
// line in the preview and password-change modes, 0 when there is none. The show
// window reads it when it creates its native window, lays itself out and closes.
quint32 previewParent();
void setPreviewParent(quint32 window);
