#pragma once

// The windows name their Japanese fonts as the design has them ("ＭＳ ゴシック",
// "ＭＳ Ｐゴシック", "ＪＳゴシック"); this maps those names to an installed Japanese
// gothic font. Call once at the start of each window mode (and in tests), after the
// application object exists.
void installFontSubstitutions();
