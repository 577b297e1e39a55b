#include "support/ShownText.h"

#include <QLabel>
#include <QTextDocument>
#include <QWidget>

namespace vennimo::test {

namespace {

QString rendered(const QString& markup) {
    QTextDocument document;
    document.setHtml(markup);
    return document.toPlainText();
}

} // namespace

QString shownText(const QLabel& label) {
    const bool rich = label.textFormat() == Qt::RichText ||
                      (label.textFormat() == Qt::AutoText && Qt::mightBeRichText(label.text()));
    return rich ? rendered(label.text()) : label.text();
}

QStringList shownTexts(const QWidget& widget) {
    QStringList texts;
    for (const QLabel* label : widget.findChildren<QLabel*>())
        texts.append(shownText(*label));
    return texts;
}

QString shownToolTip(const QString& tip) {
    return Qt::mightBeRichText(tip) ? rendered(tip) : tip;
}

} // namespace vennimo::test
