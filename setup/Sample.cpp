#include "setup/Sample.h"
#include "ui_Sample.h"

#include "settings/ColorText.h"
#include "settings/SettingsText.h"
#include "setup/SetupRules.h"
#include "show/BuiltInFrame.h"
#include "show/FrameLayout.h"
#include "show/ImageView.h"
#include "show/Panel.h"
#include "show/PictureLoader.h"

#include <QFileInfo>

namespace {

// A child that fills its panel's client area (inside bevels, border line and border).
void fill(QWidget *child, const Panel *panel)
{
    child->setGeometry(panel->clientRect());
}

} // namespace

TSampleForm::TSampleForm(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus),
      ui(std::make_unique<Ui::TSampleForm>())
{
    ui->setupUi(this);
    pnlBase = ui->pnlBase;
    imgGaku = ui->imgGaku;
    lblTime = ui->lblTime;
    pnlInner = ui->pnlInner;
    pnlBack = ui->pnlBack;
    pnlA = ui->pnlA;
    imgA = ui->imgA;
    imgDummy = ui->imgDummy;
    edtGakuS = ui->edtGakuS;
    edtGakuD = ui->edtGakuD;
    edtGakuW = ui->edtGakuW;
    edtTimeC = ui->edtTimeC;
    edtJpgFile = ui->edtJpgFile;

    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    QPalette face = palette();
    face.setColor(QPalette::Window, QColor::fromRgb(Panel::ButtonFace));
    setPalette(face);
    setAutoFillBackground(true);

    QFont clockFont(QStringLiteral("ＭＳ ゴシック"));
    clockFont.setPixelSize(12);
    lblTime->setFont(clockFont);
    QPalette clock = lblTime->palette();
    clock.setColor(QPalette::WindowText, Qt::white);
    lblTime->setPalette(clock);
    imgDummy->setImage(builtInFramePicture());

    FormCreate();
}

TSampleForm::~TSampleForm() = default;

void TSampleForm::FormCreate()
{
    move(0, 0);
    fitToContent();
}

void TSampleForm::setFields(const SampleFields &fields)
{
    edtGakuS->setText(fields.edtGakuS);
    edtGakuD->setText(fields.edtGakuD);
    edtGakuW->setText(fields.edtGakuW);
    edtTimeC->setText(fields.edtTimeC);
    edtJpgFile->setText(fields.edtJpgFile);
}

SampleFields TSampleForm::fields() const
{
    return {edtGakuS->text(), edtGakuD->text(), edtGakuW->text(), edtTimeC->text(), edtJpgFile->text()};
}

void TSampleForm::SetDisp()
{
    const SampleGeometry g = sampleGeometry(edtGakuS->text(), edtGakuW->text(), clockFontPoints());

    // 1 to 5: the frame square, the mat inside it and the clock between their lower edges.
    lblTime->setVisible(g.clockVisible);
    pnlBase->setGeometry(0, 0, g.frameEdge, g.frameEdge);
    pnlBase->setVisible(true);
    fill(imgGaku, pnlBase);
    pnlInner->setGeometry(g.innerOffset, g.innerOffset, g.innerEdge, g.innerEdge);
    fill(pnlBack, pnlInner);
    fill(pnlA, pnlBack);
    fill(imgA, pnlA);
    const int bevel = pnlBase->bevelWidth();
    lblTime->setGeometry(bevel, g.clockTop, g.frameEdge - 2 * bevel, 12);

    // 6. The sample picture at full size; an invalid one leaves the area black.
    const QString picture = edtJpgFile->text();
    if (trimControl(picture).isEmpty())
        imgA->clear();
    else
        imgA->setPicture(loadPicture(picture, 1.0, imgA->size()));

    // 7. The clock colour.
    QPalette clock = lblTime->palette();
    clock.setColor(QPalette::WindowText, toQColor(clockColorOf(edtTimeC->text())));
    lblTime->setPalette(clock);

    // 8. The frame picture. Unlike the show window the text is not trimmed: blanks only
    // name a file, which does not exist, so the frame shows no picture.
    const QString framePicture = edtGakuD->text();
    if (framePicture.isEmpty())
        imgGaku->setPicture(imgDummy->picture());
    else if (QFileInfo::exists(framePicture))
        imgGaku->setPicture(loadPicture(framePicture));
    else
        imgGaku->clear();

    fitToContent();
}

void TSampleForm::fitToContent()
{
    // A window cannot be 0 x 0; before the frame shows it is one pixel of button face.
    const QSize content = pnlBase->isVisibleTo(this) ? pnlBase->size() : QSize();
    resize(content.expandedTo(QSize(1, 1)));
}
