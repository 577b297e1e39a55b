#include "widgets/UnsavedStateAlert.h"

#include "model/DeferredStateExit.h"
#include "widgets/AlertFont.h"

#include <QMessageBox>
#include <QPushButton>

namespace vennimo {

namespace {

constexpr qreal kTextPoints = 13;

} // namespace

std::unique_ptr<QMessageBox> UnsavedStateAlert::makeAlert(const Error& error, QWidget* parent) {
    auto alert = newAlert(QMessageBox::Warning, kTextPoints, parent);
    setPlainTexts(*alert, QString::fromUtf8(DeferredStateExit::kAlertMessage),
                  DeferredStateExit::alertInformativeText(error));
    const QStringList texts = DeferredStateExit::alertButtons();
    const QMessageBox::ButtonRole roles[] = {QMessageBox::AcceptRole, QMessageBox::DestructiveRole,
                                             QMessageBox::RejectRole};
    QList<QPushButton*> buttons;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        QPushButton* button = alert->addButton(texts[i], roles[std::min<qsizetype>(i, 2)]);
        button->setProperty("choiceIndex", int(i));
        buttons.append(button);
    }
    alert->setDefaultButton(buttons.first());
    alert->setEscapeButton(buttons.last());
    return alert;
}

DeferredStateExitChoice UnsavedStateAlert::choice(const QMessageBox& alert) {
    const QAbstractButton* clicked = alert.clickedButton();
    if (!clicked)
        return DeferredStateExitChoice::cancel;
    const QVariant index = clicked->property("choiceIndex");
    return DeferredStateExit::choiceForButton(index.isValid() ? index.toInt() : -1);
}

DeferredStateExitChoice UnsavedStateAlert::run(const Error& error, QWidget* parent) {
    const std::unique_ptr<QMessageBox> alert = makeAlert(error, parent);
    alert->exec();
    return choice(*alert);
}

} // namespace vennimo
