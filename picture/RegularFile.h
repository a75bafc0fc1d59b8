#pragma once

#include <QString>

// Opens a regular file for reading; -1 when `path` names none. A FIFO, a device or a
// folder named like a picture is never read: the name is checked first, and the open
// itself cannot block (a FIFO swapped in after the check opens at once without a writer
// and is then refused by fstat). The descriptor returned blocks as usual.
int openRegularFile(const QString &path);
