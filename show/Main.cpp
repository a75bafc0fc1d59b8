#include "show/Main.h"

#include "platform/StartupTrace.h"

#include "platform/DisplaySession.h"
#include "platform/ErrorReport.h"
#include "platform/Platform.h"
#include "platform/PreviewParent.h"
#include "platform/X11Window.h"
#include "settings/ColorText.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsText.h"
#include "show/ClockText.h"
#include "show/ImageView.h"
#include "show/MailIndicator.h"
#include "show/MouseMove.h"
#include "show/Panel.h"
#include "show/PictureCatalogue.h"
#include "show/PictureLoader.h"
#include "show/SlideMove.h"
#include "show/SystemCommand.h"
#include "show/Timer.h"
#include "ui_Main.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QScopeGuard>
#include <QScreen>
#include <QThread>
#include <QTime>
#include <QTimer>
#include <QWindow>
#include <cmath>
#include <limits>
#include <utility>

namespace {

// The no-pictures hint in the clock label.
const QString NoPicturesText = QStringLiteral("ｽｸﾘｰﾝｾｰﾊﾞｰの設定で画像があるﾌｫﾙﾀﾞを指定して下さい");

QString currentClockText()
{
    return clockText(QTime::currentTime(), timeSeparator(QLocale::system()));
}

} // namespace

TPantelForm::TPantelForm() : TPantelForm(Environment())
{
}

TPantelForm::TPantelForm(Environment environment, QWidget *parent)
    : QWidget(parent),
      FrameParts(FrameView::create(this, FrameView::Kind::Show)),
      ui(std::make_unique<Ui::TPantelForm>()),
      m_environment(std::move(environment))
{
    if (!m_environment.previewParentSize)
        m_environment.previewParentSize = x11WindowSize;
    if (!m_environment.embed)
        m_environment.embed = embedIntoX11Window;

    ui->setupUi(this);

    // Resource values that the form description cannot carry.
    QFont formFont(QStringLiteral("ＭＳ Ｐゴシック"));
    formFont.setPixelSize(12);
    setFont(formFont);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    m_baseColor = pnlBase->color();
    // The frame takes no input, so mouse events reach the form with the form's
    // coordinates, and the form sees every key.
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);

    timStay = new Timer(this);
    timStay->setInterval(5000);
    timMove = new Timer(this);
    timMove->setInterval(100);
    timSlide = new Timer(this);
    timSlide->setInterval(100);
    timCheck = new Timer(this);
    timCheck->setInterval(30000);
    timCheck->setEnabled(true);
    timMailCheck = new Timer(this);
    timMailCheck->setInterval(900000);
    m_mail = new MailIndicator(timMailCheck, this);
    connect(m_mail, &MailIndicator::loggedIn, this, &TPantelForm::popMailConnect);
    connect(m_mail, &MailIndicator::checkFailed, pnlError, &QWidget::show);
    connect(m_mail, &MailIndicator::talkChanged, this, &TPantelForm::setTalkLook);
    auto guarded = [this](void (TPantelForm::*handler)()) {
        return [this, handler] { runGuarded([this, handler] { (this->*handler)(); }); };
    };
    timStay->setObjectName(QStringLiteral("timStay"));
    timMove->setObjectName(QStringLiteral("timMove"));
    timSlide->setObjectName(QStringLiteral("timSlide"));
    timCheck->setObjectName(QStringLiteral("timCheck"));
    timMailCheck->setObjectName(QStringLiteral("timMailCheck"));
    connect(timStay, &Timer::timeout, this, guarded(&TPantelForm::timStayTimer));
    connect(timMove, &Timer::timeout, this, guarded(&TPantelForm::timMoveTimer));
    connect(timSlide, &Timer::timeout, this, guarded(&TPantelForm::timSlideTimer));
    connect(timCheck, &Timer::timeout, this, guarded(&TPantelForm::timCheckTimer));
    connect(timMailCheck, &Timer::timeout, this, guarded(&TPantelForm::timMailCheckTimer));

    runGuarded([this] { FormCreate(); });
}

TPantelForm::~TPantelForm()
{
    runGuarded([this] { FormDestroy(); });
}

void TPantelForm::FormCreate()
{
    // The window's fields start afresh; the mail indicator starts with its own.
    LastMouseX = -1;
    LastMouseY = -1;
    PlatformId = 0;
    PictureCount = 0;
    PictureIndex = 0;
    MoveRight = true;
    MoveDown = true;
    MoveCount = 0;
    NextSide = 0;
    Scale = 1.0;
    Busy = true;
    Closing = false;

    // Place and size the window: the preview parent's size, or the screen's.
    QSize screen = m_environment.screenSize.value_or(QSize());
    // The primary monitor plays the role of the screen.
    QPoint screenOrigin;
    if (!screen.isValid() && QGuiApplication::primaryScreen()) {
        screen = QGuiApplication::primaryScreen()->geometry().size();
        screenOrigin = QGuiApplication::primaryScreen()->geometry().topLeft();
    }
    std::optional<QSize> parentSize;
    if (previewParent() != 0)
        parentSize = m_environment.previewParentSize(previewParent());
    // A preview parent that does not exist is treated as none: drawing into nothing
    // helps no one, so the saver runs full screen.
    m_preview = parentSize.has_value();
    if (m_preview) {
        setWindowFlags(Qt::Widget | Qt::FramelessWindowHint);
        // The parent's size comes from the X server in device pixels, the screen's from
        // Qt in logical ones: the scale compares both in device pixels, so that the
        // miniature keeps the full screen's proportions at any ratio. The window covers
        // the parent, its logical size rounded up.
        const qreal ratio = m_environment.devicePixelRatio.value_or(
            QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->devicePixelRatio() : 1.0);
        setGeometry(0, 0, int(std::ceil(parentSize->width() / ratio)), int(std::ceil(parentSize->height() / ratio)));
        Scale = double(parentSize->width()) / (double(screen.width()) * ratio);
        // Disabled: the preview takes no keyboard or mouse input at all.
        setEnabled(false);
    } else {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        setGeometry(screenOrigin.x(), screenOrigin.y(), screen.width(), screen.height());
        platform().showCursor(false);
        const std::optional<quint32> id = platform().platformId();
        if (!id) {
            closeWithoutPrompt();
            return;
        }
        PlatformId = *id;
        if (PlatformId == 1)
            platform().setScreenSaverRunning(true);
    }

    // No input method: key presses go straight to the key handler.
    setAttribute(Qt::WA_InputMethodEnabled, false);

    // The settings are read once, through a store that is closed right after.
    StoredSettings settings;
    {
        const SettingsStore store;
        settings = readSettings(store);
    }
    FolderRotation = settings.orderF;
    FolderIndex = qint8(settings.slotIndex());
    m_mail->configure(settings);

    // Every slot's folder, for the rotation to skip the unused ones.
    FolderPaths = settings.folderPaths();

    // Folder rotation: the next used slot, remembered for the next run.
    if (FolderRotation) {
        FolderIndex = qint8(RotateStartNo(FolderIndex, FolderPaths));
        SettingsStore store;
        store.WriteInteger(SettingNames::Section, SettingNames::StartNo, FolderIndex);
    }

    // Panel A takes the first picture.
    NextSide = 0;

    // The chosen slot's settings; intervals that would never fire run as the shortest.
    const SlotSettings slot = parseSlot(settings.folders[size_t(FolderIndex)], SlotReader::ShowWindow);
    FrameSize = slot.frameSize;
    StayTime = usableStayTime(slot.stayTime);
    SlideInterval = usableSlideInterval(slot.slideInterval);
    MoveAmount = slot.moveAmount;
    FrameWidth = slot.frameWidth;
    ClockColor = slot.clockColor;
    FramePicture = slot.framePicture;

    setClockColor(toQColor(clockColorOf(ClockColor)));

    // The preview draws the frame scaled down, with a border and a move that never
    // vanish.
    m_layout = frameLayout(FrameSize, FrameWidth, MoveAmount, Scale);
    FrameWidth = m_layout.frameWidth;
    MoveAmount = m_layout.moveAmount;
    pnlBase->arrange(m_layout);

    // The frame picture, set once the frame has its size so that only its stretch over
    // the frame is kept, also to be shown again when the talk look ends.
    imgGaku->setPicture(loadFramePicture());
    m_framePicture = imgGaku->picture();

    timStay->setInterval(StayTime);
    timSlide->setInterval(SlideInterval);

    // Seeded by the time of day unless a test fixes the draws.
    m_random.seed(m_environment.seed.value_or(quint32(QTime::currentTime().msecsSinceStartOfDay())));

    // The frame starts at a random place, at least 10 pixels from the window's edges.
    const auto draw = [this](int n) { return random(n); };
    pnlBase->move(randomFramePosition(width(), pnlBase->width(), draw),
                  randomFramePosition(height(), pnlBase->height(), draw));

    // The preview goes into its parent window before it shows.
    if (m_preview && !m_environment.embed(this, previewParent()))
        qWarning("The preview could not be put into window %u", previewParent());
    if (m_preview)
        show();
    else {
        // The saver has no taskbar button and no place in the pager.
        showFullScreenOn(this, nullptr);
        activateWindow();
        // Monitors that come or go while the saver runs are covered or let go; when the
        // primary one changes, goes away or changes its size, the window follows it.
        for (QScreen *other : QGuiApplication::screens())
            watchScreen(other);
        connect(qGuiApp, &QGuiApplication::screenAdded, this, &TPantelForm::watchScreen);
        connect(qGuiApp, &QGuiApplication::screenRemoved, this, &TPantelForm::uncoverScreen);
        connect(qGuiApp, &QGuiApplication::screenRemoved, this, &TPantelForm::screensChanged);
        connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, &TPantelForm::screensChanged);
    }

    // Panel A waits out of sight to the left; panel B stands at rest.
    SlideWidth = pnlA->width();
    setPanelLeft(pnlA, -SlideWidth);

    // The first frame shows the frame and its empty picture area, as the first paint
    // would anyway (panel A is out of sight), so the rest can wait for it to be on
    // screen. A window that is never painted (a hidden preview parent) starts all the
    // same a second later.
    if (m_environment.frameFirst) {
        m_showPending = true;
        QTimer::singleShot(1000, this, [this] {
            if (!std::exchange(m_showPending, false))
                return;
            runGuarded([this] { startShow(); });
        });
    } else {
        startShow();
    }

    // Creation is over: closing need no longer wait for it.
    Busy = false;
}

void TPantelForm::startShow()
{
    if (Closing)
        return;
    Busy = true;

    // The companion and the start-up check are known before the clock's first tick
    // decides on the talk look.
    m_mail->start();

    // The clock is there from the first moment, not only after the first 30 s tick.
    timCheckTimer();

    // The catalogue, and a random first picture so that each run starts elsewhere.
    JpgFileSearch();
    PictureIndex = random(PictureCount);

    // The first picture slides in at once instead of waiting out a rest.
    if (PictureCount != 0) {
        ImageLoad();
        timSlide->setEnabled(true);
    } else {
        lblTime->setText(NoPicturesText);
        timStay->setEnabled(true);
    }
    Busy = false;
}

void TPantelForm::coverScreen(QScreen *screen)
{
    // A monitor that shows part of the primary one (a mirrored one, or the whole screen
    // as a monitor of its own) is no other monitor: a cover there would hide the frame.
    const QScreen *primary = QGuiApplication::primaryScreen();
    if (!screen || !primary || screen == primary || screen->geometry().intersects(primary->geometry())
        || m_covers.contains(screen) || Closing)
        return;
    auto *cover = new QWidget(this, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    cover->setWindowTitle(windowTitle());
    QPalette black = cover->palette();
    black.setColor(QPalette::Window, Qt::black);
    cover->setPalette(black);
    cover->setAutoFillBackground(true);
    cover->setMouseTracking(true);
    cover->setFocusPolicy(Qt::StrongFocus);
    cover->setAttribute(Qt::WA_InputMethodEnabled, false);
    cover->installEventFilter(this);
    cover->setGeometry(screen->geometry());
    showFullScreenOn(cover, screen);
    m_covers.insert(screen, cover);
}

void TPantelForm::uncoverScreen(QScreen *screen)
{
    if (QWidget *cover = m_covers.take(screen))
        cover->deleteLater();
}

void TPantelForm::watchScreen(QScreen *screen)
{
    coverScreen(screen);
    connect(screen, &QScreen::geometryChanged, this, &TPantelForm::screensChanged);
}

void TPantelForm::screensChanged()
{
    // Qt tells of a change in several signals, while its screen list may still be
    // changing; the window follows once they are all out.
    if (!m_followPending) {
        m_followPending = true;
        QMetaObject::invokeMethod(
            this, [this] { runGuarded([this] { followScreens(); }); }, Qt::QueuedConnection);
    }
}

void TPantelForm::followScreens()
{
    m_followPending = false;
    QScreen *primary = QGuiApplication::primaryScreen();
    if (m_preview || Closing || !primary)
        return;
    // A cover stays only over a monitor that is still there and apart from the primary
    // one, and keeps to that monitor's place; every other monitor gets one.
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (auto it = m_covers.begin(); it != m_covers.end();) {
        QScreen *screen = it.key();
        if (!screens.contains(screen) || screen == primary || screen->geometry().intersects(primary->geometry())) {
            if (it.value())
                it.value()->deleteLater();
            it = m_covers.erase(it);
            continue;
        }
        if (it.value())
            it.value()->setGeometry(screen->geometry());
        ++it;
    }
    for (QScreen *screen : screens)
        coverScreen(screen);

    // The window covers the primary monitor, and the frame stays inside it: its moves
    // and bounces go on from the nearest place that fits. A frame larger than the
    // monitor stands where a new one would.
    const QRect area = primary->geometry();
    if (geometry() == area)
        return;
    showFullScreenOn(this, primary);
    // The pointer has not moved, though it may now lie elsewhere in the window's
    // coordinates: the next position seen is where it is.
    LastMouseX = -1;
    LastMouseY = -1;
    const auto inside
        = [](int at, int frame, int room) { return room >= frame ? qBound(0, at, room - frame) : qMin(at, 10); };
    pnlBase->move(inside(pnlBase->x(), pnlBase->width(), area.width()),
                  inside(pnlBase->y(), pnlBase->height(), area.height()));
}

bool TPantelForm::eventFilter(QObject *watched, QEvent *event)
{
    const bool cover = watched != this && watched->isWidgetType() && watched->parent() == this
        && static_cast<QWidget *>(watched)->isWindow();
    if (!cover)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::KeyPress:
        runGuarded([this] { FormKeyDown(); });
        return true;
    case QEvent::MouseButtonPress:
        runGuarded([this] { FormMouseDown(); });
        return true;
    case QEvent::Enter:
    case QEvent::MouseMove: {
        // Positions count in this window's coordinates, wherever the pointer is.
        const QPoint at = mapFromGlobal(static_cast<QSinglePointEvent *>(event)->globalPosition().toPoint());
        runGuarded([this, at] { FormMouseMove(at.x(), at.y()); });
        return event->type() == QEvent::MouseMove;
    }
    default:
        return QWidget::eventFilter(watched, event);
    }
}

std::optional<Picture> TPantelForm::loadFramePicture() const
{
    // A text of blanks only names no file here: the built-in golden bar.
    return pnlBase->framePictureFrom(trimControl(FramePicture).isEmpty() ? QString() : FramePicture);
}

void TPantelForm::setClockColor(const QColor &color)
{
    pnlBase->setClockColor(color);
}

int TPantelForm::random(int n)
{
    if (n <= 0)
        return 0;
    return std::uniform_int_distribution<int>(0, n - 1)(m_random);
}

int TPantelForm::panelLeft(const Panel *panel) const
{
    // The slide area's coordinates are pnlBack's client coordinates.
    return panel->x();
}

void TPantelForm::setPanelLeft(Panel *panel, int left)
{
    panel->move(left, panel->y());
}

void TPantelForm::JpgFileSearch()
{
    Busy = true;
    PictureList = listPictureFiles(FolderPaths[size_t(FolderIndex)]);
    PictureCount = int(PictureList.size());
    if (PictureCount < PictureIndex + 1)
        PictureIndex = 0;
    Busy = false;
}

void TPantelForm::ImageLoad()
{
    if (PictureCount == 0)
        return;
    Busy = true;
    ImageView *target = NextSide == 0 ? imgA : imgB;
    // An undecodable picture, and equally a file that vanished, cannot be opened or is a
    // folder, leaves the area empty; the saver opens no message over the screen.
    target->setPicture(loadPicture(PictureList.at(PictureIndex), Scale, target->deviceSize()));
    PictureIndex = PictureIndex + 1;
    if (PictureIndex >= PictureCount)
        PictureIndex = 0;
    Busy = false;
}

void TPantelForm::timStayTimer()
{
    MoveCount = 0;
    timStay->setEnabled(false);
    timSlide->setEnabled(false);
    timMove->setEnabled(true);
}

void TPantelForm::timMoveTimer()
{
    // A mail tick served inside this step waits until the step is over, and its check
    // runs right after it.
    m_mail->holdChecks();
    const auto stepOver = qScopeGuard([this] { m_mail->releaseChecks(); });
    // Input and the clock run between the steps.
    QCoreApplication::processEvents();
    if (MoveAmount != 0) {
        ++MoveCount;
        const MoveState moved = moveStep({pnlBase->x(), pnlBase->y(), MoveRight, MoveDown}, pnlBase->size(), size());
        pnlBase->move(moved.left, moved.top);
        MoveRight = moved.right;
        MoveDown = moved.down;
    }
    if (MoveCount >= MoveAmount) {
        timMove->setEnabled(false);
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
            timSlide->setEnabled(true);
        else
            timStay->setEnabled(true);
    }
}

void TPantelForm::timSlideTimer()
{
    Busy = true;
    Panel *incoming = NextSide == 0 ? pnlA : pnlB;
    Panel *outgoing = NextSide == 0 ? pnlB : pnlA;
    const int left = panelLeft(incoming);
    const int step = slideStep(left, SlideWidth, pnlBack->borderWidth());
    if (step > 0) {
        // Both panels move right by the same step.
        pnlBase->slidePictures(step);
    } else {
        setPanelLeft(outgoing, -SlideWidth);
        NextSide = NextSide == 0 ? 1 : 0;
        timSlide->setEnabled(false);
        timStay->setEnabled(true);
    }
    // Paint the invalid parts at once, so that the motion stays even at short intervals.
    QCoreApplication::sendPostedEvents(window(), QEvent::UpdateRequest);
    Busy = false;
}

void TPantelForm::timCheckTimer()
{
    // The talk look holds the clock label until it ends.
    if (!m_mail->talkShown() && FrameWidth > 5)
        lblTime->setText(currentClockText());
    m_mail->clockTick();
}

void TPantelForm::timMailCheckTimer()
{
    m_mail->mailTick();
}

void TPantelForm::popMailConnect()
{
    // The window may not be shown yet (the start-up check), so the panel's own state
    // counts, not whether it can be seen.
    if (!pnlError->isHidden())
        pnlError->hide();
}

void TPantelForm::setTalkLook(bool talk)
{
    if (talk) {
        imgGaku->clear();
        setClockColor(Qt::black);
        pnlBase->setColor(QColor(255, 255, 0));
        lblTime->setText(TalkText);
        return;
    }
    imgGaku->setPicture(m_framePicture);
    // The frame panel takes its own colour again, so that a frame picture that is
    // missing or not a picture leaves the frame as it was at start.
    pnlBase->setColor(m_baseColor);
    setClockColor(toQColor(clockColorOf(ClockColor)));
    // Without a clock nothing would ever replace the marker, so it goes.
    if (FrameWidth > 5)
        lblTime->setText(currentClockText());
    else
        lblTime->clear();
}

void TPantelForm::askToClose()
{
    if (!Closing)
        close();
}

void TPantelForm::closeWithoutPrompt()
{
    if (Closing)
        return;
    m_skipPrompt = true;
    close();
}

void TPantelForm::FormKeyDown()
{
    askToClose();
}

void TPantelForm::FormMouseDown()
{
    askToClose();
}

void TPantelForm::FormMouseMove(int x, int y)
{
    if (LastMouseX == -1 && LastMouseY == -1) {
        // The first event only records where the pointer is.
        LastMouseX = x;
        LastMouseY = y;
        return;
    }
    if (mouseMoveCloses(QPoint(LastMouseX, LastMouseY), QPoint(x, y)))
        askToClose();
}

bool TPantelForm::FormSystemCommand(quint32 command)
{
    // No second screen saver starts while this one runs.
    return handlesSystemCommand(command);
}

bool TPantelForm::FormCloseQuery()
{
    // The preview takes no input, and on the NT family the system asks for the password.
    if (m_preview || PlatformId == 2)
        return true;
    const Platform::DesktopValue desktop = platform().screenSaveUsePassword();
    if (!desktop.keyOpened)
        return true;
    // An absent value or one that is not a number counts as 0: no password.
    if (parseIntegerOr(desktop.text.value_or(QString()), 0) == 0)
        return true;
    platform().showCursor(true);
    std::unique_ptr<Platform::PasswordVerifier> verifier = platform().loadPasswordVerifier();
    if (!verifier)
        return true;
    const bool right = verifier->verify(quint64(winId()));
    verifier.reset();
    if (!right) {
        // The show goes on; the next movement is measured from where it is seen next.
        LastMouseX = -1;
        LastMouseY = -1;
        platform().showCursor(false);
    }
    return right;
}

void TPantelForm::FormClose()
{
    Closing = true;
    timStay->setEnabled(false);
    timMove->setEnabled(false);
    timSlide->setEnabled(false);
    timCheck->setEnabled(false);
    for (const QPointer<QWidget> &cover : std::as_const(m_covers)) {
        if (cover)
            cover->hide();
    }
    m_mail->stop();
    // A load or slide step in progress may finish first; events are not served here.
    for (int i = 0; i < 5 && Busy; ++i)
        QThread::msleep(100);
    if (PlatformId == 1)
        platform().setScreenSaverRunning(false);
    platform().showCursor(true);
}

void TPantelForm::FormDestroy()
{
    m_mail->endMailConnection();
    PictureList.clear();
    PictureCount = 0;
}

void TPantelForm::keyPressEvent(QKeyEvent *)
{
    // A preview, and equally a saver in a daemon's window, take no input at all: only
    // the run mode's own window reads keys, buttons and movement.
    if (m_preview)
        return;
    runGuarded([this] { FormKeyDown(); });
}

void TPantelForm::enterEvent(QEnterEvent *event)
{
    // A window that appears under the pointer, or the pointer coming in, counts as a
    // movement to where the pointer is, so the first position is known before the user
    // moves the mouse. Qt hands Enter events to disabled widgets too, so a preview
    // ignores them here.
    if (m_preview)
        return;
    const QPoint at = event->position().toPoint();
    runGuarded([this, at] { FormMouseMove(at.x(), at.y()); });
}

void TPantelForm::mousePressEvent(QMouseEvent *)
{
    if (m_preview)
        return;
    runGuarded([this] { FormMouseDown(); });
}

void TPantelForm::mouseMoveEvent(QMouseEvent *event)
{
    if (m_preview)
        return;
    const QPoint at = event->position().toPoint();
    runGuarded([this, at] { FormMouseMove(at.x(), at.y()); });
}

void TPantelForm::paintEvent(QPaintEvent *)
{
    // Queued: the rest of the start-up runs once this frame has gone to the screen.
    if (std::exchange(m_showPending, false)) {
        startupMark("paint");
        QMetaObject::invokeMethod(
            this, [this] { runGuarded([this] { startShow(); }); }, Qt::QueuedConnection);
    }
}

void TPantelForm::closeEvent(QCloseEvent *event)
{
    if (Closing) {
        event->accept();
        return;
    }
    bool allowed = true;
    const bool ok = runGuarded([this, &allowed] {
        allowed = m_skipPrompt || FormCloseQuery();
        if (allowed)
            FormClose();
    });
    m_skipPrompt = false;
    if (!ok || !allowed) {
        event->ignore();
        return;
    }
    event->accept();
    emit closed();
}
