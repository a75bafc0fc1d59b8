#pragma once

#include <QString>
#include <QStringList>

// The picture-file rule shared by the show window and the settings dialog's sample:
// every entry of one folder (hidden ones too; sub-folders are not entered) whose
// extension, the text from the name's last "." on, upper-cased in ASCII, is ".BMP",
// ".JPG" or ".JPEG" (with `allFormats` also ".PNG", ".GIF", ".WEBP", ".TIF", ".TIFF",
// ".HEIC", ".HEIF" or ".AVIF"); each held as folder text + "/" + name and sorted by the whole path
// without regard to case in the user's locale. An empty folder text lists nothing, and
// so does a listing that SIGTERM interrupts (terminationPending): it is given up.
QStringList listPictureFiles(const QString &folder, bool allFormats = false);

// Whether a name passes the extension test.
bool isPictureFileName(const QString &name, bool allFormats = false);
