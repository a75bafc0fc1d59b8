#pragma once

// The windows ask for the Japanese fonts by their Windows names ("ＭＳ ゴシック",
// "ＭＳ Ｐゴシック", "ＪＳゴシック"); this maps each to an installed Japanese gothic
// font (IPA fonts first, Noto Sans CJK JP as a fall-back). Called once at the start of
// each windowed mode and by the tests that draw windows.
void installJapaneseFontSubstitutions();

// Reads the system's font configuration (fontconfig), which the first text drawn would
// otherwise read on the way to its window's first frame (some 15 to 30 ms). Safe on any
// thread, before or after the application object exists.
void readFontConfiguration();

// Looks the Windows names up once in the font database, which is shared by all threads,
// so that the first text drawn with them finds the database filled and the substitutes'
// fall-backs known. Any thread, once the application object exists.
void lookUpJapaneseFonts();
