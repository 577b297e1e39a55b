#include "PreviewFixture.h"
#include "preview/PolaroidPreviewPaperView.h"
#include "preview/PreviewActionButton.h"

#include <QFile>
#include <QLabel>
#include <QMutex>

using namespace vennimo;
using namespace vennimo::test;

namespace {

QSet<QString> ids(const QList<Photo>& photos) {
    QSet<QString> result;
    for (const Photo& photo : photos)
        result.insert(photo.id);
    return result;
}

} // namespace

TEST(PreviewCommands, DeleteThenCtrlZBringsThePhotoBackOntoItsPageAndSelection) {
    Preview preview({{40, 30}, {30, 40}, {50, 30}});
    preview.place({0.1, 0.5, 0.9});
    const Photo p0 = preview.photo(0), p1 = preview.photo(1), p2 = preview.photo(2);
    preview.model->setSelection({p0, p1, p2});
    preview.presenter->open(p1);

    EXPECT_TRUE(preview.key(Qt::Key_Backspace));
    EXPECT_FALSE(preview.model->hangs(p1));
    EXPECT_EQ(preview.name(preview.presenter->current()), "p0.png");
    EXPECT_EQ(preview.name(preview.presenter->selected()), "p0.png");
    EXPECT_EQ(preview.presenter->sequence().photos.size(), 2);
    ASSERT_TRUE(preview.presenter->takenDownPage().has_value());
    EXPECT_EQ(preview.presenter->paper()->pageLabel()->text(), "1 / 2");

    // Meanwhile the selection changes elsewhere; the undo restores the page's own.
    preview.model->setSelection({p2});
    EXPECT_TRUE(preview.key(Qt::Key_Z, Qt::ControlModifier));
    EXPECT_TRUE(preview.model->hangs(p1));
    EXPECT_EQ(preview.name(preview.presenter->current()), "p1.png");
    EXPECT_EQ(preview.name(preview.presenter->selected()), "p1.png");
    EXPECT_EQ(preview.presenter->sequence().photos.size(), 3);
    EXPECT_EQ(preview.presenter->paper()->pageLabel()->text(), "2 / 3");
    EXPECT_EQ(preview.model->selectedIDs(), ids({p0, p1, p2}));
    EXPECT_FALSE(preview.presenter->takenDownPage().has_value());

    // A take-down followed by another rope action: Ctrl+Z undoes that one and forgets the page.
    EXPECT_TRUE(preview.key(Qt::Key_Delete));
    EXPECT_EQ(preview.name(preview.presenter->current()), "p0.png");
    ASSERT_TRUE(preview.model->setHanging({p2}, false, RopeHistoryRecording::record));
    EXPECT_TRUE(preview.key(Qt::Key_Z, Qt::ControlModifier));
    EXPECT_TRUE(preview.model->hangs(p2));
    EXPECT_FALSE(preview.model->hangs(p1));
    EXPECT_FALSE(preview.presenter->takenDownPage().has_value());
    EXPECT_EQ(preview.name(preview.presenter->current()), "p0.png");

    // Redo takes p2 down again; Delete on a photo that no longer hangs changes nothing.
    EXPECT_TRUE(preview.key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier));
    EXPECT_FALSE(preview.model->hangs(p2));
    preview.presenter->setSelected(p1);
    EXPECT_EQ(preview.presenter->paper()->lineButton()->symbol(), "plus.circle");
    EXPECT_EQ(preview.presenter->paper()->lineButton()->hint(), QString("挂上"));
    const qsizetype undoCount = preview.model->undoHistory().size();
    EXPECT_TRUE(preview.key(Qt::Key_Backspace));
    EXPECT_EQ(preview.name(preview.presenter->current()), "p1.png");
    EXPECT_EQ(preview.model->undoHistory().size(), undoCount);

    // The line button hangs it again and turns back into the take-down button.
    preview.presenter->paper()->lineButton()->click();
    EXPECT_TRUE(preview.model->hangs(p1));
    EXPECT_EQ(preview.presenter->paper()->lineButton()->symbol(), "minus.circle");
    EXPECT_EQ(preview.presenter->paper()->lineButton()->hint(), QString("取下  Delete"));
}

TEST(PreviewCommands, DeletingTheOnlyPhotoClosesThePreviewAndALaterUndoIsAnOrdinaryOne) {
    Preview preview({{40, 30}, {30, 40}});
    const Photo p0 = preview.photo(0);
    preview.model->setSelection({p0});
    preview.presenter->open(p0);
    EXPECT_TRUE(preview.key(Qt::Key_Backspace));
    EXPECT_FALSE(preview.presenter->isOpen());
    EXPECT_FALSE(preview.presenter->selected().has_value());
    EXPECT_FALSE(preview.presenter->takenDownPage().has_value());
    preview.model->undoRopeAction();
    EXPECT_TRUE(preview.model->hangs(p0));
    EXPECT_FALSE(preview.presenter->isOpen());

    // Moved to the Trash while shown, with nothing else in the sequence: the panel closes and
    // the host's state is cleared.
    preview.model->setRequestTrashConfirmation([](const QList<Photo>&) { return true; });
    preview.presenter->open(p0);
    EXPECT_TRUE(preview.key(Qt::Key_Backspace, Qt::ControlModifier));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !preview.presenter->isOpen(); }, 20000));
    preview.settle();
    EXPECT_FALSE(preview.presenter->selected().has_value());
    EXPECT_FALSE(QFile::exists(p0.path));
}

TEST(PreviewCommands, ABusyModelSwallowsKeysAndDisablesTheActions) {
    Preview preview({{40, 30}, {30, 40}});
    preview.place({0.2, 0.8});
    preview.model->setSelection({preview.photo(0), preview.photo(1)});
    preview.presenter->open(preview.photo(0));
    PolaroidPreviewPaperView* paper = preview.presenter->paper();

    preview.model->setDeleting(true);
    preview.presenter->refreshControls();
    for (int key : {Qt::Key_Space, Qt::Key_Right, Qt::Key_Backspace})
        EXPECT_TRUE(preview.key(key)) << "swallowed: " << key;
    EXPECT_TRUE(preview.key(Qt::Key_Backspace, Qt::ControlModifier));
    EXPECT_TRUE(preview.presenter->isOpen());
    EXPECT_EQ(preview.name(preview.presenter->current()), "p0.png");
    EXPECT_TRUE(preview.model->hangs(preview.photo(0)));
    EXPECT_TRUE(preview.key(Qt::Key_C, Qt::ControlModifier));
    EXPECT_EQ(paper->copyButton()->text(), "复制") << "Ctrl+C while deleting does nothing";
    for (PreviewActionButton* button : {paper->copyButton(), paper->lineButton(), paper->trashButton(),
                                        paper->revealButton(), paper->nextButton()})
        EXPECT_FALSE(button->isEnabled()) << button->accessibleName().toStdString();
    EXPECT_FALSE(preview.key(Qt::Key_A)) << "other keys go on to the panel";

    preview.model->setDeleting(false);
    preview.model->setImporting(true);
    preview.presenter->refreshControls();
    EXPECT_TRUE(paper->revealButton()->isEnabled()) << "only deleting disables the reveal";
    EXPECT_FALSE(paper->copyButton()->isEnabled());
    preview.model->setImporting(false);
    preview.presenter->refreshControls();

    EXPECT_TRUE(preview.key(Qt::Key_C, Qt::ControlModifier));
    EXPECT_EQ(paper->copyButton()->text(), "已复制");
    paper->revealButton()->click();
    EXPECT_EQ(preview.revealed, QStringList{preview.photo(0).path});
    auto shown = std::make_shared<QStringList>();
    auto lock = std::make_shared<QMutex>();
    preview.model->setShowItemProperties([shown, lock](const QStringList& paths, const QString&) {
        QMutexLocker locked(lock.get());
        *shown += paths;
        return Status();
    });
    EXPECT_TRUE(preview.key(Qt::Key_I, Qt::ControlModifier));
    EXPECT_TRUE(QTest::qWaitFor([&] {
        QMutexLocker locked(lock.get());
        return *shown == QStringList{preview.photo(0).path};
    })) << "the shown photo alone, not the selection";

    // A file replaced under its name fails the copy; the error line says why.
    ASSERT_TRUE(QFile::remove(preview.photo(0).path));
    writeFile(preview.photo(0).path, "not the same file");
    EXPECT_TRUE(preview.key(Qt::Key_C, Qt::ControlModifier));
    EXPECT_EQ(paper->copyButton()->text(), "复制失败");
    EXPECT_FALSE(paper->errorText().isEmpty());
    EXPECT_TRUE(paper->errorDismissButton()->isVisibleTo(paper));
    paper->errorDismissButton()->click();
    EXPECT_TRUE(paper->errorText().isEmpty());
    EXPECT_FALSE(paper->errorDismissButton()->isVisibleTo(paper));

    // Paging to another photo resets the copy title; Escape closes and clears the host's state.
    EXPECT_TRUE(preview.key(Qt::Key_Right));
    EXPECT_EQ(paper->copyButton()->text(), "复制");
    EXPECT_TRUE(preview.key(Qt::Key_Escape));
    EXPECT_FALSE(preview.presenter->isOpen());
    EXPECT_FALSE(preview.presenter->selected().has_value());
}
