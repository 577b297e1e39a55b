#include "preview/PhotoPreviewOpener.h"

#include "preview/PhotoPreviewPresenter.h"

#include <QWidget>

#include <memory>

namespace vennimo {

namespace {

constexpr auto kPresenterName = "vennimo-photo-preview";

} // namespace

PhotoPreviewPresenter* PhotoPreviewOpener::presenter(const QWidget* window) {
    return window ? window->findChild<PhotoPreviewPresenter*>(QLatin1String(kPresenterName),
                                                              Qt::FindDirectChildrenOnly)
                  : nullptr;
}

void PhotoPreviewOpener::open(GalleryModel& model, const Photo& photo, QWidget* window,
                              std::function<void()> closed) {
    if (!window)
        return;
    PhotoPreviewPresenter* shown = presenter(window);
    if (shown && shown->model() != &model) {
        delete shown;
        shown = nullptr;
    }
    if (!shown) {
        shown = new PhotoPreviewPresenter(model, window, window);
        shown->setObjectName(QLatin1String(kPresenterName));
    }
    // Only the newest opening's host hears of the close; an earlier one already moved on.
    shown->disconnect(shown, &PhotoPreviewPresenter::selectedChanged, nullptr, nullptr);
    auto pending = std::make_shared<std::function<void()>>(std::move(closed));
    QObject::connect(shown, &PhotoPreviewPresenter::selectedChanged, shown, [shown, pending] {
        if (shown->selected() || !*pending)
            return;
        const std::function<void()> run = std::exchange(*pending, {});
        run();
    });
    shown->open(photo);
}

} // namespace vennimo
