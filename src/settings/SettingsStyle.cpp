#include "settings/SettingsStyle.h"

#include <QFrame>
#include <QLabel>

namespace vennimo {

QFont SettingsStyle::font(double pixels, QFont::Weight weight) {
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPixelSize(qRound(pixels));
    font.setWeight(weight);
    return font;
}

QFont SettingsStyle::monospaced(double pixels, QFont::Weight weight) {
    QFont font(QStringLiteral("Noto Sans Mono CJK SC"));
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(qRound(pixels));
    font.setWeight(weight);
    return font;
}

QColor SettingsStyle::accent() {
    return QColor::fromRgbF(0.0f, 0.48f, 1.0f);
}

QColor SettingsStyle::secondary() {
    return QColor(0, 0, 0, 128);
}

QColor SettingsStyle::warning() {
    return QColor::fromRgbF(1.0f, 0.58f, 0.0f);
}

QColor SettingsStyle::destructive() {
    return QColor::fromRgbF(1.0f, 0.23f, 0.19f);
}

QLabel* SettingsStyle::label(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    // Folder names, paths and messages show as written, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    if (color.isValid()) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, color);
        label->setPalette(palette);
    }
    return label;
}

QLabel* SettingsStyle::heading(const QString& text, QWidget* parent) {
    return label(text, font(kTitle2Pixels, QFont::Bold), {}, parent);
}

QWidget* SettingsStyle::divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFixedHeight(1);
    line->setStyleSheet(QStringLiteral("background: rgba(0, 0, 0, 28); border: none;"));
    return line;
}

} // namespace vennimo
