#pragma once

#include <QString>
#include <QStringList>

class QLabel;
class QWidget;

namespace vennimo::test {

// What a label puts on the screen, read the way the label reads its text: markup rendered when
// the label takes it for markup, the characters themselves otherwise.
QString shownText(const QLabel& label);
// The same for every label inside the widget, in the order the widget holds them.
QStringList shownTexts(const QWidget& widget);
// What a tooltip with this text shows; a tooltip takes text that looks like markup for markup.
QString shownToolTip(const QString& tip);

} // namespace vennimo::test
