#include "widgets/SourceFolderAlert.h"

#include "widgets/AlertFont.h"

#include <QMessageBox>

namespace vennimo {

namespace {

constexpr qreal kTextPoints = 13;

} // namespace

std::unique_ptr<QMessageBox> SourceFolderAlert::makeAlert(const QString& message, const QString& informative,
                                                          QWidget* parent) {
    return newNotice(QMessageBox::Warning, kTextPoints, message, informative, QStringLiteral("好"), parent);
}

void SourceFolderAlert::run(const QString& message, const QString& informative, QWidget* parent) {
    makeAlert(message, informative, parent)->exec();
}

} // namespace vennimo
