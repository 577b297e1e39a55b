#pragma once

#include <QColor>
#include <QWidget>

class QLabel;

namespace vennimo {

// One of the help pane's two cards: how a print is lifted (by its peg, which moves the file,
// or by its photo, which copies it), pictured before and during the drag, with every place it
// can be dropped and what happens there. Tinted by the colour scheme.
class DragHelpIntentCard : public QWidget {
    Q_OBJECT

public:
    struct Route {
        QString symbol;
        QString title;
        QString detail;
        bool destructive = false;
    };

    DragHelpIntentCard(bool peg, bool showGrip, QWidget* parent = nullptr);

    bool peg() const { return m_peg; }
    static QColor tint(bool peg, bool dark);
    static QList<Route> routes(bool peg);
    // Whether the window's palette is a dark one.
    bool dark() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void applyTint();

    bool m_peg;
    QLabel* m_badge = nullptr;
};

} // namespace vennimo
