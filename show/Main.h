#pragma once

#include "picture/PictureLoader.h"
#include "settings/SlotSettings.h"
#include "show/FrameLayout.h"
#include "show/FrameView.h"
#include "show/ShowConfig.h"
#include "show/Slideshow.h"

#include <QEvent>
#include <QPoint>
#include <QSize>
#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <random>

class ImageView;
class MailIndicator;
class Panel;
class QLabel;
class ScreenCovers;

class Timer;

namespace Ui {
class TPantelForm;
}

// The show window: black screen (or the preview parent's inside), one square frame with
// its picture, clock, mat and the two picture panels that take turns; the timers that
// rest, move and slide; input and closing. Its creation runs FormCreate. The frame's
// components come from FrameParts; the handlers hand their work to the settings read at
// start (ShowConfig), the picture cycle (Slideshow) and the covers of the other
// monitors (ScreenCovers).
class TPantelForm : public QWidget, public FrameParts
{
    Q_OBJECT

public:
    // What the window takes from its surroundings; the defaults ask the system.
    struct Environment
    {
        // Seeds the random start (frame position, first picture); empty: time of day.
        std::optional<quint32> seed;
        // Size of the screen; empty: the primary screen's.
        std::optional<QSize> screenSize;
        // The screen's device pixel ratio; empty: the primary screen's.
        std::optional<qreal> devicePixelRatio;
        // Size of the preview parent window in device pixels, empty when it does not exist.
        std::function<std::optional<QSize>(quint32)> previewParentSize;
        // Puts the window inside the preview parent; false when that is not possible.
        std::function<bool(QWidget *, quint32)> embed;
        // The frame goes on screen before the rest of the start-up (the mail check, the
        // clock, the catalogue, the first picture) runs, which then follows at once: the
        // program's choice, so that the first frame waits for nothing it does not show.
        // Left off, the window is complete when made (what tests look at).
        bool frameFirst = false;
        // Decodes the pictures on the worker thread; empty: the picture loader.
        Slideshow::Decode decode;
        // Walks the slot's folder tree on the catalogue's thread; empty: the folder walk.
        Slideshow::Walk walk;
    };

    TPantelForm();
    explicit TPantelForm(Environment environment, QWidget *parent = nullptr);
    ~TPantelForm() override;

    // Components besides the frame's, named as the form description names them.
    Timer *timStay = nullptr;
    Timer *timMove = nullptr;
    Timer *timSlide = nullptr;
    Timer *timCheck = nullptr;
    Timer *timMailCheck = nullptr;

    // Handlers; the picture cycle's are Slideshow's.
    void FormCreate();
    bool FormCloseQuery();
    void FormClose();
    void FormDestroy();
    void FormKeyDown();
    void FormMouseDown();
    void FormMouseMove(int x, int y);
    // The system command handler's answer: true (result 1, not passed on) for the
    // screen-save command, false for the default handling.
    bool FormSystemCommand(quint32 command);
    void timStayTimer() { m_show->timStayTimer(); }
    void timMoveTimer() { m_show->timMoveTimer(); }
    void timSlideTimer() { m_show->timSlideTimer(); }
    void timCheckTimer();
    void timMailCheckTimer();
    void popMailConnect();
    void JpgFileSearch() { m_show->JpgFileSearch(); }
    void ImageLoad() { m_show->ImageLoad(); }

    // A close request as input makes it (with the password check where one applies).
    void askToClose();
    // A close request from outside (SIGTERM, a vanished preview parent): no prompt.
    void closeWithoutPrompt();

    // State, read by the program and its tests.
    bool isPreview() const { return m_preview; }
    int lastMouseX() const { return LastMouseX; }
    int lastMouseY() const { return LastMouseY; }
    quint32 platformId() const { return PlatformId; }
    const QStringList &pictureList() const { return m_show->pictureList(); }
    Slideshow &slideshow() { return *m_show; }
    int pictureCount() const { return m_show->pictureCount(); }
    int pictureIndex() const { return m_show->pictureIndex(); }
    bool moveRight() const { return m_show->moveRight(); }
    bool moveDown() const { return m_show->moveDown(); }
    int moveCount() const { return m_show->moveCount(); }
    int frameSize() const { return m_config.FrameSize; }
    int stayTime() const { return m_config.StayTime; }
    int slideInterval() const { return m_config.SlideInterval; }
    int moveAmount() const { return m_config.MoveAmount; }
    int frameWidth() const { return m_config.FrameWidth; }
    int slideWidth() const { return m_show->slideWidth(); }
    int nextSide() const { return m_show->nextSide(); }
    int folderIndex() const { return m_config.FolderIndex; }
    double scale() const { return Scale; }
    bool busy() const { return m_show->busy(); }
    bool closing() const { return Closing; }
    // The mail check and the companion's signal, with the client popMail.
    MailIndicator *mailIndicator() const { return m_mail; }
    const FrameLayout &layout() const { return m_config.layout; }
    // The client-coordinate left edge of a picture panel inside pnlBack.
    int panelLeft(const Panel *panel) const { return m_show->panelLeft(panel); }

signals:
    // The window has closed; the program ends.
    void closed();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // What the start-up does once the frame is on screen (or at once, when the frame
    // does not go first): the mail check, the clock, the catalogue and the first picture.
    void startShow();
    // Every input the run mode reads, from this window or a cover of another monitor,
    // goes to its handler here; the handlers decide whether it closes the saver.
    void takeInput(QEvent::Type type, QPoint at);
    int random(int n);
    // The talk look (yellow frame, the marker in the clock label) or the normal one.
    void setTalkLook(bool talk);

    std::unique_ptr<Ui::TPantelForm> ui;
    Environment m_environment;
    std::mt19937 m_random;
    // What the settings gave at start.
    ShowConfig m_config;
    bool m_preview = false;
    bool m_skipPrompt = false;
    // startShow has yet to run (the frame goes first, and is not yet on screen).
    bool m_showPending = false;
    MailIndicator *m_mail = nullptr;
    ScreenCovers *m_covers = nullptr;
    std::unique_ptr<Slideshow> m_show;

    // The window's own fields.
    qint32 LastMouseX = -1;
    qint32 LastMouseY = -1;
    quint32 PlatformId = 0;
    double Scale = 1.0;
    bool Closing = false;
};
