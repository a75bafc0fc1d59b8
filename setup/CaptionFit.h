#pragma once

class QWidget;

// The forms keep the sizes they were drawn with, but the Japanese gothic fonts of a Linux
// desktop are a little wider than the ones the captions were measured in. These rules let
// a caption that would be cut grow its control instead.

// The width `control` needs to show its caption whole in the font it is drawn with; 0 for
// a control without a one-line caption.
int captionWidth(const QWidget *control);

// Widens every control of `form` whose caption does not fit, keeping its position: up to
// the next control to its right, or, with none there, as far as its parent has room (the
// control keeps the margin it has on its right, but no more than the one on its left). A
// parent without that room grows by the same rule, up to the form itself if need be.
void fitCaptions(QWidget *form);
