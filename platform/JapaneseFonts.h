#pragma once

// The windows ask for the Japanese fonts by their Windows names ("ＭＳ ゴシック",
// "ＭＳ Ｐゴシック", "ＪＳゴシック"); this maps each to an installed Japanese gothic
// font (IPA fonts first, Noto Sans CJK JP as a fall-back). Called once at the start of
// each windowed mode and by the tests that draw windows.
void installJapaneseFontSubstitutions();
