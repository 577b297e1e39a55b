#pragma once

#include <QString>
#include <QWidget>

namespace vennimo {

// What the grid shows without cards: a picture symbol and "无匹配" for a search that matches
// nothing, or "还没有照片" when there are no photos at all, centred in the free area.
class GridEmptyState : public QWidget {
    Q_OBJECT

public:
    static constexpr double kSymbolPixels = 36;
    static constexpr int kSpacing = 12;

    explicit GridEmptyState(QWidget* parent = nullptr);

    void setSearching(bool searching);
    QString text() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_searching = false;
};

} // namespace vennimo
