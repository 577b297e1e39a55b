#include "widgets/QuitBlockedAlert.h"

#include "widgets/AlertFont.h"

#include <QMessageBox>

namespace vennimo {

namespace {

constexpr qreal kTextPoints = 13;

} // namespace

std::unique_ptr<QMessageBox> QuitBlockedAlert::makeAlert(const QString& reason, QWidget* parent) {
    return newNotice(QMessageBox::Information, kTextPoints, reason, QString::fromUtf8(kInformative),
                     QStringLiteral("好"), parent);
}

} // namespace vennimo
