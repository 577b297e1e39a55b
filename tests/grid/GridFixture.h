#pragma once

#include "grid/NormalGalleryView.h"
#include "model/GalleryModel.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace vennimo::test {

// A model over a folder of pictures named by `names` (each arrived after the first scan, so each
// hangs) and the grid screen over it, shown on the offscreen screen. Menus are kept, not shown.
struct Grid {
    QString source;
    std::unique_ptr<GalleryModel> model;
    std::unique_ptr<NormalGalleryView> view;
    std::unique_ptr<QMenu> lastMenu;
    QStringList opened;
    int settingsOpened = 0;
    int ropeRequested = 0;

    explicit Grid(const QStringList& names) {
        static int made = 0;
        ++made;
        source = makeFolder(QString("pictures-%1").arg(made));
        const QString storage = makeFolder(QString("storage-%1").arg(made));
        model = std::make_unique<GalleryModel>(
            std::make_unique<Indexer>(QList<SourceRoot>{{"源", source}}, storage), false);
        model->refresh(std::nullopt, false);
        EXPECT_TRUE(QTest::qWaitFor([&] { return model->appliedScanCount() > 0 && !model->scanInFlight(); }));
        addAll(names);
        view = std::make_unique<NormalGalleryView>(
            *model, [this] { ++settingsOpened; }, [this] { ++ropeRequested; });
        view->setFileOpener([this](const QString& path) {
            opened.append(path);
            return true;
        });
        view->setFileRevealer([](const QString&) {});
        view->setMenuPresenter([this](QMenu& menu, QPoint) {
            // Keep a copy of what was offered; the menu itself goes with the caller.
            lastMenu = std::make_unique<QMenu>();
            for (QAction* action : menu.actions()) {
                QAction* copy = lastMenu->addAction(action->text());
                copy->setEnabled(action->isEnabled());
            }
        });
        view->resize(1100, 760);
        view->show();
        settle();
    }
    ~Grid() {
        view.reset();
        model.reset();
    }

    // Writes pictures into the source folder and waits until the model lists them.
    void addAll(const QStringList& names) {
        if (names.isEmpty())
            return;
        const qsizetype before = model->photos().size();
        for (const QString& name : names)
            saveImage(makeImage(60, 40), source + "/" + name);
        model->refresh(std::nullopt, false);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return !model->scanInFlight() && model->photos().size() == before + names.size(); }));
    }
    void add(const QString& name) { addAll({name}); }
    Photo photo(const QString& name) const {
        for (const Photo& photo : model->photos())
            if (photo.name() == name)
                return photo;
        ADD_FAILURE() << "no photo " << name.toStdString();
        return {};
    }
    QStringList visibleNames() const {
        QStringList names;
        for (const Photo& photo : view->filtered())
            names.append(photo.name());
        names.sort();
        return names;
    }
    void settle() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
};

} // namespace vennimo::test
