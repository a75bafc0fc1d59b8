#include "show/Slideshow.h"

#include "picture/PictureRequest.h"
#include "show/ImageView.h"
#include "show/MailIndicator.h"
#include "show/Panel.h"
#include "show/PictureCatalogue.h"
#include "show/SlideMove.h"
#include "show/Timer.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QThread>
#include <QWidget>
#include <utility>

Slideshow::Slideshow(Parts parts) : m_parts(std::move(parts))
{
}

void Slideshow::reset()
{
    PictureCount = 0;
    PictureIndex = 0;
    MoveRight = true;
    MoveDown = true;
    MoveCount = 0;
    // Panel A takes the first picture.
    NextSide = 0;
    Busy = true;
}

void Slideshow::configure(const QString &folder, int stayTime, int moveAmount, double scale)
{
    m_folder = folder;
    StayTime = stayTime;
    MoveAmount = moveAmount;
    Scale = scale;
}

void Slideshow::placePanels()
{
    SlideWidth = m_parts.frame.pnlA->width();
    setPanelLeft(m_parts.frame.pnlA, -SlideWidth);
}

bool Slideshow::start(const std::function<int(int)> &draw)
{
    JpgFileSearch();
    PictureIndex = draw(PictureCount);
    // The first picture slides in at once instead of waiting out a rest.
    if (PictureCount == 0) {
        m_parts.timStay->setEnabled(true);
        return false;
    }
    ImageLoad();
    m_parts.timSlide->setEnabled(true);
    return true;
}

void Slideshow::JpgFileSearch()
{
    Busy = true;
    PictureList = listPictureFiles(m_folder, m_photo.allFormats);
    PictureCount = int(PictureList.size());
    if (PictureCount < PictureIndex + 1)
        PictureIndex = 0;
    Busy = false;
}

std::optional<Picture> Slideshow::nextPicture(QSize visible)
{
    // An undecodable picture, and equally a file that vanished, cannot be opened or is a
    // folder, leaves the area empty; the saver opens no message over the screen.
    std::optional<DecodedPicture> decoded
        = decodePicture({PictureList.at(PictureIndex), visible, Scale, m_photo.fitPicture, m_photo.allFormats});
    m_incomingDate = decoded ? decoded->takenDate : QString();
    std::optional<Picture> picture;
    if (decoded)
        picture = std::move(decoded->picture);
    PictureIndex = PictureIndex + 1;
    if (PictureIndex >= PictureCount)
        PictureIndex = 0;
    return picture;
}

void Slideshow::ImageLoad()
{
    if (PictureCount == 0)
        return;
    Busy = true;
    ImageView *target = NextSide == 0 ? m_parts.frame.imgA : m_parts.frame.imgB;
    target->setPicture(nextPicture(target->deviceSize()));
    Busy = false;
}

void Slideshow::timStayTimer()
{
    MoveCount = 0;
    m_parts.timStay->setEnabled(false);
    m_parts.timSlide->setEnabled(false);
    m_parts.timMove->setEnabled(true);
}

void Slideshow::timMoveTimer()
{
    // A mail tick served inside this step waits until the step is over, and its check
    // runs right after it.
    m_parts.mail->holdChecks();
    const auto stepOver = qScopeGuard([this] { m_parts.mail->releaseChecks(); });
    // Input and the clock run between the steps.
    QCoreApplication::processEvents();
    FrameView *frame = m_parts.frame.pnlBase;
    if (MoveAmount != 0) {
        ++MoveCount;
        const MoveState moved
            = moveStep({frame->x(), frame->y(), MoveRight, MoveDown}, frame->size(), m_parts.window->size());
        frame->move(moved.left, moved.top);
        MoveRight = moved.right;
        MoveDown = moved.down;
    }
    if (MoveCount >= MoveAmount) {
        m_parts.timMove->setEnabled(false);
        MoveCount = 0;
        // A short pause after the move; the event queue keeps being served.
        if (StayTime != ShortestStayTime) {
            for (int i = 0; i < 5; ++i) {
                QCoreApplication::processEvents();
                QThread::msleep(100);
            }
        }
        ImageLoad();
        if (PictureCount > 1)
            m_parts.timSlide->setEnabled(true);
        else
            m_parts.timStay->setEnabled(true);
    }
}

void Slideshow::timSlideTimer()
{
    Busy = true;
    const FrameParts &p = m_parts.frame;
    Panel *incoming = NextSide == 0 ? p.pnlA : p.pnlB;
    Panel *outgoing = NextSide == 0 ? p.pnlB : p.pnlA;
    const int left = panelLeft(incoming);
    const int step = slideStep(left, SlideWidth, p.pnlBack->borderWidth());
    if (step > 0) {
        // Both panels move right by the same step.
        p.pnlBase->slidePictures(step);
    } else {
        setPanelLeft(outgoing, -SlideWidth);
        NextSide = NextSide == 0 ? 1 : 0;
        m_parts.timSlide->setEnabled(false);
        m_parts.timStay->setEnabled(true);
    }
    // Paint the invalid parts at once, so that the motion stays even at short intervals.
    QCoreApplication::sendPostedEvents(m_parts.window->window(), QEvent::UpdateRequest);
    Busy = false;
}

void Slideshow::clear()
{
    PictureList.clear();
    PictureCount = 0;
}

int Slideshow::panelLeft(const Panel *panel) const
{
    // The slide area's coordinates are pnlBack's client coordinates.
    return panel->x();
}

void Slideshow::setPanelLeft(Panel *panel, int left)
{
    panel->move(left, panel->y());
}
