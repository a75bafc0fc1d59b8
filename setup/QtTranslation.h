#pragma once

// The settings dialog speaks Japanese whatever the locale, so the standard dialogs it opens
// (file, colour, message boxes, the edits' context menus) are given Qt's own Japanese
// texts too. Returns false, changing nothing, when Qt's translation file is not installed:
// those dialogs then stay in English.
bool installQtJapaneseTranslation();
