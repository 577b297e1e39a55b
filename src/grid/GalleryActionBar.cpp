#include "grid/GalleryActionBar.h"

#include "grid/GallerySearchField.h"
#include "grid/GridSymbol.h"
#include "model/GalleryModel.h"
#include "widgets/ClotheslineToolbarButtonStyle.h"
#include "widgets/HoverHint.h"
#include "widgets/ToolbarButton.h"
#include "widgets/ToolbarIcon.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QToolButton>

namespace vennimo {

namespace {

QIcon symbolIcon(const QString& symbol, double size, const QColor& colour, double dpr) {
    QPixmap pixmap{QSize(int(size), int(size)) * dpr};
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    GridSymbol::paint(painter, symbol, QRectF(0, 0, size, size), size, colour);
    return QIcon(pixmap);
}

QString hint(const QString& label, const QString& shortcut) {
    return ToolbarIcon::hintText(label, shortcut.isEmpty() ? std::nullopt : std::optional<QString>(shortcut));
}

} // namespace

GalleryActionBar::State GalleryActionBar::State::of(GalleryModel& model, const QList<Photo>& visible) {
    State state;
    const bool deleting = model.deleting();
    const bool busy = model.isBusy();
    state.selectionMode = model.selectionMode();
    state.selectedCount = model.selectedIDs().size();
    state.copiedCount = model.copiedCount();
    const bool any = state.selectedCount > 0;
    state.selectAll = !busy;
    state.view = any && !deleting;
    state.copy = any && !busy;
    state.properties = state.selectionMode ? any && !deleting : visible.size() == 1 && !deleting;
    state.trash = any && !busy;
    state.trashBusy = deleting;
    // The first selected photo that hangs enables the take-down, the first that does not the hang.
    if (!busy) {
        for (const Photo& photo : model.selectedPhotos()) {
            (model.hangs(photo) ? state.takeDown : state.hang) = true;
            if (state.hang && state.takeDown)
                break;
        }
    }
    state.rope = !deleting && !model.importing();
    state.settings = !deleting;
    return state;
}

QString GalleryActionBar::State::copySymbol() const {
    return copiedCount > 0 ? QStringLiteral("checkmark") : QStringLiteral("doc.on.doc");
}

QString GalleryActionBar::State::copyLabel() const {
    if (copiedCount >= 1)
        return QString::fromUtf8("已复制 ") + QString::number(copiedCount) + QString::fromUtf8(" 张");
    return QString::fromUtf8("复制");
}

GalleryActionBar::GalleryActionBar(GalleryModel& model, Actions actions, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_actions(std::move(actions)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(kSpacing);

    m_count = new QLabel(this);
    m_count->setFont(ClotheslineToolbarButtonStyle::font(12));
    m_count->setForegroundRole(QPalette::PlaceholderText);
    m_count->setContentsMargins(0, 0, 4, 0);
    row->addWidget(m_count);

    m_selectAll = new ToolbarButton(QString::fromUtf8("全选"), this);
    m_selectAll->setAccessibleName(QString::fromUtf8("全选"));
    new HoverHint(m_selectAll, hint(QString::fromUtf8("全选"), QStringLiteral("Ctrl+A")));
    m_buttons.append(m_selectAll);
    row->addWidget(m_selectAll);
    m_selectionDivider = divider();
    row->addWidget(m_selectionDivider);

    m_view = iconButton(QStringLiteral("eye"), QString::fromUtf8("查看"), QString::fromUtf8("空格"));
    m_copy = iconButton(QStringLiteral("doc.on.doc"), QString::fromUtf8("复制"), QStringLiteral("Ctrl+C"));
    m_selectionProperties =
        iconButton(QStringLiteral("info.circle"), QString::fromUtf8("属性"), QStringLiteral("Ctrl+I"));
    m_trash = iconButton(QStringLiteral("trash"), QString::fromUtf8("删除"), QStringLiteral("Ctrl+Delete"));
    m_trash->setDestructive(true);
    for (QAbstractButton* button : {m_view, m_copy, m_selectionProperties, m_trash})
        row->addWidget(button);

    m_lineButton = new QToolButton(this);
    m_lineButton->setAutoRaise(true);
    m_lineButton->setPopupMode(QToolButton::InstantPopup);
    m_lineButton->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0; }"));
    m_lineButton->setIcon(symbolIcon(QStringLiteral("ellipsis.circle"), kMenuSymbolPixels,
                                     palette().color(QPalette::WindowText), devicePixelRatioF()));
    m_lineButton->setIconSize(QSize(int(kMenuSymbolPixels), int(kMenuSymbolPixels)));
    new HoverHint(m_lineButton, QString::fromUtf8("挂上 / 取下"));
    m_lineButton->setAccessibleName(QString::fromUtf8("挂上或取下"));
    m_lineMenu = new QMenu(this);
    m_hang = m_lineMenu->addAction(QString::fromUtf8("挂上所选照片"));
    m_takeDown = m_lineMenu->addAction(QString::fromUtf8("从晾衣绳取下所选照片"));
    m_lineButton->setMenu(m_lineMenu);
    row->addWidget(m_lineButton);

    m_search = new GallerySearchField(this);
    row->addWidget(m_search);
    m_properties =
        iconButton(QStringLiteral("info.circle"), QString::fromUtf8("属性"), QStringLiteral("Ctrl+I"));
    row->addWidget(m_properties);

    row->addWidget(divider());
    m_rope = iconButton(QStringLiteral("photo.on.rectangle.angled"), QString::fromUtf8("晾衣绳"), {});
    m_settings = iconButton(QStringLiteral("gearshape"), QString::fromUtf8("设置"), QStringLiteral("Ctrl+,"));
    row->addWidget(m_rope);
    row->addWidget(m_settings);

    connect(m_selectAll, &QAbstractButton::clicked, this, [this] {
        m_model.toggleAllSelection(m_visible);
        if (m_actions.focusContent)
            m_actions.focusContent();
    });
    connect(m_view, &QAbstractButton::clicked, this, [this] {
        const QList<Photo> selected = m_model.selectedPhotos();
        if (!selected.isEmpty() && m_actions.preview)
            m_actions.preview(selected.first());
    });
    connect(m_copy, &QAbstractButton::clicked, this, [this] { m_model.copySelection(); });
    connect(m_selectionProperties, &QAbstractButton::clicked, this, [this] { m_model.showProperties(); });
    connect(m_trash, &QAbstractButton::clicked, this,
            [this] { m_model.confirmTrash(m_model.selectedPhotos()); });
    connect(m_hang, &QAction::triggered, this,
            [this] { m_model.setHanging(m_model.selectedPhotos(), true, RopeHistoryRecording::record); });
    connect(m_takeDown, &QAction::triggered, this, [this] { m_model.takeDownSelection(); });
    connect(m_properties, &QAbstractButton::clicked, this, [this] {
        if (m_visible.size() == 1)
            m_model.showProperties(m_visible);
        else
            m_model.showProperties();
    });
    connect(m_rope, &QAbstractButton::clicked, this, [this] {
        if (m_actions.switchToClothesline)
            m_actions.switchToClothesline();
    });
    connect(m_settings, &QAbstractButton::clicked, this, [this] {
        if (m_actions.openSettings)
            m_actions.openSettings();
    });
    connect(m_search, &GallerySearchField::textChanged, this, &GalleryActionBar::queryEdited);

    for (auto signal :
         {&GalleryModel::selectionModeChanged, &GalleryModel::selectedIDsChanged,
          &GalleryModel::copiedCountChanged, &GalleryModel::deletingChanged, &GalleryModel::importingChanged,
          &GalleryModel::modelChanged, &GalleryModel::photosChanged})
        connect(&m_model, signal, this, &GalleryActionBar::refresh);
    refresh();
}

ToolbarIcon* GalleryActionBar::iconButton(const QString& symbol, const QString& label,
                                          const QString& shortcut) {
    auto* button = new ToolbarIcon(
        symbol, label, shortcut.isEmpty() ? std::nullopt : std::optional<QString>(shortcut), this);
    m_buttons.append(button);
    return button;
}

QFrame* GalleryActionBar::divider() {
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(kDividerHeight);
    line->setForegroundRole(QPalette::Mid);
    return line;
}

QAbstractButton* GalleryActionBar::button(const QString& label) const {
    for (QAbstractButton* button : m_buttons) {
        if (button->isVisibleTo(this) && button->accessibleName() == label)
            return button;
    }
    return nullptr;
}

void GalleryActionBar::setVisiblePhotos(const QList<Photo>& visible) {
    m_visible = visible;
    refresh();
}

void GalleryActionBar::setQuery(const QString& query) {
    m_search->setText(query);
}

void GalleryActionBar::refresh() {
    const State state = State::of(m_model, m_visible);
    const bool modeChanged = state.selectionMode != m_state.selectionMode;
    m_state = state;
    const bool selecting = state.selectionMode;
    for (QWidget* widget :
         std::initializer_list<QWidget*>{m_count, m_selectAll, m_selectionDivider, m_view, m_copy,
                                         m_selectionProperties, m_trash, m_lineButton})
        widget->setVisible(selecting);
    m_search->setVisible(!selecting);
    m_properties->setVisible(!selecting);

    m_count->setText(QString::fromUtf8("已选 ") + QString::number(state.selectedCount));
    m_selectAll->setEnabled(state.selectAll);
    m_view->setEnabled(state.view);
    m_copy->setEnabled(state.copy);
    m_copy->setLabel(state.copyLabel());
    m_copy->setSymbol(state.copySymbol());
    m_selectionProperties->setEnabled(state.properties);
    m_properties->setEnabled(state.properties);
    m_trash->setEnabled(state.trash);
    m_trash->setBusy(state.trashBusy);
    m_hang->setEnabled(state.hang);
    m_takeDown->setEnabled(state.takeDown);
    m_rope->setEnabled(state.rope);
    m_settings->setEnabled(state.settings);
    if (modeChanged)
        updateGeometry();
}

} // namespace vennimo
