#include "GridFixture.h"

#include "grid/PhotoGridAccessible.h"
#include "grid/PhotoGridView.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>

#include <vector>

namespace vennimo::test {
namespace {

// Catches what the grid tells assistive technologies instead of handing it to the platform.
struct Announcements {
    struct Heard {
        QAccessible::Event type;
        QAccessibleInterface* target;
    };
    std::vector<Heard> events;

    Announcements() {
        PhotoGridAccessible::setAnnouncer([this](QAccessibleEvent* event) {
            events.push_back({event->type(), event->accessibleInterface()});
        });
    }
    ~Announcements() { PhotoGridAccessible::setAnnouncer({}); }
    int count(QAccessible::Event type, const QAccessibleInterface* target) const {
        int n = 0;
        for (const Heard& event : events)
            n += event.type == type && event.target == target ? 1 : 0;
        return n;
    }
};

PhotoGridAccessible* listOf(Grid& grid) {
    auto* list = static_cast<PhotoGridAccessible*>(QAccessible::queryAccessibleInterface(grid.view->grid()));
    EXPECT_TRUE(list);
    EXPECT_EQ(list->role(), QAccessible::List);
    return list;
}

QAccessibleInterface* cardNamed(QAccessibleInterface* list, const QString& name) {
    for (int i = 0; i < list->childCount(); ++i)
        if (list->child(i)->text(QAccessible::Name).contains(name))
            return list->child(i);
    ADD_FAILURE() << "no card " << name.toStdString();
    return nullptr;
}

TEST(PhotoGridAccessible, CardsFollowTheSearchTheSelectionAndTheScreen) {
    Grid grid({"beach.png", "city.png", "forest.jpg"});
    PhotoGridView* view = grid.view->grid();
    PhotoGridAccessible* list = listOf(grid);
    ASSERT_EQ(list->childCount(), 3);
    EXPECT_FALSE(list->child(3)) << "one past the last card";
    EXPECT_FALSE(list->child(-1));
    QStringList names;
    for (int i = 0; i < 3; ++i) {
        QAccessibleInterface* card = list->child(i);
        ASSERT_TRUE(card);
        EXPECT_EQ(list->indexOfChild(card), i);
        EXPECT_EQ(list->child(i), card) << "one item per card";
        names.append(card->text(QAccessible::Name));
        // The item lies where the card is drawn, and the card's spot on screen finds it again.
        const QRectF drawn = view->cardRectInViewport(i);
        const QRect onScreen = card->rect();
        EXPECT_TRUE(
            QRectF(view->viewport()->mapFromGlobal(onScreen.topLeft()), onScreen.size()).contains(drawn));
        EXPECT_LE(onScreen.width() - drawn.width(), 1);
        EXPECT_EQ(list->childAt(onScreen.center().x(), onScreen.center().y()), card);
    }
    names.sort();
    EXPECT_EQ(names, QStringList({QString::fromUtf8("beach.png，源"), QString::fromUtf8("city.png，源"),
                                  QString::fromUtf8("forest.jpg，源")}));

    Announcements announced;
    QAccessibleInterface* city = cardNamed(list, "city.png");
    QAccessibleInterface* beach = cardNamed(list, "beach.png");
    grid.model->setSelection({grid.photo("city.png")});
    grid.settle();
    EXPECT_TRUE(city->state().selected && !beach->state().selected);
    EXPECT_EQ(city->text(QAccessible::Name), QString::fromUtf8("已选，city.png，源"));
    EXPECT_EQ(beach->text(QAccessible::Name), QString::fromUtf8("未选，beach.png，源"));
    EXPECT_EQ(announced.count(QAccessible::SelectionAdd, city), 1);
    EXPECT_EQ(announced.count(QAccessible::NameChanged, beach), 1) << "selection mode names every card";
    EXPECT_EQ(announced.count(QAccessible::SelectionWithin, list), 1);

    // A search that hides the city card: its item turns invalid and the list is told.
    grid.view->setQuery("beach");
    grid.settle();
    EXPECT_EQ(list->childCount(), 1);
    EXPECT_EQ(list->child(0), beach);
    EXPECT_FALSE(city->isValid());
    EXPECT_EQ(list->indexOfChild(city), -1);
    EXPECT_EQ(announced.count(QAccessible::TableModelChanged, list), 1);
    EXPECT_EQ(announced.count(QAccessible::ObjectReorder, list), 1);
    EXPECT_EQ(beach->text(QAccessible::Name), QString::fromUtf8("beach.png，源")) << "selection mode ended";

    grid.view->setQuery("");
    grid.settle();
    EXPECT_EQ(list->childCount(), 3);
    QAccessibleInterface* cityAgain = cardNamed(list, "city.png");
    // Pressing an item acts as a click on its card; the second action opens the preview.
    QAccessibleActionInterface* actions = cityAgain->actionInterface();
    ASSERT_TRUE(actions);
    EXPECT_EQ(actions->actionNames(),
              (QStringList{QAccessibleActionInterface::pressAction(), QString::fromUtf8("查看大图")}));
    actions->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(grid.model->selectedIDs(), QSet<QString>{grid.photo("city.png").id});
    beach->actionInterface()->doAction(QString::fromUtf8("查看大图"));
    ASSERT_TRUE(grid.view->previewPhoto());
    EXPECT_EQ(grid.view->previewPhoto()->name(), "beach.png");
}

TEST(PhotoGridAccessible, OnlyCardsSomeoneAskedAboutOrTheFocusedOneGetAnItem) {
    QStringList names;
    for (int i = 0; i < 40; ++i)
        names.append(QString("photo-%1.png").arg(i, 2, 10, QChar('0')));
    Grid grid(names);
    PhotoGridAccessible* list = listOf(grid);
    ASSERT_EQ(list->childCount(), 40);
    EXPECT_EQ(list->elementCount(), 0);
    QAccessibleInterface* asked = list->child(7);
    EXPECT_EQ(list->elementCount(), 1);

    Announcements announced;
    grid.model->toggleAllSelection(grid.view->filtered());
    grid.settle();
    grid.view->setQuery("photo-0");
    grid.view->setQuery("");
    grid.settle();
    grid.model->endSelection();
    grid.settle();
    EXPECT_EQ(list->elementCount(), 1) << "selecting all and searching makes no items";
    EXPECT_EQ(announced.count(QAccessible::SelectionAdd, asked), 1);
    EXPECT_EQ(announced.count(QAccessible::SelectionRemove, asked), 1);
    int selectionEvents = 0;
    for (const auto& event : announced.events)
        selectionEvents +=
            event.type == QAccessible::SelectionAdd || event.type == QAccessible::SelectionRemove;
    EXPECT_EQ(selectionEvents, 2) << "only the item clients hold hears of its selection, on and off";
    EXPECT_EQ(announced.count(QAccessible::ObjectReorder, list), 2);

    // The keyboard moves the current card: with the window's content focused, its item is
    // made, focused and announced.
    grid.view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(grid.view.get()));
    grid.view->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == grid.view.get(); }));
    grid.settle();
    // Only from here: an item dropped above may leave its address to the next one made.
    announced.events.clear();
    grid.model->moveKeyboardSelection(grid.view->filtered(), 1, false);
    grid.settle();
    QAccessibleInterface* first = list->child(0);
    EXPECT_EQ(list->elementCount(), 2);
    EXPECT_EQ(announced.count(QAccessible::Focus, first), 1);
    EXPECT_TRUE(first->state().focused);
    EXPECT_EQ(list->focusChild(), first);
    EXPECT_FALSE(asked->state().focused);
}

} // namespace
} // namespace vennimo::test
