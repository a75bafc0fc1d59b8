#pragma once

#include <QCollator>
#include <QString>
#include <QStringList>

#include "library/FolderWalk.h"

// The picture-file rule shared by the show window and the settings dialog's sample:
// every entry of one folder (hidden ones too; sub-folders are not entered) whose
// extension, the text from the name's last "." on, upper-cased in ASCII, is ".BMP",
// ".JPG" or ".JPEG" (with `allFormats` also ".PNG", ".GIF", ".WEBP", ".TIF", ".TIFF",
// ".HEIC", ".HEIF" or ".AVIF"); each held as folder text + "/" + name and sorted by the whole path
// without regard to case in the user's locale. An empty folder text lists nothing, and
// so does a listing that SIGTERM interrupts (terminationPending): it is given up.
QStringList listPictureFiles(const QString &folder, bool allFormats = false);

// Whether a name passes the extension test.
bool isPictureFileName(QStringView name, bool allFormats = false);

// The comparison of the order below: the user's locale, without regard to case.
QCollator picturePathCollator();

// Paths in the order the rule sorts pictures: the whole path without regard to case in
// the user's locale. The walk orders sub-folders by it too.
QStringList sortedPicturePaths(QStringList paths, const QCollator &collator = picturePathCollator());

// The rule above for a walk over a folder tree.
FolderRule pictureFolderRule(bool allFormats = false);

// The pictures of the first folder of the tree that has any (with `subFolders` off, the
// folder's own): enough to tell whether a slot shows anything, and to pick a sample,
// without reading the whole tree.
QStringList firstFolderPictures(const QString &folder, bool subFolders, bool allFormats = false);
