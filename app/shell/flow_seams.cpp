#include "flow_seams.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

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

void DesktopFileOpener::open(const QString& path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
