#pragma once

#include "picture/PictureLoader.h"
#include "show/FrameLayout.h"
#include "show/Panel.h"

#include <QColor>
#include <QString>
#include <optional>

class FrameView;
class ImageView;
class QLabel;

// The frame's components under the names the windows' forms give them. Both the show
// window and the sample window carry them, so their code reaches the parts directly.
struct FrameParts
{
    FrameView *pnlBase = nullptr;  // the frame itself
    ImageView *imgDummy = nullptr; // hidden; holds the built-in frame picture
    ImageView *imgGaku = nullptr;  // the frame picture, stretched over the frame
    QLabel *lblTime = nullptr;     // the clock on the frame's lower border
    QLabel *lblDate = nullptr;     // the day the shown photo was taken, on the upper border
    Panel *pnlInner = nullptr;     // the sunken mat
    Panel *pnlBack = nullptr;      // the black picture area
    Panel *pnlA = nullptr;         // picture panel A
    ImageView *imgA = nullptr;
    Panel *pnlB = nullptr; // picture panel B; the show window's frame only
    ImageView *imgB = nullptr;
    Panel *pnlError = nullptr; // the mail error mark; the show window's frame only
};

// The square picture frame that the show window moves over the screen and the settings
// dialog's sample shows: the frame panel (pnlBase) with the frame picture, the clock on
// its lower border, the sunken mat and inside it the black picture area with its picture
// panels. Each part carries its component name as its object name. The frame takes no
// input: every part is disabled and lets the mouse through to the window.
class FrameView : public Panel
{
    Q_OBJECT

public:
    // The show window's frame has two picture panels that take turns and the mail error
    // mark; the sample's frame has one picture panel and nothing else.
    enum class Kind { Show, Sample };

    // Builds the frame as a child of `window`; it is laid out by arrange().
    static FrameParts create(QWidget *window, Kind kind);

    const FrameParts &parts() const { return m_parts; }

    // Gives the frame and every part the sizes of `layout`; the frame keeps its place
    // and the picture panels stand at their rest position.
    void arrange(const FrameLayout &layout);

    // Moves both picture panels right by `step` pixels.
    void slidePictures(int step);

    // The clock's colour in the frame's normal look.
    void setClockColor(const QColor &color);

    // The day the photo sliding in was taken, as the frame writes it; empty for none. The
    // talk look holds it back until it ends.
    void setTakenDate(const QString &text);

    // Shows the frame picture that a slot's text names, kept for the end of the talk look.
    void setFramePicture(const QString &text);

    // The frame picture that a slot's text names: the built-in golden bar for an empty
    // text, else the picture file, or none when no such file exists or it is no picture.
    // The show window counts a text of blanks as empty, the sample does not. Asked once
    // the frame is arranged, the file is decoded only as large as the frame shows it.
    std::optional<Picture> framePictureFrom(const QString &text) const;

    // The talk look (yellow frame without its picture, the marker in black in the clock
    // label) or the normal one again, with `clockText` in the label.
    void setTalkLook(bool talk, const QString &clockText);

private:
    FrameView(QWidget *window, Kind kind);
    void showClockColor(const QColor &color);

    Kind m_kind;
    FrameParts m_parts;
    // The normal look, seen again when the talk look ends: the frame panel's own colour,
    // the clock colour and the frame picture as shown at start.
    QColor m_baseColor;
    QColor m_clockColor;
    QString m_takenDate;
    bool m_talk = false;
    std::optional<Picture> m_framePicture;
    // The plain black area inside pnlBack's border line that holds the picture panels.
    QWidget *m_slideArea = nullptr;
};
