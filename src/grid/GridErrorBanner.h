#pragma once

#include <QWidget>

class QLabel;
class QToolButton;

namespace vennimo {

// The grid's error row under the header: a warning sign and the model's error text in orange,
// selectable, and a small close button ("关闭提示") that dismisses every error.
class GridErrorBanner : public QWidget {
    Q_OBJECT

public:
    static constexpr int kHorizontalPadding = 24;
    static constexpr int kBottomPadding = 12;
    static constexpr int kSpacing = 8;
    static constexpr int kCloseFrame = 18;

    explicit GridErrorBanner(QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const;
    QToolButton* closeButton() const { return m_close; }

Q_SIGNALS:
    void dismissRequested();

private:
    QLabel* m_label;
    QToolButton* m_close;
};

} // namespace vennimo
