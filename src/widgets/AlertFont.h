#pragma once

#include <QFont>
#include <QMessageBox>

#include <memory>

namespace vennimo {

// The alerts' Chinese text, named explicitly so the C locale does not pick Japanese letterforms.
QFont alertFont(qreal pointSize);

// An alert of the application: its icon, its text at `pointSize` and the product's name as the
// window title, since an untitled window would show the program's technical name instead.
std::unique_ptr<QMessageBox> newAlert(QMessageBox::Icon icon, qreal pointSize, QWidget* parent);

// Sets the message and the detail as text, never as markup: they carry paths, file names and
// error texts, and a name like "<b>x</b>" must show as it is written.
void setPlainTexts(QMessageBox& alert, const QString& text, const QString& informative);

// An alert with plain texts and one button, the one Return and Escape both answer: a notice the
// user only acknowledges.
std::unique_ptr<QMessageBox> newNotice(QMessageBox::Icon icon, qreal pointSize, const QString& text,
                                       const QString& informative, const QString& button, QWidget* parent);

} // namespace vennimo
