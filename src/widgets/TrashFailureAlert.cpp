#include "widgets/TrashFailureAlert.h"

#include "widgets/AlertFont.h"

#include <QMessageBox>
#include <QPushButton>

namespace vennimo {

namespace {

constexpr qreal kTextPoints = 13;

} // namespace

std::unique_ptr<QMessageBox> TrashFailureAlert::makeAlert(const QString& message, const QString& informative,
                                                          QWidget* parent) {
    auto alert = newAlert(QMessageBox::Warning, kTextPoints, parent);
    setPlainTexts(*alert, message, informative);
    QPushButton* ok = alert->addButton(QStringLiteral("知道了"), QMessageBox::AcceptRole);
    alert->setDefaultButton(ok);
    alert->setEscapeButton(ok);
    return alert;
}

void TrashFailureAlert::run(const QString& message, const QString& informative, QWidget* parent) {
    makeAlert(message, informative, parent)->exec();
}

} // namespace vennimo
