#include "PreviewFixture.h"
#include "platform/WorkQueue.h"
#include "preview/PhotoPreviewOpener.h"
#include "preview/PolaroidPreviewPaperView.h"
#include "preview/PreviewActionButton.h"
#include "rendering/ImageReading.h"
#include "rendering/PhotoDimensions.h"

#include <QLabel>
#include <QScopeGuard>
#include <QTest>

#include <atomic>
#include <cmath>

using namespace vennimo;
using namespace vennimo::test;

namespace {

Photo made(const QString& id, std::optional<double> created = 10) {
    Photo photo;
    photo.id = id;
    photo.path = "/pictures/" + id + ".png";
    photo.created = created;
    return photo;
}

} // namespace

TEST(PhotoPreviewSequence, ReplacementPrefersTheNearestEarlierLivePhoto) {
    const PhotoPreviewSequence sequence{{made("a"), made("b"), made("c"), made("d")}};
    const QList<Photo> all = sequence.photos;
    EXPECT_EQ(sequence.replacement(made("c"), {made("a"), made("b"), made("d")})->id, "b");
    EXPECT_EQ(sequence.replacement(made("c"), {made("a"), made("d")})->id, "a")
        << "an earlier photo wins at any distance";
    EXPECT_EQ(sequence.replacement(made("a"), {made("c"), made("d")})->id, "c")
        << "else the nearest later one";
    EXPECT_FALSE(sequence.replacement(made("b"), {}).has_value());
    EXPECT_FALSE(sequence.replacement(made("x"), all).has_value()) << "not in the sequence";

    // A file replaced under the same id with another birth is another photo.
    const QList<Photo> reborn{made("a", 99), made("b"), made("c")};
    EXPECT_EQ(sequence.replacement(made("b"), {made("a", 99), made("c")})->id, "c");
    const QList<Photo> live = sequence.livePhotos(reborn);
    ASSERT_EQ(live.size(), 2);
    EXPECT_EQ(live[0].id, "b");
    EXPECT_EQ(live[1].id, "c");
    EXPECT_TRUE(sequence.containsEntry(made("d")));
    EXPECT_FALSE(sequence.containsEntry(made("d", 99)));
}

TEST(PhotoPreviewPresenter, PagesThroughTheSelectionInRopeOrderWithoutWrapping) {
    Preview preview({{40, 30}, {30, 40}, {50, 30}, {30, 30}});
    preview.place({0.8, 0.2, 0.5, 0.1});
    preview.model->setSelection({preview.photo(0), preview.photo(1), preview.photo(2)});
    QList<QString> written;
    QObject::connect(preview.presenter.get(), &PhotoPreviewPresenter::selectedChanged,
                     [&] { written.append(preview.name(preview.presenter->selected())); });

    preview.presenter->open(preview.photo(2));
    ASSERT_TRUE(preview.presenter->isOpen());
    QStringList order;
    for (const Photo& p : preview.presenter->sequence().photos)
        order.append(preview.name(p));
    EXPECT_EQ(order, QStringList({"p1.png", "p2.png", "p0.png"})) << "left to right along the rope";
    PolaroidPreviewPaperView* paper = preview.presenter->paper();
    EXPECT_TRUE(paper->paging());
    EXPECT_EQ(paper->pageLabel()->text(), "2 / 3");

    EXPECT_TRUE(preview.key(Qt::Key_Right, Qt::KeypadModifier)) << "arrow keys carry the keypad flag";
    EXPECT_EQ(preview.name(preview.presenter->current()), "p0.png");
    EXPECT_EQ(paper->pageLabel()->text(), "3 / 3");
    EXPECT_FALSE(paper->nextButton()->isEnabled());
    EXPECT_TRUE(paper->previousButton()->isEnabled());
    EXPECT_TRUE(preview.key(Qt::Key_Right));
    EXPECT_EQ(preview.name(preview.presenter->current()), "p0.png") << "no wrap-around";
    EXPECT_FALSE(preview.key(Qt::Key_Left, Qt::ControlModifier)) << "Ctrl+arrow does not page";
    EXPECT_EQ(preview.name(preview.presenter->current()), "p0.png");

    preview.presenter->navigate(-1);
    preview.presenter->navigate(-1);
    preview.presenter->navigate(-1);
    EXPECT_EQ(preview.name(preview.presenter->current()), "p1.png");
    EXPECT_EQ(paper->pageLabel()->text(), "1 / 3");
    EXPECT_FALSE(paper->previousButton()->isEnabled());
    EXPECT_EQ(written, QList<QString>({"p2.png", "p0.png", "p2.png", "p1.png"}))
        << "the host's state follows";
    EXPECT_EQ(preview.presenter->panel(), paper->window()) << "one panel for the whole opening";

    // The host picks a photo of the sequence: kept. One outside: a sequence of that photo alone.
    preview.presenter->setSelected(preview.photo(2));
    EXPECT_EQ(preview.presenter->sequence().photos.size(), 3);
    preview.presenter->setSelected(preview.photo(3));
    EXPECT_EQ(preview.presenter->sequence().photos.size(), 1);
    EXPECT_FALSE(paper->paging());
    EXPECT_TRUE(preview.key(Qt::Key_Left));
    EXPECT_EQ(preview.name(preview.presenter->current()), "p3.png");

    // Outside rope mode the sequence keeps the model's display order.
    preview.presenter->setSelected(std::nullopt);
    EXPECT_FALSE(preview.presenter->isOpen());
    preview.model->setClotheslineMode(false);
    preview.presenter->open(preview.photo(2));
    QStringList display;
    for (const Photo& p : preview.model->selectedPhotos())
        display.append(preview.name(p));
    order.clear();
    for (const Photo& p : preview.presenter->sequence().photos)
        order.append(preview.name(p));
    EXPECT_EQ(order, display);
}

TEST(PhotoPreviewPresenter, AVanishedPhotoGivesWayToItsEarlierNeighbourAndTheLastOneClosesThePanel) {
    Preview preview({{40, 30}, {30, 40}, {50, 30}});
    preview.place({0.1, 0.5, 0.9});
    preview.model->setSelection({preview.photo(0), preview.photo(1), preview.photo(2)});
    preview.presenter->open(preview.photo(1));

    preview.vanish(1);
    preview.presenter->update();
    EXPECT_EQ(preview.name(preview.presenter->current()), "p0.png") << "the earlier neighbour";
    EXPECT_EQ(preview.name(preview.presenter->selected()), "p1.png") << "the host's state waits a turn";
    preview.settle();
    EXPECT_EQ(preview.name(preview.presenter->selected()), "p0.png");
    EXPECT_EQ(preview.presenter->paper()->pageLabel()->text(), "1 / 2");

    preview.vanish(0);
    preview.settle();
    EXPECT_EQ(preview.name(preview.presenter->current()), "p2.png") << "then the later one";
    EXPECT_EQ(preview.name(preview.presenter->selected()), "p2.png");
    EXPECT_FALSE(preview.presenter->paper()->paging()) << "one live photo left: no paging";

    // The host changing its state in the meantime wins over the deferred write.
    preview.vanish(2);
    preview.presenter->update();
    EXPECT_FALSE(preview.presenter->isOpen());
    EXPECT_EQ(preview.name(preview.presenter->selected()), "p2.png");
    preview.settle();
    EXPECT_FALSE(preview.presenter->selected().has_value()) << "cleared a turn later";
}

TEST(PhotoPreviewPresenter, ClosesWithItsHostWindowAndLeavesTheStateWhenTheHostGoes) {
    Preview preview({{40, 30}});
    preview.presenter->open(preview.photo(0));
    ASSERT_TRUE(preview.presenter->isOpen());
    preview.host->hide();
    EXPECT_FALSE(preview.presenter->isOpen());
    EXPECT_FALSE(preview.presenter->selected().has_value());

    // Waiting for a window: the panel comes once the host shows.
    preview.presenter->open(preview.photo(0));
    EXPECT_FALSE(preview.presenter->isOpen());
    preview.host->show();
    preview.settle();
    EXPECT_TRUE(preview.presenter->isOpen());
    QPointer<QWidget> panel = preview.presenter->panel();
    preview.presenter.reset();
    preview.settle();
    EXPECT_TRUE(panel.isNull() || !panel->isVisible());
}

TEST(PhotoPreviewOpener, OnePresenterPerWindowAndTheNewestHostHearsOfTheCloseOnce) {
    Preview preview({{40, 30}, {30, 40}});
    QWidget window;
    window.show();
    int firstClosed = 0, secondClosed = 0;
    PhotoPreviewOpener::open(*preview.model, preview.photo(0), &window, [&] { ++firstClosed; });
    PhotoPreviewPresenter* presenter = PhotoPreviewOpener::presenter(&window);
    ASSERT_NE(presenter, nullptr);
    EXPECT_TRUE(presenter->isOpen());
    PhotoPreviewOpener::open(*preview.model, preview.photo(1), &window, [&] { ++secondClosed; });
    EXPECT_EQ(PhotoPreviewOpener::presenter(&window), presenter);
    EXPECT_EQ(preview.name(presenter->current()), "p1.png");

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    EXPECT_TRUE(presenter->handleKey(&escape));
    EXPECT_EQ(firstClosed, 0);
    EXPECT_EQ(secondClosed, 1);
    presenter->setSelected(std::nullopt);
    EXPECT_EQ(secondClosed, 1) << "once";
}

// The picture's size is read off the main thread; the paper takes the picture's shape once it
// comes, instead of keeping the 4:3 it was laid out with meanwhile.
TEST(PhotoPreviewPresenter, ThePaperTakesThePicturesShapeOnceItsSizeIsReadOffTheMainThread) {
    std::atomic<int> mainThreadReads{0};
    PhotoDimensions::clearCache();
    PhotoDimensions::setReaderForTesting([&](const QString& path) {
        mainThreadReads += isMainThread() ? 1 : 0;
        return ImageReading::orientedPixelSize(path);
    });
    const auto restore = qScopeGuard([] {
        PhotoDimensions::setReaderForTesting({});
        PhotoDimensions::clearCache();
    });
    Preview preview({{30, 60}});
    preview.presenter->open(preview.photo(0));
    ASSERT_TRUE(preview.presenter->isOpen());
    const auto aspect = [&] {
        const QRectF image = preview.presenter->paper()->previewGeometry().image;
        return image.width() / image.height();
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return std::abs(aspect() - 0.5) < 0.01; }, 5000)) << aspect();
    EXPECT_EQ(mainThreadReads.load(), 0);
    // The thumbnail shown meanwhile gives way to the picture itself, asked for once its size came:
    // the PNG's own pixels, which no JPEG thumbnail keeps.
    const QImage original = makeImage(30, 60).convertToFormat(QImage::Format_RGB32);
    const auto shown = [&] {
        const QImage image = preview.presenter->paper()->image();
        return image.size() == original.size() && image.convertToFormat(QImage::Format_RGB32) == original;
    };
    EXPECT_TRUE(QTest::qWaitFor(shown, 5000)) << "the picture itself was never asked for";
}
