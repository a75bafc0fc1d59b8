#pragma once

#include <QDialog>
#include <memory>

class QListWidgetItem;

namespace Ui {
class TFolderForm;
}

// The folder picker: a combo box of the mounted file systems above a list that shows
// the path from the file system's root down to the current directory, followed by the
// current directory's subdirectories. A double click enters a directory; the list's
// directory is always the process's current directory, so a picker opened later starts
// where the last one ended. The read-only edit shows the chosen folder.
class TFolderForm : public QDialog
{
    Q_OBJECT

public:
    explicit TFolderForm(QWidget *parent = nullptr);
    ~TFolderForm() override;

    // The folder the edit shows (what the caller takes on OK).
    QString folder() const;

    // Moves the list (and the process) to `path`. When the directory cannot be entered
    // the failure is reported and the list stays where it was; returns false then.
    bool setDirectory(const QString &path);

    // Full paths of the list's entries, top to bottom, and of the subdirectory rows only.
    QStringList entries() const;
    int entryRow(const QString &path) const;

private slots:
    void DirectoryListBoxDblClick(QListWidgetItem *item);
    void DriveComboBoxChange(int index);

private:
    void FormCreate();
    void DirectoryListBoxChange();
    void fillDrives();
    void fillDirectoryList();
    void selectDriveOf(const QString &path);

    std::unique_ptr<Ui::TFolderForm> ui;
    QString m_directory;
};
