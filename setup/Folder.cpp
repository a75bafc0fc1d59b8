#include "setup/Folder.h"

#include "setup/FixedDialog.h"
#include "ui_Folder.h"

#include "platform/ErrorReport.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QStorageInfo>
#include <algorithm>

namespace {

constexpr int kIndentPerLevel = 2; // spaces per level of the path tree
constexpr int kPathRole = Qt::UserRole;

// The directory last entered on each file system in this process: choosing a file
// system in the combo box goes back there, as a drive keeps its own current directory.
QHash<QString, QString> &lastDirectoryOnVolume()
{
    static QHash<QString, QString> directories;
    return directories;
}

// The file system `path` lies on: the mounted volume with the longest root that holds it.
QString volumeRootOf(const QString &path, const QStringList &roots)
{
    QString best = QStringLiteral("/");
    for (const QString &root : roots) {
        const bool holds
            = path == root || path.startsWith(root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/'));
        if (holds && root.size() > best.size())
            best = root;
    }
    return best;
}

} // namespace

TFolderForm::TFolderForm(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::TFolderForm>())
{
    ui->setupUi(this);
    setUpFixedDialog(this, QSize(271, 329));
    showAsText(ui->edtFolder);

    connect(ui->btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->btnCansel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->DirectoryListBox, &QListWidget::itemDoubleClicked, this, &TFolderForm::DirectoryListBoxDblClick);
    connect(ui->DriveComboBox, &QComboBox::activated, this, &TFolderForm::DriveComboBoxChange);
    FormCreate();
}

TFolderForm::~TFolderForm() = default;

void TFolderForm::FormCreate()
{
    fillDrives();
    m_directory = QDir::currentPath();
    fillDirectoryList();
    selectDriveOf(m_directory);
    lastDirectoryOnVolume().insert(ui->DriveComboBox->currentText(), m_directory);
    DirectoryListBoxChange();
}

QString TFolderForm::folder() const
{
    return ui->edtFolder->text();
}

void TFolderForm::fillDrives()
{
    QStringList roots;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady() && !roots.contains(volume.rootPath()))
            roots << volume.rootPath();
    }
    if (!roots.contains(QStringLiteral("/")))
        roots << QStringLiteral("/");
    std::sort(roots.begin(), roots.end());
    ui->DriveComboBox->clear();
    ui->DriveComboBox->addItems(roots);
}

void TFolderForm::selectDriveOf(const QString &path)
{
    QStringList roots;
    for (int i = 0; i < ui->DriveComboBox->count(); ++i)
        roots << ui->DriveComboBox->itemText(i);
    ui->DriveComboBox->setCurrentIndex(int(roots.indexOf(volumeRootOf(path, roots))));
}

void TFolderForm::fillDirectoryList()
{
    QStringList roots;
    for (int i = 0; i < ui->DriveComboBox->count(); ++i)
        roots << ui->DriveComboBox->itemText(i);
    const QString root = volumeRootOf(m_directory, roots);

    ui->DirectoryListBox->clear();
    // The path from the file system's root down to the current directory, one row per level.
    QStringList levels{root};
    const QString below = m_directory.mid(root.size());
    QString path = root;
    for (const QString &name : below.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path = path.endsWith(QLatin1Char('/')) ? path + name : path + QLatin1Char('/') + name;
        levels << path;
    }
    int depth = 0;
    for (const QString &level : levels) {
        const QString name = depth == 0 ? level : QFileInfo(level).fileName();
        auto *item = new QListWidgetItem(QString(depth * kIndentPerLevel, QLatin1Char(' ')) + name);
        item->setData(kPathRole, level);
        ui->DirectoryListBox->addItem(item);
        ++depth;
    }
    ui->DirectoryListBox->setCurrentRow(ui->DirectoryListBox->count() - 1);

    // Then its subdirectories, hidden ones included, in the user's order of names.
    QStringList names = QDir(m_directory).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Unsorted);
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(names.begin(), names.end(),
                     [&collator](const QString &a, const QString &b) { return collator.compare(a, b) < 0; });
    const QString prefix = m_directory.endsWith(QLatin1Char('/')) ? m_directory : m_directory + QLatin1Char('/');
    for (const QString &name : names) {
        auto *item = new QListWidgetItem(QString(depth * kIndentPerLevel, QLatin1Char(' ')) + name);
        item->setData(kPathRole, prefix + name);
        ui->DirectoryListBox->addItem(item);
    }
}

bool TFolderForm::setDirectory(const QString &path)
{
    const QString target = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (!QDir::setCurrent(target)) {
        reportError(QStringLiteral("「%1」 に移動できません。").arg(target));
        selectDriveOf(m_directory);
        return false;
    }
    m_directory = QDir::currentPath();
    fillDirectoryList();
    selectDriveOf(m_directory);
    lastDirectoryOnVolume().insert(ui->DriveComboBox->currentText(), m_directory);
    DirectoryListBoxChange();
    return true;
}

QStringList TFolderForm::entries() const
{
    QStringList paths;
    for (int i = 0; i < ui->DirectoryListBox->count(); ++i)
        paths << ui->DirectoryListBox->item(i)->data(kPathRole).toString();
    return paths;
}

int TFolderForm::entryRow(const QString &path) const
{
    return int(entries().indexOf(path));
}

void TFolderForm::DirectoryListBoxChange()
{
    ui->edtFolder->setText(m_directory);
}

void TFolderForm::DirectoryListBoxDblClick(QListWidgetItem *item)
{
    if (item)
        setDirectory(item->data(kPathRole).toString());
}

void TFolderForm::DriveComboBoxChange(int index)
{
    if (index < 0)
        return;
    const QString root = ui->DriveComboBox->itemText(index);
    const QString last = lastDirectoryOnVolume().value(root);
    if (!last.isEmpty() && QFileInfo(last).isDir())
        setDirectory(last);
    else
        setDirectory(root);
}
