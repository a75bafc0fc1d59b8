#include "show/Slideshow.h"

#include "picture/PictureRequest.h"
#include "show/CatalogueBuild.h"
#include "show/ImageView.h"
#include "show/MailIndicator.h"
#include "show/Panel.h"
#include "show/PictureCatalogue.h"
#include "show/SlideMove.h"
#include "show/Timer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QScopeGuard>
#include <QThread>
#include <QWidget>
#include <utility>

namespace {

// How long a folder without pictures waits before it is looked at again.
constexpr int kLookAgainMs = 60 * 1000;

} // namespace

Slideshow::Slideshow(Parts parts, Decode decode, Walk walk)
    : m_parts(std::move(parts)), m_decoder(std::move(decode)), m_walk(std::move(walk))
{
    m_lookAgain.setSingleShot(true);
    m_lookAgain.setInterval(kLookAgainMs);
    QObject::connect(&m_lookAgain, &QTimer::timeout, [this] { buildCatalogue(); });
}

// The worker is cancelled and joined with m_decoder.
Slideshow::~Slideshow() = default;

std::optional<DecodedPicture> Slideshow::decodePictureFile(const PictureJob &job, const CancelCheck &cancelled)
{
    return decodePicture({job.path, job.visible, job.scale, job.fit, job.allFormats, job.takenDate}, cancelled);
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
    m_abandoned = false;
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
    if (m_abandoned)
        return false;
    // The first picture slides in at once instead of waiting out a rest.
    if (PictureCount == 0) {
        m_parts.timStay->setEnabled(true);
        m_lookAgain.start();
        return false;
    }
    ImageLoad();
    if (!m_abandoned)
        beginSlide();
    return true;
}

void Slideshow::JpgFileSearch()
{
    Busy = true;
    m_build.reset();
    m_lookAgain.stop();
    auto build = std::make_unique<CatalogueBuild>(
        m_folder, m_options.subFolders, m_options.allFormats,
        [this](const QStringList &catalogue) { catalogueBuilt(catalogue); }, m_walk);
    // The show may begin with the first folder that has pictures; the rest of the tree
    // comes in as the catalogue of the next pass.
    const std::optional<QStringList> first = firstPictures(*build);
    if (build->wholeToCome())
        m_build = std::move(build);
    if (first)
        takeCatalogue(*first);
    Busy = false;
}

std::optional<QStringList> Slideshow::firstPictures(CatalogueBuild &build)
{
    // A folder's own listing is quick: it is simply waited for.
    if (!m_options.subFolders)
        return build.waitForFirst();
    // A tree may take long to reach its first picture: input, the timers, repaints and
    // SIGTERM are served meanwhile, as while a picture is decoded.
    QEventLoop wait;
    m_wait = &wait;
    const bool busy = std::exchange(Busy, false);
    std::optional<QStringList> first = build.waitForFirst(wait);
    m_wait = nullptr;
    Busy = busy;
    // A walk cut short (a close, SIGTERM) and an ending program give the start up.
    if (!first)
        m_abandoned = true;
    return first;
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
    m_build = std::make_unique<CatalogueBuild>(
        m_folder, m_options.subFolders, m_options.allFormats,
        [this](const QStringList &catalogue) { catalogueBuilt(catalogue); }, m_walk);
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

QString Slideshow::nextPath() const
{
    return m_order ? m_order->upcoming() : QString();
}

Slideshow::PictureJob Slideshow::nextJob() const
{
    const ImageView *target = NextSide == 0 ? m_parts.frame.imgA : m_parts.frame.imgB;
    return jobFor(nextPath(), target->deviceSize());
}

Slideshow::PictureJob Slideshow::jobFor(const QString &path, QSize visible) const
{
    return {path, Scale, visible, m_options.fitPicture, m_options.allFormats, m_options.showDate};
}

void Slideshow::decodeAhead()
{
    // At the end of a pass the next pass's order is not drawn yet: that load decodes then.
    if (PictureCount > 0 && !m_abandoned && !nextPath().isEmpty())
        m_decoder.request(nextJob());
}

std::optional<DecodedPicture> Slideshow::decoded(const PictureJob &job)
{
    // A picture decoded ahead for anything else (the catalogue changed meanwhile) is
    // given up for the one the load shows.
    if (m_decoder.requested() != job)
        m_decoder.request(job);
    if (!m_decoder.isFinished()) {
        // Input, the timers, the clock and SIGTERM are served meanwhile. Nothing of the
        // cycle runs on this thread while it waits, so closing need not wait for it.
        QEventLoop wait;
        QObject::connect(m_decoder.signal(), &DecodeThreadSignal::finished, &wait, &QEventLoop::quit);
        m_wait = &wait;
        const bool busy = std::exchange(Busy, false);
        // A finished signal of an earlier request only wakes it; a loop that cannot run
        // because the program is ending (-1) gives up as a close does.
        while (!m_abandoned && !m_decoder.isFinished() && wait.exec() == 0) {
        }
        m_wait = nullptr;
        Busy = busy;
        if (!m_decoder.isFinished()) {
            m_abandoned = true;
            m_decoder.cancel();
            return std::nullopt;
        }
    }
    return m_decoder.take();
}

std::optional<Picture> Slideshow::nextPicture(QSize visible)
{
    takeNextIndex();
    if (PictureCount == 0)
        return std::nullopt; // every picture went while the show ran
    // An undecodable picture, and equally a file that vanished, cannot be opened or is a
    // folder, leaves the area empty; the saver opens no message over the screen.
    std::optional<DecodedPicture> decoded = this->decoded(jobFor(PictureList.at(PictureIndex), visible));
    m_incomingDate = decoded && m_options.showDate ? decoded->takenDate : QString();
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
    std::optional<Picture> picture = nextPicture(target->deviceSize());
    if (!m_abandoned)
        target->setPicture(std::move(picture));
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
        if (m_abandoned)
            return;
        if (PictureCount > 1 || m_firstSlidePending) {
            beginSlide();
        } else {
            m_parts.timStay->setEnabled(true);
            // Nothing slides: the next load reloads the same panel.
            decodeAhead();
        }
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
        // The next picture is known now; it is decoded during the rest and the move.
        decodeAhead();
    }
    // Paint the invalid parts at once, so that the motion stays even at short intervals.
    QCoreApplication::sendPostedEvents(m_parts.window->window(), QEvent::UpdateRequest);
    Busy = false;
}

void Slideshow::clear()
{
    m_decoder.cancel();
    m_lookAgain.stop();
    m_build.reset();
    PictureList.clear();
    PictureCount = 0;
}

void Slideshow::abandon()
{
    // Only a load that waits is given up; a picture decoded ahead is left for a load that
    // still comes (the move handler loads after a close in its pause) and otherwise goes
    // with the window.
    if (!m_wait)
        return;
    m_abandoned = true;
    m_decoder.cancel();
    m_wait->quit();
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
