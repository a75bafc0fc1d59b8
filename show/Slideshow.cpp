#include "show/Slideshow.h"

#include "show/CatalogueBuild.h"
#include "show/ImageView.h"
#include "show/MailIndicator.h"
#include "show/Panel.h"
#include "show/PictureCatalogue.h"
#include "show/SlideMove.h"
#include "show/TakenDate.h"
#include "show/Timer.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QThread>
#include <QWidget>
#include <utility>

namespace {

// How long a folder without pictures waits before it is looked at again.
constexpr int kLookAgainMs = 60 * 1000;

} // namespace

Slideshow::Slideshow(Parts parts) : m_parts(std::move(parts))
{
    m_lookAgain.setSingleShot(true);
    m_lookAgain.setInterval(kLookAgainMs);
    QObject::connect(&m_lookAgain, &QTimer::timeout, [this] { buildCatalogue(); });
}

Slideshow::~Slideshow() = default;

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
    // The pass order draws the random start from it, once, as the catalogue comes.
    m_draw = draw;
    JpgFileSearch();
    // The first picture slides in at once instead of waiting out a rest.
    if (PictureCount == 0) {
        m_parts.timStay->setEnabled(true);
        m_lookAgain.start();
        return false;
    }
    ImageLoad();
    beginSlide();
    return true;
}

void Slideshow::JpgFileSearch()
{
    Busy = true;
    m_build.reset();
    m_lookAgain.stop();
    auto build = std::make_unique<CatalogueBuild>(m_folder, m_options.subFolders,
                                                  [this](const QStringList &catalogue) { catalogueBuilt(catalogue); });
    // The show may begin with the first folder that has pictures; the rest of the tree
    // comes in as the catalogue of the next pass.
    const QStringList first = build->waitForFirst();
    if (build->running())
        m_build = std::move(build);
    takeCatalogue(first);
    Busy = false;
}

void Slideshow::takeCatalogue(const QStringList &catalogue)
{
    m_order = std::make_unique<PassOrder>(
        m_options.shuffle, m_draw ? m_draw : [](int) { return 0; });
    m_order->start(catalogue);
    PictureList = catalogue;
    PictureCount = int(PictureList.size());
    PictureIndex = 0;
}

void Slideshow::takeNextIndex()
{
    m_order->next();
    // A pass over a catalogue built again starts with a new list.
    PictureList = m_order->catalogue();
    PictureCount = int(PictureList.size());
    PictureIndex = int(m_order->lastIndex());
    if (m_order->passEnded())
        buildCatalogue();
}

void Slideshow::buildCatalogue()
{
    if (m_build)
        return;
    m_lookAgain.stop();
    m_build = std::make_unique<CatalogueBuild>(m_folder, m_options.subFolders,
                                               [this](const QStringList &catalogue) { catalogueBuilt(catalogue); });
}

void Slideshow::lookAgainNow()
{
    if (m_lookAgain.isActive())
        buildCatalogue();
}

void Slideshow::catalogueBuilt(const QStringList &catalogue)
{
    // Called from the build's own event: it goes once the call is over.
    if (m_build)
        m_build.release()->deleteLater();
    if (PictureCount > 0) {
        m_order->rebuilt(catalogue);
        return;
    }
    if (catalogue.isEmpty()) {
        m_lookAgain.start();
        return;
    }
    // Pictures have come to a folder that had none: the show starts as it would have.
    takeCatalogue(catalogue);
    if (m_picturesAppeared)
        m_picturesAppeared();
    if (m_moving) {
        m_firstSlidePending = true;
        return;
    }
    m_parts.timStay->setEnabled(false);
    m_parts.timMove->setEnabled(false);
    ImageLoad();
    beginSlide();
}

void Slideshow::beginSlide()
{
    m_firstSlidePending = false;
    m_parts.frame.pnlBase->setTakenDate(m_incomingDate);
    m_parts.timSlide->setEnabled(true);
}

std::optional<Picture> Slideshow::nextPicture(QSize visible)
{
    takeNextIndex();
    if (PictureCount == 0)
        return std::nullopt; // every picture went while the show ran
    // An undecodable picture, and equally a file that vanished, cannot be opened or is a
    // folder, leaves the area empty; the saver opens no message over the screen.
    std::optional<Picture> picture = loadPicture(PictureList.at(PictureIndex), Scale, visible);
    m_incomingDate = m_options.showDate ? jpegTakenDateText(PictureList.at(PictureIndex)) : QString();
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
    m_moving = true;
    const auto stepOver = qScopeGuard([this] {
        m_moving = false;
        m_parts.mail->releaseChecks();
    });
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
        if (PictureCount > 1 || m_firstSlidePending)
            beginSlide();
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
    m_lookAgain.stop();
    m_build.reset();
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
