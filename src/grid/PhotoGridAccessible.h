#pragma once

#include <QAccessibleWidget>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

namespace vennimo {

class PhotoCardAccessible;
class PhotoGridView;

// The photo grid as assistive technologies see it: a list whose items are the cards
// (PhotoCardAccessible). An item is made only when a client asks for it and is kept per photo,
// so a grid of thousands costs nothing until it is read; the changes it announces (the cards
// replaced, the selection, the current card) name only the items clients already hold.
class PhotoGridAccessible : public QAccessibleWidget {
public:
    // Past this many cards a reordered list is announced as a model reset alone: the desktop's
    // bridge answers a reorder by walking every child.
    static constexpr int kReorderAnnounceLimit = 100;

    using Announcer = std::function<void(QAccessibleEvent* event)>;

    explicit PhotoGridAccessible(PhotoGridView* grid);
    ~PhotoGridAccessible() override;

    // Makes every photo grid answer with this interface; once per process.
    static void installFactory();
    // Where every grid's announcements go: the platform's bridge, or with an empty announcer
    // again; tests listen here, since Qt drops events while no client is active.
    static void setAnnouncer(Announcer announcer);
    // The keyboard is in the grid's window content: the current card is the focused item.
    static bool focusWithin(const PhotoGridView& grid);

    // The items made so far, those of cards that are gone included.
    int elementCount() const { return int(m_elements.size() + m_gone.size()); }

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;
    QAccessible::State state() const override;

private:
    struct Element {
        QAccessible::Id id = 0;
        // What clients were last told, to announce only what changed.
        bool selected = false;
        QString name;
    };

    PhotoGridView* grid() const;
    PhotoCardAccessible* element(const QString& photoID) const;
    void photosReplaced();
    void refresh();
    static void announce(QAccessibleEvent& event);
    static void send(QAccessibleInterface* target, QAccessible::Event type);

    mutable QHash<QString, Element> m_elements;
    // Items of cards that left the grid: invalid now, deleted on the next change.
    QList<QAccessible::Id> m_gone;
    QList<QString> m_shownIDs;
    QSet<QString> m_selected;
    std::optional<QString> m_focused;
    // Selection, anchor and focus settle within one turn of the event loop; one look after it.
    QTimer m_refresh;
};

} // namespace vennimo
