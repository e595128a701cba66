#include "clear_calibration_confirm.h"

#include <QMessageBox>
#include <QPushButton>

namespace lumenfield {

bool ClearCalibrationMessageBox::confirmClear(QWidget* parent)
{
    QMessageBox box(parent);
    box.setObjectName(QStringLiteral("clearCalibrationConfirm"));
    box.setWindowModality(Qt::ApplicationModal);
    box.setIcon(QMessageBox::Warning);
    box.setText(QStringLiteral("The action will delete the sets of calibration data, are you sure to preform it?"));
    box.setInformativeText(QStringLiteral("Calibration data is essential for Smart Mode scanning. It will be recreated "
                                          "with new scans if not available."));
    QPushButton* perform = box.addButton(QStringLiteral("Perform"), QMessageBox::AcceptRole);
    perform->setObjectName(QStringLiteral("performButton"));
    QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    box.setDefaultButton(perform);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == perform;
}

void ClearCalibrationMessageBox::showClearResult(QWidget* parent, bool cleared, const QString& text)
{
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("clearCalibrationResult"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(cleared ? QMessageBox::Information : QMessageBox::Warning);
    box->setText(text);
    box->setStandardButtons(QMessageBox::Ok);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

} // namespace lumenfield
