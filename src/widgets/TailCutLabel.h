#pragma once

#include <QLabel>

namespace vennimo {

// A one-line label that gives way first when its row runs short: it may shrink to a single
// ellipsis and then shows its text cut at the tail, the full text staying its accessible name's
// business.
class TailCutLabel : public QLabel {
    Q_OBJECT

public:
    explicit TailCutLabel(const QString& text, QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;
    // What the label shows at its current width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace vennimo
