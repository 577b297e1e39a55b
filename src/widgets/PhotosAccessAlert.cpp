#include "widgets/PhotosAccessAlert.h"

#include "widgets/AlertFont.h"

#include <QMessageBox>
#include <QPushButton>

namespace vennimo {

namespace {

constexpr qreal kTextPoints = 13;

} // namespace

std::unique_ptr<QMessageBox> PhotosAccessAlert::makeAlert(QWidget* parent, bool settingsProgram) {
    auto alert = newAlert(QMessageBox::Warning, kTextPoints, parent);
    const QString informative = QStringLiteral("删除照片 App 中的原片需要访问照片图库。");
    setPlainTexts(*alert, QStringLiteral("需要照片图库权限"),
                  settingsProgram ? informative
                                  : informative + u'\n' + QString::fromUtf8(kNoSettingsProgram));
    QPushButton* settings =
        settingsProgram ? alert->addButton(QStringLiteral("打开系统设置"), QMessageBox::AcceptRole) : nullptr;
    QPushButton* cancel = alert->addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    alert->setDefaultButton(settings ? settings : cancel);
    alert->setEscapeButton(cancel);
    return alert;
}

void PhotosAccessAlert::run(QWidget* parent, const QString& settingsProgram, const ProgramLauncher& launch) {
    const std::unique_ptr<QMessageBox> alert = makeAlert(parent, !settingsProgram.isEmpty());
    alert->exec();
    if (alert->buttonRole(alert->clickedButton()) != QMessageBox::AcceptRole)
        return;
    if (launch)
        launch(settingsProgram);
    else
        DesktopSettings::open(settingsProgram);
}

} // namespace vennimo
