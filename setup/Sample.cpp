#include "setup/Sample.h"

#include "picture/PictureRequest.h"
#include "platform/DisplaySession.h"
#include "platform/X11Window.h"
#include "settings/ColorText.h"
#include "settings/SettingsText.h"
#include "show/FrameLayout.h"
#include "show/ImageView.h"
#include "show/Panel.h"

#include <QLabel>

TSampleForm::TSampleForm(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus),
      FrameParts(FrameView::create(this, FrameView::Kind::Sample)),
      m_decoder(decodePicture)
{
    setObjectName(QStringLiteral("TSampleForm"));
    setWindowTitle(QStringLiteral("Pantel"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    QPalette face = palette();
    face.setColor(QPalette::Window, QColor::fromRgb(Panel::ButtonFace));
    setPalette(face);
    setAutoFillBackground(true);

    // The frame stays hidden until the dialog first asks for the sample. Its clock never
    // shows the time.
    pnlBase->hide();
    lblTime->setText(QStringLiteral("12:00"));
    pnlBase->setClockColor(Qt::white);

    QObject::connect(m_decoder.signal(), &DecodeThreadSignal::finished, this, &TSampleForm::showDecoded);
    FormCreate();
    // Like the saver, the sample has no taskbar button and no place in the pager.
    if (runsOnX11())
        skipTaskbarAndPager(this);
}

void TSampleForm::FormCreate()
{
    // A Wayland window cannot place itself: the compositor does.
    if (!runsOnWayland())
        move(0, 0);
    fitToContent();
}

namespace {

// Larger than any frame the settings dialog offers (1050 pixels).
constexpr int kLargestSampleWindow = 4096;

} // namespace

void TSampleForm::SetDisp(const SampleContent &content)
{
    // One pixel of the sample is one pixel of the full screen.
    const FrameLayout layout = frameLayout(content.frameSize, content.frameWidth, 0, 1.0);
    lblTime->setVisible(layout.clockShown());
    pnlBase->arrange(layout);
    pnlBase->setVisible(true);

    // The sample picture at full size or fitted, as the saver will show it; an invalid one
    // leaves the area black.
    m_showDate = content.photo.showDate;
    if (trimControl(content.picture).isEmpty()) {
        m_decoder.cancel();
        imgA->clear();
        pnlBase->setTakenDate(QString());
    } else {
        m_decoder.request(
            {content.picture, imgA->deviceSize(), 1.0, content.photo.fitPicture, content.photo.allFormats, m_showDate});
    }

    pnlBase->setClockColor(toQColor(clockColorOf(content.clockColor)));

    pnlBase->setFramePicture(content.framePicture);

    fitToContent();
}

void TSampleForm::showDecoded()
{
    if (!m_decoder.isFinished())
        return;
    std::optional<DecodedPicture> decoded = m_decoder.take();
    pnlBase->setTakenDate(decoded && m_showDate ? decoded->takenDate : QString());
    imgA->setPicture(decoded ? std::optional<Picture>(std::move(decoded->picture)) : std::nullopt);
}

void TSampleForm::fitToContent()
{
    // A window cannot be 0 x 0; before the frame shows it is one pixel of button face.
    const QSize content = pnlBase->isVisibleTo(this) ? pnlBase->size() : QSize();
    // A hand-edited frame size would make a window larger than any screen; its pixels
    // would only cost memory.
    resize(content.expandedTo(QSize(1, 1)).boundedTo(QSize(kLargestSampleWindow, kLargestSampleWindow)));
}
