#include "folder_chooser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace lumenfield {

QString folderDialogStart(const QString& current)
{
    if (current.isEmpty() || !QDir::isAbsolutePath(current)) return QDir::homePath();
    // An unplugged disk or a folder since removed: open as near to it as there is.
    for (QString path = QDir::cleanPath(current);;) {
        if (QFileInfo(path).isDir()) return path;
        const QString above = QFileInfo(path).path();
        if (above == path) return QDir::homePath();
        path = above;
    }
}

std::optional<QString> DialogFolderChooser::chooseFolder(QWidget* parent, const QString& current)
{
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setDirectory(folderDialogStart(current));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.selectedFiles().value(0);
}

} // namespace lumenfield
