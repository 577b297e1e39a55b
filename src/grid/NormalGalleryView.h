#pragma once

#include "core/Photo.h"

#include <QList>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <chrono>
#include <functional>
#include <optional>

class QMenu;
class QPushButton;
class QStackedWidget;

namespace vennimo {

class GalleryActionBar;
class GalleryHeader;
class GalleryModel;
class GridEmptyState;
class GridErrorBanner;
class PhotoDragPayload;
class PhotoGridView;

// The gallery window's grid screen: the header with the product name, the photo count and the
// action bar, the error banner, and the scrolling grid of every photo that matches the search
// (or the empty state). It owns the search text, the previewed photo and the new-arrival notice;
// everything else it reads from the model and changes only through the model's operations.
// Made afresh each time the window shows the grid, so none of its own state outlives a switch.
class NormalGalleryView : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize kMinimumSize{840, 520};
    static constexpr std::chrono::milliseconds kRevealDuration{200};
    static constexpr int kNoticeBottomPadding = 16;

    using FileOpener = std::function<bool(const QString& path)>;
    using FileRevealer = std::function<void(const QString& path)>;
    using MenuPresenter = std::function<void(QMenu& menu, QPoint globalPos)>;
    // Carries the payload out of the application from a card; answers the final drop action.
    using DragStarter = std::function<Qt::DropAction(const PhotoDragPayload& payload, QWidget* source,
                                                     const QRectF& pictureInSource)>;

    NormalGalleryView(GalleryModel& model, std::function<void()> openSettings,
                      std::function<void()> switchToClothesline, QWidget* parent = nullptr);
    ~NormalGalleryView() override;

    const QString& query() const { return m_query; }
    void setQuery(const QString& query);
    // The model's photos, in display order, that match the search.
    const QList<Photo>& filtered() const { return m_filtered; }

    // The photo shown in the preview panel; the panel's presenter clears it when the panel closes.
    const std::optional<Photo>& previewPhoto() const { return m_previewPhoto; }
    void setPreviewPhoto(const std::optional<Photo>& photo);
    bool pendingArrival() const { return m_pendingArrival; }
    const std::optional<QString>& scrollPhotoID() const { return m_scrollPhotoID; }
    bool isAtTop() const;

    // Opens the preview of a photo (double click, the view button, the space bar).
    void preview(const Photo& photo);
    // A plain click on a card.
    void activate(const Photo& photo);
    // The arrival notice's action: ends the selection, clears the search and scrolls to the top.
    void revealArrivals();

    // Seams; the defaults are the desktop's own.
    void setFileOpener(FileOpener opener) { m_openFile = std::move(opener); }
    void setFileRevealer(FileRevealer revealer) { m_revealFile = std::move(revealer); }
    void setMenuPresenter(MenuPresenter presenter) { m_presentMenu = std::move(presenter); }
    void setDragStarter(DragStarter starter) { m_startDrag = std::move(starter); }

    GalleryModel& model() const { return m_model; }
    PhotoGridView* grid() const { return m_grid; }
    GalleryActionBar* actionBar() const { return m_bar; }
    GalleryHeader* header() const { return m_header; }
    GridErrorBanner* errorBanner() const { return m_banner; }
    // The empty state's text while it shows, else nothing.
    std::optional<QString> emptyText() const;
    QPushButton* arrivalNotice() const { return m_notice; }

Q_SIGNALS:
    void previewPhotoChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void refilter();
    void photosChanged();
    void arrived();
    void selectAllRequested();
    void refreshErrors();
    void refreshHeader();
    void refreshNotice();
    void placeNotice();
    void focusContent();
    void showMenu(const Photo& photo, QPoint globalPos);
    void drag(const Photo& photo, const QRectF& picture);

    GalleryModel& m_model;
    std::function<void()> m_openSettings;
    std::function<void()> m_switchToClothesline;
    QString m_query;
    QList<Photo> m_filtered;
    QList<QString> m_filteredIDs;
    std::optional<Photo> m_previewPhoto;
    bool m_pendingArrival = false;
    std::optional<QString> m_scrollPhotoID;
    FileOpener m_openFile;
    FileRevealer m_revealFile;
    MenuPresenter m_presentMenu;
    DragStarter m_startDrag;
    GalleryActionBar* m_bar;
    GalleryHeader* m_header;
    GridErrorBanner* m_banner;
    QStackedWidget* m_stack;
    PhotoGridView* m_grid;
    GridEmptyState* m_empty;
    QPushButton* m_notice;
};

} // namespace vennimo
