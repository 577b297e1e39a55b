#pragma once

#include "core/Photo.h"

#include <QList>
#include <QWidget>

#include <functional>
#include <optional>

class QAbstractButton;
class QFrame;
class QLabel;
class QMenu;
class QToolButton;

namespace vennimo {

class GalleryModel;
class GallerySearchField;
class ToolbarButton;
class ToolbarIcon;

// The right-hand part of the grid's header. Outside selection mode: the search field and the
// properties button; in selection mode: the count, select all, view, copy, properties, delete and
// the hang/take-down menu. The rope and settings buttons are always there. The bar keeps no state
// of its own: it reads the model and the visible photos and acts through them.
class GalleryActionBar : public QWidget {
    Q_OBJECT

public:
    static constexpr int kSpacing = 6;
    static constexpr int kDividerHeight = 16;
    static constexpr double kMenuSymbolPixels = 14;

    // Which controls are enabled, and what the changing ones show, for one model state.
    struct State {
        bool selectionMode = false;
        qsizetype selectedCount = 0;
        int copiedCount = 0;
        bool selectAll = false;
        bool view = false;
        bool copy = false;
        bool properties = false;
        bool trash = false;
        bool trashBusy = false;
        bool hang = false;
        bool takeDown = false;
        bool rope = false;
        bool settings = false;
        bool operator==(const State&) const = default;

        static State of(GalleryModel& model, const QList<Photo>& visible);
        QString copySymbol() const;
        QString copyLabel() const;
    };

    struct Actions {
        std::function<void(const Photo&)> preview;
        std::function<void()> openSettings;
        std::function<void()> switchToClothesline;
        // Gives the keyboard back to the window's content after select all.
        std::function<void()> focusContent;
    };

    GalleryActionBar(GalleryModel& model, Actions actions, QWidget* parent = nullptr);

    void setVisiblePhotos(const QList<Photo>& visible);
    void setQuery(const QString& query);
    // Reads the model again.
    void refresh();
    const State& state() const { return m_state; }

    GallerySearchField* searchField() const { return m_search; }
    QMenu* lineActions() const { return m_lineMenu; }
    QAction* hangAction() const { return m_hang; }
    QAction* takeDownAction() const { return m_takeDown; }
    // The control of a label ("全选", "查看", "属性", ...), for tests and hints.
    QAbstractButton* button(const QString& label) const;

Q_SIGNALS:
    void queryEdited(const QString& query);

private:
    ToolbarIcon* iconButton(const QString& symbol, const QString& label, const QString& shortcut);
    QFrame* divider();

    GalleryModel& m_model;
    Actions m_actions;
    QList<Photo> m_visible;
    State m_state;
    QLabel* m_count;
    ToolbarButton* m_selectAll;
    QFrame* m_selectionDivider;
    ToolbarIcon* m_view;
    ToolbarIcon* m_copy;
    ToolbarIcon* m_selectionProperties;
    ToolbarIcon* m_trash;
    QToolButton* m_lineButton;
    QMenu* m_lineMenu;
    QAction* m_hang;
    QAction* m_takeDown;
    GallerySearchField* m_search;
    ToolbarIcon* m_properties;
    ToolbarIcon* m_rope;
    ToolbarIcon* m_settings;
    QList<QAbstractButton*> m_buttons;
};

} // namespace vennimo
