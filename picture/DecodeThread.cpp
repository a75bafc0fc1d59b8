// The signal class needs a translation unit of its own for moc; the thread is a template.
#include "picture/DecodeThread.h"
