#include "widgets/TrashFailureAlert.h"

#include "widgets/AlertFont.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace vennimo {

namespace {

constexpr qreal kTextPoints = 13;

} // namespace

std::unique_ptr<QMessageBox> TrashFailureAlert::makeAlert(const QString& message, const QString& informative,
                                                          QWidget* parent) {
    auto alert = newAlert(QMessageBox::Warning, kTextPoints, parent);
    alert->setText(message);
    alert->setInformativeText(informative);
    // Failure texts carry file names and line breaks; they must stay text, never markup.
    alert->setTextFormat(Qt::PlainText);
    if (auto* label = alert->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
    QPushButton* ok = alert->addButton(QStringLiteral("知道了"), QMessageBox::AcceptRole);
    alert->setDefaultButton(ok);
    alert->setEscapeButton(ok);
    return alert;
}

void TrashFailureAlert::run(const QString& message, const QString& informative, QWidget* parent) {
    makeAlert(message, informative, parent)->exec();
}

} // namespace vennimo
