#include "PhotoLikeImages.h"
#include "grid/GalleryActionBar.h"
#include "grid/GalleryHeader.h"
#include "grid/GallerySearchField.h"
#include "grid/GridThumbnailCell.h"
#include "grid/NormalGalleryView.h"
#include "grid/PhotoGridView.h"
#include "model/GalleryModel.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <memory>

using namespace vennimo;
using namespace vennimo::test;

namespace {

QString screenshotDir() {
    const QString dir = QStringLiteral(VENNIMO_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    return dir;
}

// What the X server shows of a window, frame included.
QImage grabWindow(QWidget& window) {
    const QRect frame = window.frameGeometry();
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
        .toImage();
}

// A model over a folder of photograph-like pictures, with their thumbnails made.
struct Library {
    QString source;
    std::unique_ptr<GalleryModel> model;

    explicit Library(const QStringList& names) {
        static int made = 0;
        ++made;
        source = makeFolder(QString("photos-%1").arg(made));
        const QString storage = makeFolder(QString("storage-%1").arg(made));
        model = std::make_unique<GalleryModel>(
            std::make_unique<Indexer>(QList<SourceRoot>{{"下载", source}}, storage), false);
        model->refresh(std::nullopt, false);
        EXPECT_TRUE(QTest::qWaitFor([&] { return model->appliedScanCount() > 0 && !model->scanInFlight(); }));
        add(names);
    }
    void add(const QStringList& names) {
        if (names.isEmpty())
            return;
        const qsizetype before = model->photos().size();
        for (int i = 0; i < names.size(); ++i) {
            const QString path = source + "/" + names.at(i);
            if (path.endsWith(".heic")) {
                writeFile(path, "not a picture at all");
                continue;
            }
            const QSize size = i % 3 == 1 ? QSize(900, 1200) : QSize(1600, 1067);
            ASSERT_TRUE(makePhotoLikeImage(size, int(before) + i * 7 + 3).save(path, "JPEG", 88));
        }
        model->refresh(std::nullopt, false);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return !model->scanInFlight() && model->photos().size() == before + names.size(); },
            30000));
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                for (const Photo& photo : model->photos())
                    if (!photo.thumbnailModified && !photo.path.endsWith(".heic"))
                        return false;
                return true;
            },
            30000));
    }
};

// The grid in a titled window of its own.
struct Window {
    QWidget window;
    NormalGalleryView* view;

    Window(GalleryModel& model, QSize size) {
        window.setWindowTitle("Vennimo");
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        view = new NormalGalleryView(
            model, [] {}, [] {}, &window);
        view->setFileOpener([](const QString&) { return false; });
        view->setFileRevealer([](const QString&) {});
        layout->addWidget(view);
        window.resize(size);
        window.move(80, 60);
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window, 30000));
    }
    // Every card near the viewport has its picture or its failure face.
    bool thumbnailsSettled() const {
        const auto& cells = view->grid()->cells();
        if (cells.isEmpty())
            return false;
        for (GridThumbnailCell* cell : cells) {
            const auto face = cell->face();
            if (face.phase == GridThumbnailCell::Phase::loading || cell->fading())
                return false;
        }
        return true;
    }
    void shoot(const QString& name) {
        QTest::qWait(250);
        grabWindow(window).save(screenshotDir() + "/" + name);
    }
};

const QStringList kNames = {"海边日落.jpg",
                            "IMG_2041.jpg",
                            "family-picnic-at-the-lake-on-a-long-summer-afternoon-2024.jpg",
                            "山间小路.jpg",
                            "Screenshot 2026-12-01 at 10.14.22.jpg",
                            "broken.heic",
                            "晚霞.jpg",
                            "DSC_0098.jpg",
                            "harbour.jpg",
                            "森林.jpg",
                            "snow-peak.jpg",
                            "湖面.jpg"};

TEST(GridScreenX11, PhotographsSearchesSelectionAndErrorsInARealWindow) {
    Library library(kNames);
    Window grid(*library.model, QSize(1240, 800));
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid.thumbnailsSettled(); }, 30000));
    EXPECT_TRUE(grid.view->header()->wide());
    grid.shoot("wide.png");

    // Typing narrows the cards.
    GallerySearchField* field = grid.view->actionBar()->searchField();
    field->edit()->setFocus();
    QTest::keyClicks(field->edit(), "jpg 20");
    EXPECT_EQ(grid.view->filtered().size(), 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid.thumbnailsSettled(); }, 30000));
    grid.shoot("search.png");
    QTest::keyClicks(field->edit(), "zzz");
    EXPECT_EQ(grid.view->emptyText(), QString::fromUtf8("无匹配"));
    grid.shoot("search-empty.png");
    field->clearButton()->click();

    // Selection mode: the badge on every card, the selection controls in the header.
    QTest::qWait(100);
    library.model->setSelection({library.model->photos().at(0)});
    library.model->toggleSelection(library.model->photos().at(3));
    EXPECT_TRUE(grid.view->header()->wide());
    grid.shoot("selection.png");
    library.model->endSelection();

    // An error from an action shows in the banner until closed.
    Photo gone = library.model->photos().first();
    gone.path = library.source + "/gone.jpg";
    EXPECT_FALSE(library.model->copy(gone));
    ASSERT_TRUE(library.model->displayedError().has_value());
    grid.shoot("error.png");

    // A new photo while a search is in force raises the notice.
    grid.view->setQuery("海");
    library.add({"海鸥.jpg"});
    EXPECT_TRUE(grid.view->pendingArrival());
    grid.shoot("arrival.png");
    grid.view->arrivalNotice()->click();
    EXPECT_TRUE(grid.view->query().isEmpty());

    // The smallest window the screen allows.
    grid.window.resize(600, 400);
    QTest::qWait(200);
    EXPECT_GE(grid.view->width(), NormalGalleryView::kMinimumSize.width());
    grid.shoot("smallest.png");
}

TEST(GridScreenX11, TheNarrowHeaderAndAnEmptyLibrary) {
    Library library({});
    Window grid(*library.model, QSize(900, 560));
    EXPECT_EQ(grid.view->emptyText(), QString::fromUtf8("还没有照片"));
    grid.shoot("empty.png");

    // The header alone in a width too small for one row puts the bar under the title.
    Library small({"a.jpg", "b.jpg"});
    small.model->setSelection(small.model->photos());
    QWidget host;
    GalleryActionBar* bar = new GalleryActionBar(*small.model, {}, &host);
    GalleryHeader* header = new GalleryHeader(bar, &host);
    header->setCount(small.model->photos().size(), false);
    const int width = bar->sizeHint().width() + 2 * GalleryHeader::kHorizontalPadding + 10;
    EXPECT_FALSE(header->fitsWide(width));
    host.resize(width, header->heightForWidth(width));
    header->setGeometry(0, 0, width, header->heightForWidth(width));
    host.move(100, 100);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host, 30000));
    QTest::qWait(250);
    grabWindow(host).save(screenshotDir() + "/narrow-header.png");
    EXPECT_GT(bar->geometry().top(), 40) << "the bar lies under the title";
}

} // namespace
