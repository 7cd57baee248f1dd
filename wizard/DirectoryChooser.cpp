#include "DirectoryChooser.h"

#include "platform/ProgramDirectory.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTreeView>
#include <QVBoxLayout>

#include <cerrno>
#include <sys/stat.h>

namespace gardivo {

DirectoryChooser::DirectoryChooser(Reporter& reporter, MountSource mounts, QWidget* parent)
    : QDialog(parent), m_reporter(reporter), m_mounts(std::move(mounts)) {
    setObjectName("DirectoryChooser");
    setWindowTitle("Choose Directory");
    resize(380, 420);
    auto* layout = new QVBoxLayout(this);
    m_drives = new QComboBox(this);
    m_drives->setObjectName("drives");
    layout->addWidget(m_drives);
    m_model = new QFileSystemModel(this);
    m_model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    m_model->setRootPath("/");
    m_tree = new QTreeView(this);
    m_tree->setObjectName("tree");
    m_tree->setModel(m_model);
    for (int column = 1; column < m_model->columnCount(); ++column)
        m_tree->hideColumn(column);
    m_tree->header()->hide();
    layout->addWidget(m_tree, 1);
    layout->addWidget(new QLabel("Directory Name:", this));
    m_name = new QLineEdit(this);
    m_name->setObjectName("name");
    layout->addWidget(m_name);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);

    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid())
                    m_name->setText(m_model->filePath(current));
            });
    connect(m_drives, &QComboBox::activated, this, [this](int index) { driveChosen(index); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        const std::string result = checkPath(m_name->text().toStdString(), false);
        if (result.empty())
            return; // the chooser stays open
        m_chosen = QString::fromStdString(result);
        m_name->setText(m_chosen);
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    fillDrives();
}

void DirectoryChooser::fillDrives() {
    m_filling = true;
    m_list = driveList(m_mounts ? m_mounts() : systemMounts());
    m_drives->clear();
    for (const auto& drive : m_list) {
        QString label = QString::fromStdString(drive.mountPoint);
        switch (driveKind(drive)) {
        case DriveKind::Network:
            label += "   [network]";
            break;
        case DriveKind::Removable:
            label += "   [removable]";
            break;
        default:
            label += "   [" + QString::fromStdString(drive.type) + "]";
        }
        m_drives->addItem(label, QString::fromStdString(drive.mountPoint));
    }
    m_filling = false;
}

void DirectoryChooser::showDirectory(const QString& directory) {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    const QModelIndex index = m_model->index(directory);
    if (index.isValid()) {
        m_tree->setCurrentIndex(index);
        m_tree->scrollTo(index);
    }
    m_name->setText(directory);
    // The drive list follows the folder.
    if (const auto mount = mountOf(m_list, directory.toStdString()))
        for (int i = 0; i < m_drives->count(); ++i)
            if (m_drives->itemData(i).toString().toStdString() == mount->mountPoint)
                m_drives->setCurrentIndex(i);
}

void DirectoryChooser::selectHomeDrive() {
    const auto mount = mountOf(m_list, homeDirectory());
    for (int i = 0; i < m_drives->count(); ++i)
        if (mount && m_drives->itemData(i).toString().toStdString() == mount->mountPoint) {
            m_drives->setCurrentIndex(i);
            showDirectory(QString::fromStdString(homeDirectory()));
            return;
        }
}

void DirectoryChooser::driveChosen(int index) {
    if (m_filling || index < 0)
        return;
    const std::string mountPoint = m_drives->itemData(index).toString().toStdString();
    if (!checkPath(mountPoint, true).empty())
        showDirectory(QString::fromStdString(mountPoint));
}

std::string DirectoryChooser::checkPath(const std::string& text, bool fromDriveList) {
    std::string path = text;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const std::vector<MountedFileSystem> mounts = m_mounts ? m_mounts() : systemMounts();
    const auto mount = mountOf(mounts, path);
    // The whole file system's root is never a working directory, though it may be browsed (on a
    // machine of one partition it is the only drive); a relative name names nothing.
    const bool usable = !path.empty() && path.front() == '/' && (fromDriveList || path != "/") && mount &&
                        isLocalHardDrive(*mount);
    if (!usable) {
        m_reporter.show({"Please choose one local hard drive!", "Select Directory", MessageIcon::None,
                         MessageButtons::Ok, false});
        selectHomeDrive();
        return {};
    }
    // A drive itself (its mount point) is taken as it is; any other folder is made when missing.
    if (!fromDriveList && path != mount->mountPoint) {
        struct stat st {};
        const bool made = ::mkdir(path.c_str(), 0755) == 0;
        if (!made && !(errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
            m_reporter.show({"Creating the new directory has failed! Please choose another one!",
                             "Create Directory", MessageIcon::None, MessageButtons::Ok, false});
            return {};
        }
    }
    return path;
}

} // namespace gardivo
