#pragma once

#include <QLineEdit>
#include <QToolButton>
#include <QWidget>

namespace vennimo {

// The grid's search field: a magnifying glass, a plain text field with the placeholder "搜索" and,
// while it holds any text, a clear button, on a softly tinted rounded field 220 points wide.
class GallerySearchField : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 220;
    static constexpr int kHorizontalPadding = 9;
    static constexpr int kVerticalPadding = 6;
    static constexpr int kSpacing = 6;
    static constexpr double kCornerRadius = 7;

    explicit GallerySearchField(QWidget* parent = nullptr);

    QString text() const { return m_edit->text(); }
    void setText(const QString& text);
    QLineEdit* edit() const { return m_edit; }
    QToolButton* clearButton() const { return m_clear; }

Q_SIGNALS:
    void textChanged(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLineEdit* m_edit;
    QToolButton* m_clear;
};

} // namespace vennimo
