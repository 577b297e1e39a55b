#include "widgets/AlertFont.h"

#include <QLabel>
#include <QPushButton>

namespace vennimo {

QFont alertFont(qreal pointSize) {
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPointSizeF(pointSize);
    return font;
}

std::unique_ptr<QMessageBox> newAlert(QMessageBox::Icon icon, qreal pointSize, QWidget* parent) {
    auto alert = std::make_unique<QMessageBox>(parent);
    alert->setIcon(icon);
    alert->setFont(alertFont(pointSize));
    alert->setWindowTitle(QStringLiteral("Vennimo"));
    return alert;
}

void setPlainTexts(QMessageBox& alert, const QString& text, const QString& informative) {
    alert.setTextFormat(Qt::PlainText);
    alert.setText(text);
    alert.setInformativeText(informative);
    // The box makes the detail's label with the detail and gives it no format of its own.
    if (auto* label = alert.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
}

std::unique_ptr<QMessageBox> newNotice(QMessageBox::Icon icon, qreal pointSize, const QString& text,
                                       const QString& informative, const QString& button, QWidget* parent) {
    auto alert = newAlert(icon, pointSize, parent);
    setPlainTexts(*alert, text, informative);
    QPushButton* ok = alert->addButton(button, QMessageBox::AcceptRole);
    alert->setDefaultButton(ok);
    alert->setEscapeButton(ok);
    return alert;
}

} // namespace vennimo
