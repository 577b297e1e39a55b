#include "shell/ModalWindowPresenter.h"
#include "platform/UserDefaults.h"
#include "shell/GalleryWindowLayer.h"

#include <QDialog>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>

using namespace vennimo;

namespace {

void setFloating(bool on) {
    UserDefaults::standard().setBool(UserDefaults::kGalleryAlwaysOnTopKey, on);
}

QWindow* transientParentOf(QWidget& dialog) {
    return dialog.windowHandle() ? dialog.windowHandle()->transientParent() : nullptr;
}

// The rope window and the settings window of the application, both floating and shown.
struct OurWindows {
    QWidget rope;
    QWidget settings;
    OurWindows() {
        GalleryWindowLayer::registerWindow(&rope, false);
        GalleryWindowLayer::registerWindow(&settings, true);
        rope.show();
        settings.show();
    }
};

TEST(ModalWindowPresenter, DialogsStandOverTheWindowTheyBelongToAndFloatAboveEverythingOfOurs) {
    setFloating(true);
    ModalWindowPresenter presenter;
    {
        OurWindows ours;
        EXPECT_EQ(GalleryWindowLayer::topmostShown(), &ours.settings);

        // A panel without a parent belongs to the highest of our windows on screen.
        QDialog panel;
        panel.show();
        EXPECT_EQ(transientParentOf(panel), ours.settings.windowHandle());
        EXPECT_EQ(GalleryWindowLayer::level(&panel), GalleryWindowLayer::kModalLevel);
        EXPECT_TRUE(panel.windowFlags().testFlag(Qt::WindowStaysOnTopHint));

        // An alert of the rope stays the rope's, and still floats over the settings window.
        QDialog alert(&ours.rope);
        alert.show();
        EXPECT_EQ(transientParentOf(alert), ours.rope.windowHandle());
        EXPECT_EQ(GalleryWindowLayer::level(&alert), GalleryWindowLayer::kModalLevel);

        // Once the settings window is gone, a new panel belongs to the rope.
        ours.settings.hide();
        EXPECT_EQ(GalleryWindowLayer::topmostShown(), &ours.rope);
        QDialog later;
        later.show();
        EXPECT_EQ(transientParentOf(later), ours.rope.windowHandle());

        // An alert of a window no longer on screen stands on the highest one still shown, not on
        // the hidden one, where nobody would see it.
        ours.settings.show();
        ours.rope.hide();
        QDialog orphan(&ours.rope);
        orphan.show();
        EXPECT_EQ(transientParentOf(orphan), ours.settings.windowHandle());
    }

    // With nothing of ours on screen an alert has nothing to stand on: it floats by itself.
    EXPECT_EQ(GalleryWindowLayer::topmostShown(), nullptr);
    QDialog alone;
    alone.show();
    EXPECT_EQ(transientParentOf(alone), nullptr);
    EXPECT_EQ(GalleryWindowLayer::level(&alone), GalleryWindowLayer::kModalLevel);
    EXPECT_TRUE(GalleryWindowLayer::onAllWorkspaces(&alone));
    setFloating(true);
}

TEST(ModalWindowPresenter, LeavesWindowsOthersPlaceAndFloatsNothingWhileFloatingIsOff) {
    setFloating(false);
    QDialog updater;
    ModalWindowPresenter presenter([&](QWidget* w) { return w == &updater; });
    OurWindows ours;

    // Off: the dialog still belongs to its window, which keeps it above it, but floats nowhere.
    QDialog panel;
    panel.show();
    EXPECT_EQ(transientParentOf(panel), ours.settings.windowHandle());
    EXPECT_EQ(GalleryWindowLayer::level(&panel), GalleryWindowLayer::kNormalLevel);
    EXPECT_FALSE(panel.windowFlags().testFlag(Qt::WindowStaysOnTopHint));

    // At one level the active window is the highest, though an auxiliary one would float higher.
    panel.hide();
    ours.rope.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&ours.rope));
    EXPECT_EQ(GalleryWindowLayer::topmostShown(), &ours.rope);
    QDialog question;
    question.show();
    EXPECT_EQ(transientParentOf(question), ours.rope.windowHandle());

    // The updater's own windows, our recorded windows and plain windows are not dialogs to place.
    setFloating(true);
    updater.show();
    EXPECT_EQ(GalleryWindowLayer::level(&updater), GalleryWindowLayer::kNormalLevel);
    EXPECT_EQ(transientParentOf(updater), nullptr);
    QDialog preview;
    GalleryWindowLayer::registerWindow(&preview, true);
    preview.show();
    EXPECT_EQ(GalleryWindowLayer::level(&preview), GalleryWindowLayer::kAuxiliaryLevel);
    QWidget plain;
    plain.show();
    EXPECT_FALSE(presenter.presents(&plain));
    EXPECT_EQ(GalleryWindowLayer::level(&plain), GalleryWindowLayer::kNormalLevel);
}

} // namespace
