#include "show/FrameView.h"

#include "settings/SettingsText.h"
#include "show/BuiltInFrame.h"
#include "show/ImageView.h"
#include "show/MailIndicator.h"

#include <QFileInfo>
#include <QLabel>

namespace {

// The clock's font is this many pixels high, and so is its label.
constexpr int ClockPixels = 12;

Panel *blackPanel(QWidget *parent, const char *name)
{
    auto *panel = new Panel(parent);
    panel->setObjectName(QLatin1String(name));
    panel->setBevelOuter(Panel::None);
    panel->setColor(Qt::black);
    return panel;
}

ImageView *imageView(QWidget *parent, const char *name)
{
    auto *view = new ImageView(parent);
    view->setObjectName(QLatin1String(name));
    return view;
}

} // namespace

FrameParts FrameView::create(QWidget *window, Kind kind)
{
    return (new FrameView(window, kind))->parts();
}

FrameView::FrameView(QWidget *window, Kind kind) : Panel(window), m_kind(kind)
{
    FrameParts &p = m_parts;
    p.pnlBase = this;
    setObjectName(QStringLiteral("pnlBase"));
    setBevelOuter(Panel::Raised);
    setBevelWidth(3);

    p.imgDummy = imageView(this, "imgDummy");
    p.imgDummy->setImage(builtInFramePicture());
    p.imgDummy->hide();

    p.imgGaku = imageView(this, "imgGaku");
    p.imgGaku->setStretch(true);

    p.lblTime = new QLabel(this);
    p.lblTime->setObjectName(QStringLiteral("lblTime"));
    p.lblTime->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QFont clockFont(QStringLiteral("ＭＳ ゴシック"));
    clockFont.setPixelSize(ClockPixels);
    p.lblTime->setFont(clockFont);

    // The date is the clock's counterpart on the upper border: same font, same colour.
    p.lblDate = new QLabel(this);
    p.lblDate->setObjectName(QStringLiteral("lblDate"));
    p.lblDate->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    p.lblDate->setFont(clockFont);

    p.pnlInner = new Panel(this);
    p.pnlInner->setObjectName(QStringLiteral("pnlInner"));
    p.pnlInner->setBevelOuter(Panel::None);
    p.pnlInner->setBevelInner(Panel::Lowered);
    p.pnlInner->setBevelWidth(3);

    p.pnlBack = blackPanel(p.pnlInner, "pnlBack");
    p.pnlBack->setBorderLine(true);

    // A slide step scrolls this area with both panels in it, so only the strip that comes
    // into view is painted afresh.
    m_slideArea = new QWidget(p.pnlBack);
    m_slideArea->setObjectName(QStringLiteral("slideArea"));
    QPalette area = m_slideArea->palette();
    area.setColor(QPalette::Window, Qt::black);
    m_slideArea->setPalette(area);
    m_slideArea->setAutoFillBackground(true);

    p.pnlA = blackPanel(m_slideArea, "pnlA");
    p.imgA = imageView(p.pnlA, "imgA");
    if (kind == Kind::Show) {
        // Created after panel A, panel B lies above it.
        p.pnlB = blackPanel(m_slideArea, "pnlB");
        p.imgB = imageView(p.pnlB, "imgB");
        // Created last, the error mark lies above both picture panels.
        p.pnlError = blackPanel(p.pnlBack, "pnlError");
        p.pnlError->setColor(QColor(128, 0, 0));
        p.pnlError->setCaption(QStringLiteral("メールチェックエラー発生"));
        p.pnlError->setCaptionColor(Qt::white);
        p.pnlError->hide();
    }

    setEnabled(false);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    for (QWidget *part : findChildren<QWidget *>())
        part->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_baseColor = color();
}

void FrameView::arrange(const FrameLayout &layout)
{
    FrameParts &p = m_parts;
    resize(layout.frameEdge, layout.frameEdge);
    setBevelWidth(layout.frameBevel);
    p.imgGaku->setGeometry(clientRect());
    p.lblTime->setGeometry(layout.frameBevel, layout.clockTop(clockFontPoints()),
                           layout.frameEdge - 2 * layout.frameBevel, ClockPixels);
    // Centred in the upper border as the clock is in the lower one; a border too narrow
    // for the clock has no room for the date either.
    p.lblDate->setGeometry(layout.frameBevel, layout.matOffset / 2 - clockFontPoints() / 2 - 3 + 1,
                           layout.frameEdge - 2 * layout.frameBevel, ClockPixels);
    p.lblDate->setVisible(layout.clockShown());

    p.pnlInner->setGeometry(layout.matOffset, layout.matOffset, layout.matEdge, layout.matEdge);
    p.pnlInner->setBevelWidth(layout.matBevel);
    p.pnlBack->setGeometry(p.pnlInner->clientRect());
    p.pnlBack->setBorderWidth(layout.pictureBorder);
    const int line = p.pnlBack->lineWidth();
    m_slideArea->setGeometry(p.pnlBack->rect().adjusted(line, line, -line, -line));

    // The slide area's coordinates are pnlBack's client coordinates; at rest a panel
    // fills the picture area inside the border.
    const QRect rest = p.pnlBack->clientRect().translated(-p.pnlBack->clientToWidget(QPoint(0, 0)));
    p.pnlA->setGeometry(rest);
    p.imgA->setGeometry(p.pnlA->clientRect());
    if (p.pnlB) {
        p.pnlB->setGeometry(rest);
        p.imgB->setGeometry(p.pnlB->clientRect());
    }
    if (p.pnlError)
        p.pnlError->setGeometry(QRect(p.pnlBack->clientToWidget(QPoint(8, 8)), layout.errorSize));
}

void FrameView::slidePictures(int step)
{
    m_slideArea->scroll(step, 0);
}

void FrameView::setClockColor(const QColor &color)
{
    m_clockColor = color;
    showClockColor(color);
}

void FrameView::showClockColor(const QColor &color)
{
    QPalette clock = m_parts.lblTime->palette();
    clock.setColor(QPalette::WindowText, color);
    m_parts.lblTime->setPalette(clock);
    m_parts.lblDate->setPalette(clock);
}

void FrameView::setTakenDate(const QString &text)
{
    m_takenDate = text;
    if (!m_talk)
        m_parts.lblDate->setText(text);
}

void FrameView::setFramePicture(const QString &text)
{
    // Set once the frame has its size, so that only the picture's stretch over the frame
    // is kept.
    m_parts.imgGaku->setPicture(framePictureFrom(text));
    m_framePicture = m_parts.imgGaku->picture();
}

std::optional<Picture> FrameView::framePictureFrom(const QString &text) const
{
    // The show window reads the stored text, where blanks only can come from a hand-edited
    // file: like the clock colour, such a field counts as empty and shows the golden bar.
    // The sample shows the dialog's text as it stands, which the dialog trims only when it
    // saves: there blanks are a file name that no file has, so the frame shows no picture
    // until the text is saved.
    const bool empty = m_kind == Kind::Show ? trimControl(text).isEmpty() : text.isEmpty();
    if (empty)
        return m_parts.imgDummy->picture();
    if (QFileInfo::exists(text))
        return loadFramePicture(text, m_parts.imgGaku->size());
    return std::nullopt;
}

void FrameView::setTalkLook(bool talk, const QString &clockText)
{
    m_talk = talk;
    if (talk) {
        m_parts.imgGaku->clear();
        showClockColor(Qt::black);
        setColor(QColor(255, 255, 0));
        m_parts.lblTime->setText(TalkText);
        // The marker replaces the clock's text, and the date gives way with it.
        m_parts.lblDate->clear();
        return;
    }
    m_parts.imgGaku->setPicture(m_framePicture);
    // The frame panel takes its own colour again, so that a frame picture that is
    // missing or not a picture leaves the frame as it was at start.
    setColor(m_baseColor);
    showClockColor(m_clockColor);
    m_parts.lblTime->setText(clockText);
    m_parts.lblDate->setText(m_takenDate);
}
