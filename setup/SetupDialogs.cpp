#include "setup/SetupDialogs.h"

#include "platform/ErrorReport.h"
#include "setup/Folder.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QMessageBox>
#include <QTreeView>

namespace {

// The picture of `path` as its extension names the format, or a null pixmap.
QPixmap previewOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    QByteArray format;
    if (suffix == QLatin1String("bmp"))
        format = "bmp";
    else if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        format = "jpeg";
    else
        return {};
    if (!QFileInfo(path).isFile())
        return {};
    QImageReader reader(path, format);
    reader.setAutoDetectImageFormat(false);
    const QImage image = reader.read();
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

class SystemSetupDialogs final : public SetupDialogs
{
public:
    std::optional<QString> chooseFramePicture(QWidget *parent, const QString &start) override
    {
        QFileDialog dialog(parent);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setNameFilter(QStringLiteral("画像ファイル (*.bmp *.jpg *.jpeg)"));
        dialog.setSizeGripEnabled(true);
        // The preview pane to the right of the file list shows the file under the cursor.
        auto *preview = new QLabel(&dialog);
        preview->setObjectName(QStringLiteral("picturePreview"));
        preview->setMinimumSize(160, 160);
        preview->setAlignment(Qt::AlignCenter);
        preview->setFrameShape(QFrame::StyledPanel);
        if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout()))
            grid->addWidget(preview, 1, grid->columnCount(), grid->rowCount() - 1, 1);
        const auto showPreview = [preview](const QString &path) {
            const QPixmap picture = previewOf(path);
            if (picture.isNull()) {
                preview->clear();
                return;
            }
            preview->setPixmap(picture.scaled(preview->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
        };
        QObject::connect(&dialog, &QFileDialog::currentChanged, preview, showPreview);

        // The last chosen file is selected only now that the preview listens, and shown at
        // once: the file list may select it only after its folder has been read.
        if (!start.isEmpty()) {
            dialog.selectFile(start);
            showPreview(start);
        }
        // The preview pane takes its width from the file list; without more room the
        // Size, Type and Date columns would shrink to "...".
        dialog.resize(dialog.sizeHint().expandedTo(QSize(860, 480)));
        if (auto *files = dialog.findChild<QTreeView *>(QStringLiteral("treeView"))) {
            QHeaderView *header = files->header();
            for (int column = 1; column < header->count(); ++column)
                header->resizeSection(column, qMax(header->sectionSize(column), header->sectionSizeHint(column)));
        }

        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
    }

    std::optional<QColor> chooseColor(QWidget *parent, const QColor &initial) override
    {
        QColorDialog dialog(initial, parent);
        dialog.setOption(QColorDialog::DontUseNativeDialog);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.selectedColor();
    }

    std::optional<QString> chooseFolder(QWidget *parent) override
    {
        // The picker is gone once the caller has its folder, as a closed picker is.
        TFolderForm picker(parent);
        if (picker.exec() != QDialog::Accepted)
            return std::nullopt;
        return picker.folder();
    }

    void showMessage(QWidget *parent, const QString &text) override
    {
        QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok, parent);
        box.exec();
    }
};

} // namespace

std::unique_ptr<SetupDialogs> makeSystemSetupDialogs()
{
    return std::make_unique<SystemSetupDialogs>();
}
