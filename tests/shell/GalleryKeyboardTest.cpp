#include "shell/GalleryKeyboard.h"
#include "model/RopeModelFixture.h"
#include "shell/GalleryWindow.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

using Command = GalleryKeyboard::Command;

} // namespace

TEST(GalleryKeyboard, ClaimsTheTablesKeysWhereTheyApplyAndIgnoresLockAndKeypadFlags) {
    struct Case {
        int key;
        Qt::KeyboardModifiers modifiers;
        bool rope;
        Command command;
    };
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
    for (const Case& c : {
             Case{Qt::Key_Z, ctrl | shift, false, Command::redo},
             Case{Qt::Key_Z, ctrl, true, Command::undo},
             Case{Qt::Key_A, ctrl, false, Command::selectAll},
             Case{Qt::Key_A, ctrl | Qt::KeypadModifier, true, Command::selectAll},
             Case{Qt::Key_A, ctrl | Qt::AltModifier, true, Command::none},
             Case{Qt::Key_A, ctrl | Qt::MetaModifier, true, Command::none},
             Case{Qt::Key_A, Qt::NoModifier, true, Command::none},
             Case{Qt::Key_C, ctrl, false, Command::copy},
             Case{Qt::Key_I, ctrl, true, Command::properties},
             Case{Qt::Key_Backspace, ctrl, false, Command::trash},
             Case{Qt::Key_Delete, ctrl, true, Command::trash},
             Case{Qt::Key_Backspace, Qt::NoModifier, false, Command::none},
             Case{Qt::Key_Backspace, Qt::NoModifier, true, Command::takeDown},
             Case{Qt::Key_Delete, Qt::NoModifier, true, Command::takeDown},
             Case{Qt::Key_Delete, shift, true, Command::none},
             Case{Qt::Key_Space, Qt::NoModifier, false, Command::space},
             Case{Qt::Key_Space, shift, true, Command::none},
             Case{Qt::Key_Left, Qt::NoModifier, false, Command::none},
             Case{Qt::Key_Left, Qt::NoModifier, true, Command::left},
             Case{Qt::Key_Right, Qt::KeypadModifier, true, Command::right},
             Case{Qt::Key_Left, shift, true, Command::extendLeft},
             Case{Qt::Key_Right, shift, true, Command::extendRight},
             Case{Qt::Key_Right, ctrl, true, Command::none},
         })
        EXPECT_EQ(GalleryKeyboard::command(c.key, c.modifiers, c.rope), c.command)
            << std::hex << c.key << " " << c.modifiers.toInt() << " rope " << c.rope;
}

TEST(GalleryKeyboard, ActsOnTheSelectionInListOrderAndSwallowsClaimedKeysWhileBusy) {
    RopeModel rope(3);
    GalleryModel& model = *rope;
    const QList<Photo> photos = rope.photos;
    QList<Photo> previewed;
    const auto preview = [&](const Photo& photo) { previewed.append(photo); };
    QStringList launched;
    model.spaceKeyLaunch().applicationExists = [](const QString&) { return true; };
    model.spaceKeyLaunch().openWithApplication = [&](const QString&, const QStringList& files, auto) {
        launched = files;
    };
    const auto press = [&](int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                           SpaceKeyOpener opener = SpaceKeyOpener::preview()) {
        return GalleryKeyboard::handle(key, modifiers, model, photos, true, opener, preview);
    };

    // Space with the preview and nothing selected is taken and does nothing.
    EXPECT_TRUE(press(Qt::Key_Space));
    EXPECT_TRUE(previewed.isEmpty());
    // Arrows with nothing selected start at the ends; Right on the last print stays there.
    EXPECT_TRUE(press(Qt::Key_Left));
    EXPECT_EQ(model.selectedIDs(), QSet<QString>{photos[2].id});
    EXPECT_TRUE(press(Qt::Key_Right));
    EXPECT_EQ(model.selectedIDs(), QSet<QString>{photos[2].id});
    EXPECT_TRUE(press(Qt::Key_Left, Qt::ShiftModifier));
    EXPECT_EQ(model.selectedIDs(), (QSet<QString>{photos[1].id, photos[2].id}));

    // Space opens the first selected in list order: the preview, or the chosen application.
    EXPECT_TRUE(press(Qt::Key_Space));
    ASSERT_EQ(previewed.size(), 1);
    EXPECT_EQ(previewed[0].id, photos[1].id);
    EXPECT_TRUE(press(Qt::Key_Space, Qt::NoModifier, SpaceKeyOpener::app("/apps/viewer.desktop")));
    EXPECT_EQ(launched, (QStringList{photos[1].path, photos[2].path}));

    // Control-A selects all, then ends the selection.
    EXPECT_TRUE(press(Qt::Key_A, Qt::ControlModifier));
    EXPECT_EQ(model.selectedIDs().size(), 3);
    EXPECT_TRUE(press(Qt::Key_A, Qt::ControlModifier));
    EXPECT_TRUE(model.selectedIDs().isEmpty());

    // While a delete or an import runs, claimed keys are swallowed and do nothing.
    model.setSelection({photos[0]});
    for (const bool deleting : {true, false}) {
        deleting ? model.setDeleting(true) : model.setImporting(true);
        launched.clear();
        EXPECT_TRUE(press(Qt::Key_Space, Qt::NoModifier, SpaceKeyOpener::app("/apps/viewer.desktop")));
        EXPECT_TRUE(press(Qt::Key_Delete));
        EXPECT_TRUE(press(Qt::Key_Right));
        EXPECT_TRUE(launched.isEmpty());
        EXPECT_TRUE(model.hangs(photos[0]));
        EXPECT_EQ(model.selectedIDs(), QSet<QString>{photos[0].id});
        EXPECT_FALSE(press(Qt::Key_Q)) << "keys outside the table still go on";
        deleting ? model.setDeleting(false) : model.setImporting(false);
    }

    // Delete on the rope takes the selection down as one undoable action.
    EXPECT_TRUE(press(Qt::Key_Backspace));
    EXPECT_FALSE(model.hangs(photos[0]));
    EXPECT_TRUE(press(Qt::Key_Z, Qt::ControlModifier));
    EXPECT_TRUE(model.hangs(photos[0]));
}

TEST(GalleryKeyboard, TheWindowKeepsKeysFromTheHandlerWhileTextIsEdited) {
    GalleryWindow window;
    int handled = 0;
    window.setGalleryKeyboardHandler([&](QKeyEvent*) {
        ++handled;
        return true;
    });
    auto* field = new QLineEdit(&window);
    window.setContentWidget(field);
    window.show();
    window.activateWindow();
    field->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    window.setFocus();
    QTest::keyClick(&window, Qt::Key_Space);
    EXPECT_EQ(handled, 1) << "keys of the content reach the handler";
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Space);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(handled, 1) << "the text field keeps its keys";
    EXPECT_EQ(field->text(), " ");
    EXPECT_FALSE(window.galleryKeysAllowed());
}
