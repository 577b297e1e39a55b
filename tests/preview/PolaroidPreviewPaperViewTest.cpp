#include "preview/PolaroidPreviewPaperView.h"
#include "model/GalleryModel.h"
#include "preview/PolaroidPreviewPanel.h"
#include "preview/PreviewActionButton.h"
#include "rendering/PreviewToolbarMetrics.h"
#include "support/ShownText.h"
#include "support/TestEnvironment.h"
#include "widgets/HoverHint.h"

#include <QEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

constexpr QRectF kLaptop{0, 0, 1440, 900};

struct Toolbar {
    QRect reveal, line, trash, close, copy, previous, next, page, error;
};

Toolbar toolbarOf(const PolaroidPreviewPaperView& paper) {
    return {
        paper.revealButton()->geometry(), paper.lineButton()->geometry(), paper.trashButton()->geometry(),
        paper.closeButton()->geometry(),  paper.copyButton()->geometry(), paper.previousButton()->geometry(),
        paper.nextButton()->geometry(),   paper.pageLabel()->geometry(),  paper.errorLabel()->geometry()};
}

} // namespace

TEST(PolaroidPreviewPaperView, ToolbarRunsAlongTheImageOrThePaperAndPagingMovesDownWhenCrowded) {
    PolaroidPreviewPaperView paper;
    paper.resize(1300, 1000);
    const int copyW = int(PreviewToolbarMetrics::width("复制失败"));
    const int closeW = int(PreviewToolbarMetrics::width("关闭"));

    // A landscape photo: its image is wider than 372 points, so the toolbar follows its edges.
    const auto wide = PolaroidPreviewGeometry::layout(QSizeF(4000, 3000), kLaptop);
    ASSERT_GE(wide.image.width(), PolaroidPreviewPaperView::kImageToolbarMinWidth);
    paper.setPreviewGeometry(wide);
    paper.setPaging(true);
    Toolbar t = toolbarOf(paper);
    const int y = int(std::lround(wide.controlsY));
    EXPECT_EQ(t.reveal.topLeft(), QPoint(int(std::lround(wide.image.left())), y));
    EXPECT_EQ(t.line.left() - t.reveal.left(), 34);
    EXPECT_EQ(t.trash.left() - t.line.left(), 34);
    EXPECT_EQ(t.reveal.size(), QSize(32, 30));
    EXPECT_EQ(t.copy.right() + 1, int(std::lround(wide.image.right())));
    EXPECT_EQ(t.copy.width(), copyW);
    EXPECT_EQ(t.close.width(), closeW);
    EXPECT_EQ(t.close.right() + 1 + 6, t.copy.left());
    EXPECT_EQ(t.previous.top(), y) << "room enough: one row";
    EXPECT_NEAR((t.previous.left() + t.next.right() + 1) / 2.0, wide.paper.center().x(), 1.0);
    EXPECT_EQ(t.next.right() + 1 - t.previous.left(), 104);
    EXPECT_EQ(t.page.size(), QSize(48, 16));
    EXPECT_EQ(t.error.top(), y + 30 + 10);

    // Titles never move the close button.
    for (const char* title : {"已复制", "复制失败", "复制"}) {
        paper.copyButton()->setText(QString::fromUtf8(title));
        paper.relayout();
        EXPECT_EQ(paper.closeButton()->geometry(), t.close) << title;
    }

    // A tall photo: narrower than 372 points, so the toolbar runs along the paper inset by 24,
    // and the paging controls have no room beside the buttons: a second row on the paper's middle.
    const auto tall = PolaroidPreviewGeometry::layout(QSizeF(1000, 3000), kLaptop);
    ASSERT_LT(tall.image.width(), PolaroidPreviewPaperView::kImageToolbarMinWidth);
    paper.setPreviewGeometry(tall);
    t = toolbarOf(paper);
    EXPECT_EQ(t.reveal.left(), int(std::lround(tall.paper.left() + 24)));
    EXPECT_EQ(t.copy.right() + 1, int(std::lround(tall.paper.right() - 24)));
    const int row = int(std::lround(tall.controlsY + 30 + 4));
    EXPECT_EQ(t.previous.top(), row);
    EXPECT_NEAR((t.previous.left() + t.next.right() + 1) / 2.0, tall.paper.center().x(), 1.0);
    EXPECT_EQ(t.error.top(), row + 30 + 10) << "the error line moves down with the paging row";

    paper.setPaging(false);
    EXPECT_FALSE(paper.previousButton()->isVisibleTo(&paper));
    EXPECT_FALSE(paper.pageLabel()->isVisibleTo(&paper));
    EXPECT_EQ(paper.errorLabel()->geometry().top(), int(std::lround(tall.controlsY)) + 30 + 10);
}

TEST(PolaroidPreviewPaperView, HintShowsAfterTheDelayBelowItsButtonInsideTheView) {
    QWidget panel;
    panel.resize(1300, 1000);
    auto* paper = new PolaroidPreviewPaperView(&panel);
    paper->resize(panel.size());
    paper->setPreviewGeometry(PolaroidPreviewGeometry::layout(QSizeF(4000, 3000), kLaptop));
    panel.show();
    PreviewActionButton* trash = paper->trashButton();
    const auto enter = [](QWidget* w) {
        QEnterEvent event(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QCoreApplication::sendEvent(w, &event);
    };
    const auto leave = [](QWidget* w) {
        QEvent event(QEvent::Leave);
        QCoreApplication::sendEvent(w, &event);
    };

    // Leaving before the delay ends the wait; the hint shows only when its delay runs out.
    enter(trash);
    leave(trash);
    EXPECT_FALSE(trash->hoverHint()->delay().isActive());
    enter(trash);
    EXPECT_EQ(paper->hintedButton(), nullptr) << "not at once";
    EXPECT_TRUE(trash->hoverHint()->delay().isActive());
    EXPECT_EQ(trash->hoverHint()->delay().intervalAsDuration(), std::chrono::milliseconds(350));
    ASSERT_TRUE(QTest::qWaitFor([&] { return paper->hintedButton() == trash; }, 10000));
    EXPECT_EQ(trash->hoverHint()->text(), "删除  Ctrl+Delete");
    const QRect hint = trash->hoverHint()->hintWidget()->geometry();
    EXPECT_EQ(hint.top(), trash->geometry().bottom() + 1 + 6);
    EXPECT_NEAR(hint.center().x(), trash->geometry().center().x(), 1.5);
    leave(trash);
    EXPECT_EQ(paper->hintedButton(), nullptr) << "gone at once";

    // Near the left edge the hint stays 4 points inside the view.
    const auto small = PolaroidPreviewGeometry::layout(QSizeF(4000, 3000), QRectF(0, 0, 300, 300));
    panel.resize(small.size.toSize());
    paper->resize(panel.size());
    paper->setPreviewGeometry(small);
    enter(paper->revealButton());
    ASSERT_TRUE(QTest::qWaitFor([&] { return paper->hintedButton() != nullptr; }, 10000));
    EXPECT_GE(paper->revealButton()->hoverHint()->hintWidget()->geometry().left(), 4);
    // The window hides while the hint shows: the hint goes with it, and nothing is pulled from
    // under Qt's walk over the window's children.
    panel.hide();
    EXPECT_EQ(paper->hintedButton(), nullptr);

    // The copy and close buttons have no hint; disabled buttons draw at 0.45 of their alpha.
    EXPECT_EQ(paper->copyButton()->hoverHint(), nullptr);
    EXPECT_EQ(paper->closeButton()->hoverHint(), nullptr);
    const QColor enabled = paper->copyButton()->background();
    paper->copyButton()->setEnabled(false);
    EXPECT_EQ(enabled, PreviewActionButton::ink());
    EXPECT_NEAR(paper->copyButton()->background().alphaF(), 0.45, 0.01);
}

TEST(PolaroidPreviewPanel, TextFieldsKeepTheirKeysAndUndoWhileTheRopeHistoryNamesTheMenu) {
    QWidget parent;
    parent.show();
    PolaroidPreviewPanel panel(&parent);
    panel.resize(300, 200);
    auto* field = new QLineEdit(&panel);
    auto* other = new QWidget(&panel);
    other->setFocusPolicy(Qt::StrongFocus);
    panel.show();
    panel.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));

    int shortcuts = 0, undos = 0, redos = 0;
    panel.setHandleShortcut([&](QKeyEvent*) { return ++shortcuts, true; });
    panel.setHandleUndo([&] { ++undos; });
    panel.setHandleRedo([&] { ++redos; });

    other->setFocus();
    QTest::keyClick(other, Qt::Key_Space);
    EXPECT_EQ(shortcuts, 1) << "keys from the paper reach the preview";
    panel.undo();
    panel.redo();
    EXPECT_EQ(undos, 1);
    EXPECT_EQ(redos, 1);
    EXPECT_EQ(panel.undoState(), PolaroidPreviewPanel::MenuState({"撤销", false})) << "no model: disabled";

    field->setFocus();
    QTest::keyClicks(field, "ab");
    EXPECT_EQ(shortcuts, 1) << "a text field keeps its keys";
    EXPECT_TRUE(panel.undoState().enabled);
    panel.undo();
    EXPECT_EQ(field->text(), "") << "the field's own undo";
    EXPECT_EQ(undos, 1);
    EXPECT_TRUE(panel.redoState().enabled);
    EXPECT_EQ(panel.redoState().title, "重做");
}

// Failures name files and reasons; a name that looks like markup shows as it is written.
TEST(PolaroidPreviewPaperView, ErrorsShowFileNamesAsWritten) {
    PolaroidPreviewPaperView paper;
    const QString error = "无法复制：<b>海边</b> & <i>山</i>.jpg 已移动";
    paper.setErrorText(error);
    EXPECT_EQ(shownText(*paper.errorLabel()), error);
    EXPECT_EQ(shownToolTip(paper.errorLabel()->toolTip()), error);
    paper.setUnavailable("<b>海边</b>.jpg 无法打开");
    EXPECT_TRUE(shownTexts(paper).contains("<b>海边</b>.jpg 无法打开"))
        << shownTexts(paper).join('|').toStdString();
}
