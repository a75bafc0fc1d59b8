#include "show/Main.h"

#include "platform/StartupTrace.h"

#include "picture/PictureLoader.h"
#include "platform/DisplaySession.h"
#include "platform/ErrorReport.h"
#include "platform/Platform.h"
#include "platform/PreviewParent.h"
#include "platform/X11Window.h"
#include "settings/ColorText.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsText.h"
#include "show/ClockText.h"
#include "show/MailIndicator.h"
#include "show/Panel.h"
#include "show/ScreenCovers.h"
#include "show/SlideMove.h"
#include "show/Slideshow.h"
#include "show/Timer.h"
#include "show/WindowPlacement.h"
#include "ui_Main.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QScreen>
#include <QTime>
#include <QTimer>
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
    // The frame takes no input, so mouse events reach the form with the form's
    // coordinates, and the form sees every key.
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);

    // Every handler runs guarded: an exception never crosses the event loop.
    const auto timer = [this](const char *name, int interval, void (TPantelForm::*handler)()) {
        auto *t = new Timer(this);
        t->setObjectName(QLatin1String(name));
        t->setInterval(interval);
        connect(t, &Timer::timeout, this, [this, handler] { runGuarded([this, handler] { (this->*handler)(); }); });
        return t;
    };
    timStay = timer("timStay", 5000, &TPantelForm::timStayTimer);
    timMove = timer("timMove", 100, &TPantelForm::timMoveTimer);
    timSlide = timer("timSlide", 100, &TPantelForm::timSlideTimer);
    timCheck = timer("timCheck", 30000, &TPantelForm::timCheckTimer);
    timCheck->setEnabled(true);
    timMailCheck = timer("timMailCheck", 900000, &TPantelForm::timMailCheckTimer);
    m_mail = new MailIndicator(timMailCheck, this);
    connect(m_mail, &MailIndicator::loggedIn, this, &TPantelForm::popMailConnect);
    connect(m_mail, &MailIndicator::checkFailed, pnlError, &QWidget::show);
    connect(m_mail, &MailIndicator::talkChanged, this, &TPantelForm::setTalkLook);
    m_show = std::make_unique<Slideshow>(Slideshow::Parts{pnlBase->parts(), this, timStay, timMove, timSlide, m_mail},
                                         m_environment.decode ? m_environment.decode : Slideshow::decodePictureFile,
                                         m_environment.walk);
    m_covers = new ScreenCovers(this, pnlBase,
                                {[this] { return m_preview || Closing; },
                                 [this] {
                                     // The pointer has not moved, though it may now lie elsewhere in
                                     // the window's coordinates: the next position seen is where it is.
                                     LastMouseX = -1;
                                     LastMouseY = -1;
                                 },
                                 [this](QEvent::Type type, QPoint at) { takeInput(type, at); }});

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
    m_show->reset();
    Scale = 1.0;
    Closing = false;

    // Place and size the window: the preview parent's size, or the screen's. The primary
    // monitor plays the role of the screen.
    const QScreen *primary = QGuiApplication::primaryScreen();
    QRect screen(QPoint(), m_environment.screenSize.value_or(QSize()));
    if (!screen.isValid() && primary)
        screen = primary->geometry();
    const WindowPlacement place
        = placeWindow(screen, previewParent() != 0 ? m_environment.previewParentSize(previewParent()) : std::nullopt,
                      m_environment.devicePixelRatio.value_or(primary ? primary->devicePixelRatio() : 1.0));
    m_preview = place.preview;
    Scale = place.scale;
    if (m_preview) {
        setWindowFlags(Qt::Widget | Qt::FramelessWindowHint);
        setGeometry(place.geometry);
        // Disabled: the preview takes no keyboard or mouse input at all.
        setEnabled(false);
    } else {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        setGeometry(place.geometry);
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

    const ShowSettings settings = readShowSettings(Scale);
    m_config = settings.config;
    m_mail->configure(settings.stored);
    writeBackRotation(m_config);

    m_show->configure(m_config.FolderPaths[size_t(m_config.FolderIndex)], m_config.StayTime, m_config.MoveAmount,
                      Scale);
    m_show->setPhotoOptions(settings.stored.photo);
    // The no-pictures text gives way to the clock once pictures come.
    m_show->setPicturesAppeared([this] { lblTime->setText(m_config.FrameWidth > 5 ? currentClockText() : QString()); });

    pnlBase->setClockColor(toQColor(clockColorOf(m_config.ClockColor)));
    pnlBase->arrange(m_config.layout);

    pnlBase->setFramePicture(m_config.FramePicture);

    timStay->setInterval(m_config.StayTime);
    timSlide->setInterval(m_config.SlideInterval);

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
        m_covers->watchAll();
    }

    m_show->placePanels();

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
    m_show->setBusy(false);
}

void TPantelForm::startShow()
{
    if (Closing)
        return;
    m_show->setBusy(true);

    // The companion and the start-up check are known before the clock's first tick
    // decides on the talk look.
    m_mail->start();

    // The clock is there from the first moment, not only after the first 30 s tick.
    timCheckTimer();

    // A start given up because the window closed meanwhile leaves the window alone.
    if (!m_show->start([this](int n) { return random(n); }) && !m_show->abandoned())
        lblTime->setText(NoPicturesText);
    m_show->setBusy(false);
}

int TPantelForm::random(int n)
{
    if (n <= 0)
        return 0;
    return std::uniform_int_distribution<int>(0, n - 1)(m_random);
}

void TPantelForm::timCheckTimer()
{
    // The talk look holds the clock label until it ends.
    if (!m_mail->talkShown() && m_config.FrameWidth > 5)
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
    // Without a clock nothing would ever replace the marker, so it goes.
    pnlBase->setTalkLook(talk, m_config.FrameWidth > 5 ? currentClockText() : QString());
}

void TPantelForm::FormDestroy()
{
    m_mail->endMailConnection();
    m_show->clear();
}

void TPantelForm::paintEvent(QPaintEvent *)
{
    // Queued: the rest of the start-up runs once this frame has gone to the X server, and
    // the server has drawn it, so that the fonts, the catalogue and the first picture do
    // not take the processor from the server while it draws.
    if (std::exchange(m_showPending, false)) {
        startupMark("paint");
        QMetaObject::invokeMethod(
            this,
            [this] {
                waitForX11Server();
                runGuarded([this] { startShow(); });
            },
            Qt::QueuedConnection);
    }
}
