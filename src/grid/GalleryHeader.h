#pragma once

#include <QWidget>

class QLabel;

namespace vennimo {

// The grid screen's header: the product name and the photo count on the left and the action bar
// beside them when both fit in one row (the wide layout), else the action bar under the title
// (the narrow layout).
class GalleryHeader : public QWidget {
    Q_OBJECT

public:
    static constexpr int kHorizontalPadding = 24;
    static constexpr int kVerticalPadding = 14;
    static constexpr int kWideSpacing = 16;
    static constexpr int kMinimumGap = 12;
    static constexpr int kNarrowSpacing = 12;
    static constexpr int kTitleSpacing = 4;

    GalleryHeader(QWidget* actionBar, QWidget* parent = nullptr);

    // "正在保存…" while importing, else the number of all photos followed by " 张".
    void setCount(qsizetype count, bool importing);
    static QString countText(qsizetype count, bool importing);
    QString countLabel() const;
    // Whether the title and the bar share one row at this width.
    bool fitsWide(int width) const;
    bool wide() const { return fitsWide(width()); }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool eventFilter(QObject* watched, QEvent* event) override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void place();

    QWidget* m_title;
    QLabel* m_name;
    QLabel* m_count;
    QWidget* m_bar;
};

} // namespace vennimo
