#include "widgets/QuitBlockedAlert.h"

#include "widgets/AlertFont.h"

#include <QMessageBox>
#include <QPushButton>

namespace vennimo {

namespace {

constexpr qreal kTextPoints = 13;

} // namespace

std::unique_ptr<QMessageBox> QuitBlockedAlert::makeAlert(const QString& reason, QWidget* parent) {
    auto alert = newAlert(QMessageBox::Information, kTextPoints, parent);
    setPlainTexts(*alert, reason, QString::fromUtf8(kInformative));
    QPushButton* ok = alert->addButton(QStringLiteral("好"), QMessageBox::AcceptRole);
    alert->setDefaultButton(ok);
    alert->setEscapeButton(ok);
    return alert;
}

void QuitBlockedAlert::run(const QString& reason, QWidget* parent) {
    makeAlert(reason, parent)->exec();
}

} // namespace vennimo
