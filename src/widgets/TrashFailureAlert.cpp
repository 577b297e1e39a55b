#include "widgets/TrashFailureAlert.h"

#include "widgets/AlertFont.h"

#include <QMessageBox>

namespace vennimo {

namespace {

constexpr qreal kTextPoints = 13;

} // namespace

std::unique_ptr<QMessageBox> TrashFailureAlert::makeAlert(const QString& message, const QString& informative,
                                                          QWidget* parent) {
    return newNotice(QMessageBox::Warning, kTextPoints, message, informative, QStringLiteral("知道了"),
                     parent);
}

void TrashFailureAlert::run(const QString& message, const QString& informative, QWidget* parent) {
    makeAlert(message, informative, parent)->exec();
}

} // namespace vennimo
