#pragma once

#include <QWidget>

class QLabel;
class QAbstractButton;

namespace vennimo {

// The rope screen's notice of the model's current error: the text in orange and a button that
// dismisses every error text.
class ClotheslineErrorBanner : public QWidget {
    Q_OBJECT

public:
    static constexpr int kPadding = 10;
    static constexpr int kSpacing = 8;
    static constexpr double kCornerRadius = 10;
    static constexpr double kTextPixels = 11;
    static constexpr int kCloseFrame = 18;

    explicit ClotheslineErrorBanner(QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const;
    QAbstractButton* closeButton() const { return m_close; }

Q_SIGNALS:
    void dismissRequested();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_label = nullptr;
    QAbstractButton* m_close = nullptr;
};

} // namespace vennimo
