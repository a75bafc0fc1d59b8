#pragma once

#include "library/PassOrder.h"
#include "picture/DecodeThread.h"
#include "picture/PictureLoader.h"
#include "picture/PictureRequest.h"
#include "settings/PhotoOptions.h"
#include "show/CatalogueBuild.h"
#include "show/FrameView.h"

#include <QSize>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class MailIndicator;
class Panel;
class QEventLoop;
class QWidget;
class Timer;

// The picture cycle of the show window: the catalogue of the slot's folder, the loading
// of the next picture into the panel that slides in next, and the timers' work: a rest,
// a move of the frame, then the new picture slides in. The window's handlers of the
// same names call in here.
class Slideshow
{
public:
    // What one picture's decode is asked for: the file, the window's scale, the size of
    // the panel it is centred (or fitted) in, and the photo options that change it.
    struct PictureJob
    {
        QString path;
        double scale = 1.0;
        QSize visible;
        bool fit = false;
        bool allFormats = false;
        bool takenDate = false;
        bool operator==(const PictureJob &) const = default;
    };
    using Decoder = DecodeThread<PictureJob, DecodedPicture>;
    // Decodes on the worker thread; asks `cancelled` as it goes.
    using Decode = Decoder::Decode;
    // Today's loader, which the show uses unless a test gives its own.
    static std::optional<DecodedPicture> decodePictureFile(const PictureJob &job, const CancelCheck &cancelled);
    // Walks the slot's folder tree on the catalogue's thread; empty: the folder walk.
    using Walk = CatalogueBuild::Walk;

    struct Parts
    {
        FrameParts frame;
        QWidget *window = nullptr; // the frame moves within it
        Timer *timStay = nullptr;
        Timer *timMove = nullptr;
        Timer *timSlide = nullptr;
        MailIndicator *mail = nullptr; // its checks wait while a move step runs
    };

    explicit Slideshow(Parts parts, Decode decode = decodePictureFile, Walk walk = {});
    ~Slideshow();

    // The fields as FormCreate starts them.
    void reset();
    // The slot's folder and times, and the window's scale that pictures are loaded at.
    void configure(const QString &folder, int stayTime, int moveAmount, double scale);
    // How pictures are found, decoded and ordered: the photo options.
    void setPhotoOptions(const PhotoOptions &options) { m_options = options; }
    // Told when a folder that had no pictures has some now and the show starts.
    void setPicturesAppeared(std::function<void()> told) { m_picturesAppeared = std::move(told); }
    // Panel A waits out of sight to the left; panel B stands at rest.
    void placePanels();
    // The catalogue, and a first picture drawn by `draw` (0 to n - 1) so that each run
    // starts elsewhere; the first one slides in at once. False when there is no picture,
    // and when the start was given up (`abandoned`).
    bool start(const std::function<int(int)> &draw);

    void JpgFileSearch();
    void ImageLoad();
    void timStayTimer();
    void timMoveTimer();
    void timSlideTimer();
    // The catalogue goes with the window; a build still running is cancelled.
    void clear();
    // The window closes: a load waiting for its picture gives it up and leaves the panel
    // as it is, and the cycle stops there.
    void abandon();
    // The window closed (or SIGTERM came) while the cycle waited: it stops there.
    bool abandoned() const { return m_abandoned; }
    // A catalogue is being built again after a pass, or looked for in an empty folder.
    bool rebuilding() const { return m_build != nullptr; }
    // The last picture of a pass has been loaded.
    bool passEnded() const { return m_order && m_order->passEnded(); }
    // The empty folder's next look comes at once instead of after its wait.
    void lookAgainNow();

    // The client-coordinate left edge of a picture panel inside pnlBack.
    int panelLeft(const Panel *panel) const;

    const QStringList &pictureList() const { return PictureList; }
    int pictureCount() const { return PictureCount; }
    int pictureIndex() const { return PictureIndex; }
    bool moveRight() const { return MoveRight; }
    bool moveDown() const { return MoveDown; }
    int moveCount() const { return MoveCount; }
    int slideWidth() const { return SlideWidth; }
    int nextSide() const { return NextSide; }
    // The day the picture loaded last was taken ("2019年8月14日"), or empty.
    const QString &incomingDate() const { return m_incomingDate; }
    // A load or slide step is in progress; closing waits a little for it.
    bool busy() const { return Busy; }
    void setBusy(bool busy) { Busy = busy; }

private:
    // The one place the cycle gets its pictures from: the next one of the catalogue, for
    // a panel of `visible` device pixels; none when it cannot be shown (or the window
    // closed while it was decoded: `m_abandoned`).
    std::optional<Picture> nextPicture(QSize visible);
    // The catalogue's path after the current one: the picture the next load shows.
    QString nextPath() const;
    // What the next load will ask for, as far as it is known now.
    PictureJob nextJob() const;
    // The job for `path` in an area of `visible` device pixels, with the photo options: the
    // decode ahead and the load build it alike, or the load would not find it done.
    PictureJob jobFor(const QString &path, QSize visible) const;
    // Starts the decode of the next load's picture, as soon as the previous slide ended.
    void decodeAhead();
    // `job`'s picture from the worker, serving the events while it is not there yet.
    std::optional<DecodedPicture> decoded(const PictureJob &job);
    void setPanelLeft(Panel *panel, int left);
    // The catalogue side: moves PictureIndex to the picture the pass order gives next, and
    // starts building the catalogue again once the pass is over.
    void takeNextIndex();
    void takeCatalogue(const QStringList &catalogue);
    // The first pictures of a new build; none when the start is given up meanwhile.
    std::optional<QStringList> firstPictures(CatalogueBuild &build);
    void buildCatalogue();
    void catalogueBuilt(const QStringList &catalogue);
    // The picture that was loaded last slides in, with its date on the frame.
    void beginSlide();

    Parts m_parts;
    QString m_folder;
    int StayTime = 0;
    int MoveAmount = 0;
    double Scale = 1.0;

    QStringList PictureList;
    qint32 PictureCount = 0;
    qint32 PictureIndex = 0;
    bool MoveRight = true;
    bool MoveDown = true;
    qint32 MoveCount = 0;
    qint32 SlideWidth = 0;
    quint8 NextSide = 0;
    bool Busy = true;

    Decoder m_decoder;
    Walk m_walk;
    // While a load waits for its picture, or the start for its first pictures: the loop
    // it waits in.
    QEventLoop *m_wait = nullptr;
    bool m_abandoned = false;
    PhotoOptions m_options;
    std::function<int(int)> m_draw;
    std::unique_ptr<PassOrder> m_order;
    std::unique_ptr<CatalogueBuild> m_build;
    // An empty folder is looked at again after this wait.
    QTimer m_lookAgain;
    std::function<void()> m_picturesAppeared;
    bool m_moving = false;
    // Pictures appeared during a move: the move's load slides in, even if it is the only one.
    bool m_firstSlidePending = false;
    // The date of the picture loaded last, shown when it slides in.
    QString m_incomingDate;
};
