#pragma once

#include "picture/DecodeThread.h"
#include "picture/PictureRequest.h"
#include "settings/PhotoOptions.h"
#include "show/FrameView.h"

#include <QString>
#include <QWidget>

// What the sample shows: the frame of the dialog's current folder slot and one picture
// of the slot's folder.
struct SampleContent
{
    int frameSize = 0;
    int frameWidth = 0;
    QString framePicture; // path; empty: the built-in frame picture
    QString clockColor;   // colour text
    QString picture;      // full path of the picture to show, or empty
    PhotoOptions photo;   // fitted or at its own size; which formats are pictures
};

// The sample window of the settings mode: a borderless window at the screen's top-left
// corner that shows the frame of the dialog's current folder slot at full-screen size,
// with the frame picture, the clock text "12:00" in the clock colour and one picture of
// the slot's folder. It is static (no clock, no movement, no slide) and takes no input;
// the dialog asks it to redraw with SetDisp. The frame's components come from FrameParts.
class TSampleForm : public QWidget, public FrameParts
{
    Q_OBJECT

public:
    explicit TSampleForm(QWidget *parent = nullptr);

    // Redraws the sample. The picture is decoded on a worker thread, as the saver's are:
    // the one shown before stays until it is done.
    void SetDisp(const SampleContent &content);

    // True while the picture last asked for is still being decoded.
    bool pictureUnderWay() const { return m_decoder.requested().has_value(); }

private:
    void FormCreate();
    // The window is as large as what it shows: the frame, or nothing before the first
    // SetDisp.
    void fitToContent();
    // Shows the decoded picture and the day it was taken.
    void showDecoded();

    bool m_showDate = false;
    DecodeThread<PictureRequest, DecodedPicture> m_decoder;
};
