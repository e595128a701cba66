#include "flow_seams.h"

#include "folder_chooser.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace lumenfield {

const QString& MessageBoxSaveDialogs::messageText()
{
    static const QString text = QStringLiteral("File Already Exists");
    return text;
}

const QString& MessageBoxSaveDialogs::informativeText()
{
    static const QString text =
        QStringLiteral("The file already exists at the destination. Do you want to replace it? If you choose not to "
                       "replace, the file name will include the timestamp.");
    return text;
}

ReplaceAnswer MessageBoxSaveDialogs::askReplace()
{
    QMessageBox box(parent_);
    box.setObjectName(QStringLiteral("replaceQuestion"));
    box.setIcon(QMessageBox::Warning);
    box.setText(messageText());
    box.setInformativeText(informativeText());
    QPushButton* replace = box.addButton(QStringLiteral("Replace"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(replace);
    box.setEscapeButton(cancel);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    return box.clickedButton() == replace ? ReplaceAnswer::replace : ReplaceAnswer::cancel;
}

void MessageBoxSaveDialogs::showFailure(const FailureMessage& message)
{
    auto* box = new QMessageBox(parent_);
    box->setObjectName(QStringLiteral("failureMessage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setText(message.title);
    box->setInformativeText(message.detail);
    box->setStandardButtons(QMessageBox::Ok);
    box->setWindowModality(parent_ ? Qt::WindowModal : Qt::ApplicationModal);
    box->open();
}

std::optional<QString> MessageBoxSaveDialogs::askForAnotherFolder(const FailureMessage& message,
                                                                  const QString& currentFolder)
{
    for (;;) {
        QMessageBox box(parent_);
        box.setObjectName(QStringLiteral("saveFailureMessage"));
        box.setIcon(QMessageBox::Warning);
        box.setText(message.title);
        box.setInformativeText(message.detail);
        QPushButton* choose = box.addButton(QStringLiteral("Choose Folder..."), QMessageBox::AcceptRole);
        choose->setObjectName(QStringLiteral("chooseFolderButton"));
        QPushButton* discard = box.addButton(QStringLiteral("Discard Scan"), QMessageBox::DestructiveRole);
        discard->setObjectName(QStringLiteral("discardScanButton"));
        box.setDefaultButton(choose);
        box.setEscapeButton(discard);
        box.setWindowModality(Qt::ApplicationModal);
        box.exec();
        if (box.clickedButton() != choose) return std::nullopt;
        const std::optional<QString> folder = DialogFolderChooser().chooseFolder(parent_, currentFolder);
        if (folder && !folder->isEmpty()) return folder;
    }
}

void DesktopFileOpener::open(const QString& path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace lumenfield
