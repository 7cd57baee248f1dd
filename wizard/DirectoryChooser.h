#pragma once

// "Choose Directory": where the evidence goes. The drive list shows the mounted file systems by
// their mount points; the tree shows the folders of the chosen one; "Directory Name:" holds the
// folder to take. Only a local hard drive is accepted, and the folder is made when it is missing.

#include "LocalFileSystems.h"
#include "platform/Reporter.h"

#include <QDialog>

#include <functional>
#include <string>

class QComboBox;
class QFileSystemModel;
class QLineEdit;
class QTreeView;

namespace gardivo {

class DirectoryChooser final : public QDialog {
    Q_OBJECT
public:
    using MountSource = std::function<std::vector<MountedFileSystem>()>;

    DirectoryChooser(Reporter& reporter, MountSource mounts, QWidget* parent = nullptr);

    // Shows the stored directory (as the chooser does when it opens).
    void showDirectory(const QString& directory);
    // The path check: the accepted directory (made when missing), or empty after telling the user
    // why not. fromDriveList: the text is a drive list entry, which stands for its mount point.
    std::string checkPath(const std::string& text, bool fromDriveList);
    // The directory OK accepted.
    QString chosen() const { return m_chosen; }

    QComboBox* drives() const { return m_drives; }
    QTreeView* tree() const { return m_tree; }
    QLineEdit* name() const { return m_name; }
    // Selects the drive entry holding the user's home folder (the drive to fall back to).
    void selectHomeDrive();

private:
    void fillDrives();
    void driveChosen(int index);

    Reporter& m_reporter;
    MountSource m_mounts;
    std::vector<MountedFileSystem> m_list;
    QComboBox* m_drives;
    QTreeView* m_tree;
    QFileSystemModel* m_model;
    QLineEdit* m_name;
    QString m_chosen;
    bool m_filling = false;
};

} // namespace gardivo
