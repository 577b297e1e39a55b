#include "widgets/SourceFolderAlert.h"

#include "widgets/AlertFont.h"

#include <QMessageBox>
#include <QPushButton>

namespace vennimo {

namespace {

constexpr qreal kTextPoints = 13;

} // namespace

std::unique_ptr<QMessageBox> SourceFolderAlert::makeAlert(const QString& message, const QString& informative,
                                                          QWidget* parent) {
    auto alert = newAlert(QMessageBox::Warning, kTextPoints, parent);
    setPlainTexts(*alert, message, informative);
    QPushButton* ok = alert->addButton(QStringLiteral("好"), QMessageBox::AcceptRole);
    alert->setDefaultButton(ok);
    alert->setEscapeButton(ok);
    return alert;
}

void SourceFolderAlert::run(const QString& message, const QString& informative, QWidget* parent) {
    makeAlert(message, informative, parent)->exec();
}

} // namespace vennimo
