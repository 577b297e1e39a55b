#include "widgets/PhotosAccessAlert.h"

#include "widgets/AlertFont.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>

namespace vennimo {

namespace {

constexpr qreal kTextPoints = 13;

} // namespace

const QUrl& PhotosAccessAlert::settingsURL() {
    static const QUrl url(
        QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_Photos"));
    return url;
}

std::unique_ptr<QMessageBox> PhotosAccessAlert::makeAlert(QWidget* parent) {
    auto alert = std::make_unique<QMessageBox>(parent);
    alert->setIcon(QMessageBox::Warning);
    alert->setFont(alertFont(kTextPoints));
    alert->setText(QStringLiteral("需要照片图库权限"));
    alert->setInformativeText(QStringLiteral("删除照片 App 中的原片需要访问照片图库。"));
    QPushButton* settings = alert->addButton(QStringLiteral("打开系统设置"), QMessageBox::AcceptRole);
    QPushButton* cancel = alert->addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    alert->setDefaultButton(settings);
    alert->setEscapeButton(cancel);
    return alert;
}

void PhotosAccessAlert::run(QWidget* parent, const UrlOpener& open) {
    const std::unique_ptr<QMessageBox> alert = makeAlert(parent);
    alert->exec();
    if (alert->buttonRole(alert->clickedButton()) != QMessageBox::AcceptRole)
        return;
    if (open)
        open(settingsURL());
    else
        QDesktopServices::openUrl(settingsURL());
}

} // namespace vennimo
