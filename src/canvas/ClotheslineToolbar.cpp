#include "canvas/ClotheslineToolbar.h"

#include "canvas/WindowMoveArea.h"
#include "model/GalleryModel.h"
#include "widgets/ClotheslineToolbarButtonStyle.h"
#include "widgets/ClotheslineToolbarGeometry.h"
#include "widgets/HoverHint.h"
#include "widgets/TailCutLabel.h"
#include "widgets/ToolbarIcon.h"
#include "widgets/ToolbarSymbol.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <algorithm>

namespace vennimo {

namespace {

using Style = ClotheslineToolbarButtonStyle;

constexpr double kTitlePixels = 17;
constexpr double kCountPixels = 11;
constexpr double kSelectionCountPixels = 12;
constexpr double kCollapseSymbolPixels = 10;
constexpr int kCollapseFrame = 20;
constexpr int kLogoFrame = 25;
constexpr double kLogoSymbolPixels = 18;
constexpr int kDividerHeight = 18;
constexpr int kTitleVerticalPadding = 6;
constexpr int kTitleTrailingPadding = 16;
const QColor kLogoColour = QColor::fromRgbF(0.53f, 0.37f, 0.22f);
// The regular material of a light appearance, without the blur an X desktop cannot give.
const QColor kMaterial = QColor(246, 246, 246, 238);

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// A symbol in a fixed frame, taking no clicks.
class SymbolView : public QWidget {
public:
    SymbolView(const QString& symbol, QSize frame, double pixels, QColor colour, QWidget* parent)
        : QWidget(parent)
        , m_symbol(symbol)
        , m_pixels(pixels)
        , m_colour(colour) {
        setFixedSize(frame);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        ToolbarSymbol::paint(painter, m_symbol, QRectF(rect()), m_pixels, m_colour, 1.1);
    }

private:
    QString m_symbol;
    double m_pixels;
    QColor m_colour;
};

// The collapse button: a bold chevron in a 20 x 20 frame.
class CollapseButton : public ToolbarButton {
public:
    explicit CollapseButton(QWidget* parent)
        : ToolbarButton(QString(), parent) {}

protected:
    QSize labelSize() const override { return {kCollapseFrame, kCollapseFrame}; }
    void paintLabel(QPainter& painter, const QRectF& rect) override {
        ToolbarSymbol::paint(painter, QStringLiteral("chevron.down"), rect, kCollapseSymbolPixels,
                             Style::labelColor(isEnabled()), 1.9);
    }
};

class Divider : public QWidget {
public:
    explicit Divider(QWidget* parent)
        : QWidget(parent) {
        setFixedSize(1, kDividerHeight);
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), QColor(0, 0, 0, 36)); }
};

template <typename Label = QLabel>
QLabel* label(const QString& content, double pixels, QFont::Weight weight, QColor colour, QWidget* parent) {
    auto* result = new Label(content, parent);
    result->setFont(Style::font(pixels, weight));
    QPalette palette = result->palette();
    palette.setColor(QPalette::WindowText, colour);
    result->setPalette(palette);
    return result;
}

QHBoxLayout* row(QWidget* owner, int spacing) {
    auto* layout = new QHBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    layout->setAlignment(Qt::AlignVCenter);
    return layout;
}

// A row with nothing shown in it measures nothing.
void fitRow(QWidget* group) {
    bool any = false;
    for (QWidget* child : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        any = any || !child->isHidden();
    group->setVisible(any);
    group->adjustSize();
}

} // namespace

ClotheslineToolbar::ClotheslineToolbar(GalleryModel& model, Actions actions, QWidget* parent)
    : QWidget(parent)
    , m_model(&model)
    , m_actions(std::move(actions)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setContentsMargins(0, kTopPadding, 0, kShadowRoom);
    m_layout = new ClotheslineToolbarLayout(this);
    m_capsule = new QWidget(this);
    m_capsule->setAttribute(Qt::WA_TransparentForMouseEvents);
    // The capsule and its shadow are drawn here, so every step of its spring repaints.
    m_capsule->installEventFilter(this);
    m_layout->addWidget(m_capsule);
    m_layout->addWidget(buildTitleGroup());
    m_layout->addWidget(buildSelectionGroup());
    m_toggle = new ToolbarButton(text("全选"), this);
    m_toggle->setObjectName(QLatin1String(kSelectionToggleName));
    m_toggle->setReservedTexts({text("全选"), text("取消")});
    m_toggleHint = new HoverHint(m_toggle, QString());
    m_layout->addWidget(m_toggle);
    m_layout->addWidget(buildActionsGroup());
    m_layout->addWidget(buildWindowGroup());
    setFixedHeight(kTopPadding + int(ClotheslineToolbarLayout::kBarHeight) + kShadowRoom);

    connect(m_toggle, &QAbstractButton::clicked, this, [this] {
        if (!m_model)
            return;
        if (m_state.selectAllApplies)
            m_model->toggleAllSelection(m_actions.hanging ? m_actions.hanging() : QList<Photo>());
        else
            m_model->endSelection();
        if (m_actions.focusContent)
            m_actions.focusContent();
    });

    for (const auto signal :
         {&GalleryModel::photosChanged, &GalleryModel::selectedIDsChanged, &GalleryModel::deletingChanged,
          &GalleryModel::importingChanged, &GalleryModel::copiedCountChanged,
          &GalleryModel::undoHistoryChanged, &GalleryModel::redoHistoryChanged, &GalleryModel::modelChanged})
        connect(&model, signal, this, &ClotheslineToolbar::scheduleRefresh);
    refresh();
}

QWidget* ClotheslineToolbar::buildTitleGroup() {
    auto* group = new QWidget(this);
    m_titleGroup = group;
    QHBoxLayout* layout = row(group, 8);
    m_collapse = new CollapseButton(group);
    m_collapse->setToolTip(text("收起"));
    m_collapse->setAccessibleName(text("收起晾衣绳"));
    connect(m_collapse, &QAbstractButton::clicked, this, [this] {
        if (m_actions.closeWindow)
            m_actions.closeWindow();
    });
    layout->addWidget(m_collapse);

    m_moveArea = new WindowMoveArea(group);
    m_moveArea->setToolTip(text("拖动以移动"));
    QHBoxLayout* title = row(m_moveArea, 8);
    title->setContentsMargins(0, kTitleVerticalPadding, kTitleTrailingPadding, kTitleVerticalPadding);
    auto* logo = new SymbolView(QStringLiteral("photo.on.rectangle.angled"), QSize(kLogoFrame, kLogoFrame),
                                kLogoSymbolPixels, kLogoColour, m_moveArea);
    logo->setAccessibleName(QString());
    title->addWidget(logo);
    title->addWidget(label(text("晾衣绳"), kTitlePixels, QFont::DemiBold, Qt::black, m_moveArea));
    // Should the title group ever get less room than it asks, the count gives way, never the title.
    m_count =
        label<TailCutLabel>(QString(), kCountPixels, QFont::Normal, Style::labelColor(false), m_moveArea);
    title->addWidget(m_count);
    layout->addWidget(m_moveArea);
    layout->addWidget(new Divider(group));
    layout->addStretch(1);
    return group;
}

void ClotheslineToolbar::fitTitleArea() {
    // The title group is 175 wide, which its contents at their natural widths overrun by a few
    // points: the trailing padding gives way first. What is still over (the import's longer count)
    // the group asks for, and the layout widens it and the capsule rather than cut the count.
    QLayout* title = m_moveArea->layout();
    title->setContentsMargins(0, kTitleVerticalPadding, kTitleTrailingPadding, kTitleVerticalPadding);
    // The group measures its rows from cached sizes until the posted layout request arrives; the
    // count's new text must count now.
    m_moveArea->updateGeometry();
    const int over = m_titleGroup->sizeHint().width() - int(ClotheslineToolbarGeometry::kLeadingWidth);
    title->setContentsMargins(0, kTitleVerticalPadding,
                              std::clamp(kTitleTrailingPadding - over, 0, kTitleTrailingPadding),
                              kTitleVerticalPadding);
}

QWidget* ClotheslineToolbar::buildSelectionGroup() {
    m_selectionGroup = new QWidget(this);
    QHBoxLayout* layout = row(m_selectionGroup, 6);
    m_cancel = new ToolbarButton(text("取消"), m_selectionGroup);
    connect(m_cancel, &QAbstractButton::clicked, this, [this] {
        if (m_model)
            m_model->endSelection();
        if (m_actions.focusContent)
            m_actions.focusContent();
    });
    m_selectionCount =
        label(QString(), kSelectionCountPixels, QFont::Normal, Style::labelColor(false), m_selectionGroup);
    m_view = new ToolbarIcon(QStringLiteral("eye"), text("查看"), text("空格"), m_selectionGroup);
    connect(m_view, &QAbstractButton::clicked, this, [this] {
        if (!m_model)
            return;
        const QList<Photo> selected = m_model->selectedPhotos();
        if (!selected.isEmpty() && m_actions.preview)
            m_actions.preview(selected.first());
    });
    m_copy = new ToolbarIcon(QStringLiteral("doc.on.doc"), text("复制"), QStringLiteral("Ctrl+C"),
                             m_selectionGroup);
    connect(m_copy, &QAbstractButton::clicked, this, [this] {
        if (m_model)
            m_model->copySelection();
    });
    m_undo = new ToolbarIcon(QStringLiteral("arrow.uturn.backward"), QString(), QStringLiteral("Ctrl+Z"),
                             m_selectionGroup);
    connect(m_undo, &QAbstractButton::clicked, this, [this] {
        if (m_model)
            m_model->undoRopeAction();
    });
    for (QWidget* widget :
         {static_cast<QWidget*>(m_cancel), static_cast<QWidget*>(m_selectionCount),
          static_cast<QWidget*>(m_view), static_cast<QWidget*>(m_copy), static_cast<QWidget*>(m_undo)})
        layout->addWidget(widget);
    return m_selectionGroup;
}

QWidget* ClotheslineToolbar::buildActionsGroup() {
    m_actionsGroup = new QWidget(this);
    QHBoxLayout* layout = row(m_actionsGroup, 6);
    m_takeDown = new ToolbarIcon(QStringLiteral("minus.circle"), text("取下"), QStringLiteral("Delete"),
                                 m_actionsGroup);
    connect(m_takeDown, &QAbstractButton::clicked, this, [this] {
        if (m_model)
            m_model->takeDownSelection();
    });
    m_delete =
        new ToolbarIcon(QStringLiteral("trash"), text("删除"), QStringLiteral("Ctrl+Delete"), m_actionsGroup);
    m_delete->setDestructive(true);
    connect(m_delete, &QAbstractButton::clicked, this, [this] {
        if (m_model)
            m_model->confirmTrash(m_model->selectedPhotos());
    });
    m_properties = new ToolbarIcon(QStringLiteral("info.circle"), text("属性"), QStringLiteral("Ctrl+I"),
                                   m_actionsGroup);
    connect(m_properties, &QAbstractButton::clicked, this, [this] {
        if (m_model)
            m_model->showProperties(std::nullopt);
    });
    layout->addWidget(m_takeDown);
    layout->addWidget(m_delete);
    layout->addWidget(m_properties);
    return m_actionsGroup;
}

QWidget* ClotheslineToolbar::buildWindowGroup() {
    auto* group = new QWidget(this);
    QHBoxLayout* layout = row(group, 6);
    m_normalWindow = new ToolbarButton(text("普通窗口"), group);
    connect(m_normalWindow, &QAbstractButton::clicked, this, [this] {
        if (m_actions.switchToNormal)
            m_actions.switchToNormal();
    });
    m_settings = new ToolbarIcon(QStringLiteral("gearshape"), text("设置"), QStringLiteral("Ctrl+,"), group);
    connect(m_settings, &QAbstractButton::clicked, this, [this] {
        if (m_actions.openSettings)
            m_actions.openSettings();
    });
    layout->addWidget(m_normalWindow);
    layout->addWidget(m_settings);
    return group;
}

void ClotheslineToolbar::setMover(std::function<bool(QPointF)> mover) {
    m_moveArea->setMover(std::move(mover));
}

void ClotheslineToolbar::scheduleRefresh() {
    if (m_refreshScheduled)
        return;
    m_refreshScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_refreshScheduled = false;
        refresh();
    });
}

void ClotheslineToolbar::refresh() {
    if (!m_model)
        return;
    GalleryModel& model = *m_model;
    const QList<Photo> hanging = m_actions.hanging ? m_actions.hanging() : QList<Photo>();
    const QSet<QString>& selection = model.selectedIDs();
    State s;
    s.hanging = int(hanging.size());
    s.selected = int(selection.size());
    s.allSelected = !hanging.isEmpty() && std::all_of(hanging.cbegin(), hanging.cend(), [&](const Photo& p) {
        return selection.contains(p.id);
    });
    s.selectAllApplies = !s.allSelected && s.hanging > 1;
    s.busy = model.deleting() || model.importing();
    s.locked = s.busy || model.exhibitionBlocked();
    m_state = s;
    const bool any = s.selected > 0;
    const bool canUndo = model.canUndoRopeAction();

    // The spring plays when a selection comes or goes, an undo appears or goes, or S changes.
    if (any != m_hadSelection || canUndo != m_hadUndo || s.selected != m_lastSelected)
        m_layout->animateNextChange();
    m_hadSelection = any;
    m_hadUndo = canUndo;
    m_lastSelected = s.selected;

    m_count->setText(model.importing() ? text("正在挂上…") : QString::number(s.hanging) + text(" 张"));
    fitTitleArea();

    m_cancel->setVisible(any && s.selectAllApplies);
    m_cancel->setEnabled(!s.busy);
    m_selectionCount->setVisible(any);
    m_selectionCount->setText(text("已选 ") + QString::number(s.selected));
    m_view->setVisible(any);
    m_view->setEnabled(!model.deleting());
    m_copy->setVisible(any);
    m_copy->setEnabled(!s.locked);
    const bool copied = model.copiedCount() > 0;
    m_copy->setSymbol(copied ? QStringLiteral("checkmark") : QStringLiteral("doc.on.doc"));
    m_copy->setLabel(copied ? text("已复制") : text("复制"));
    m_undo->setVisible(canUndo);
    if (canUndo)
        m_undo->setLabel(model.ropeUndoTitle());

    m_toggle->setVisible(s.hanging >= 2 || any);
    m_toggle->setText(s.selectAllApplies ? text("全选") : text("取消"));
    m_toggle->setEnabled(!(s.busy || (model.exhibitionBlocked() && s.selectAllApplies)));
    m_toggleHint->setText(ToolbarIcon::hintText(s.selectAllApplies ? text("全选") : text("取消全选"),
                                                QStringLiteral("Ctrl+A")));

    m_takeDown->setVisible(any);
    m_takeDown->setEnabled(!s.locked);
    m_delete->setVisible(any);
    m_delete->setEnabled(!s.locked);
    m_delete->setBusy(model.deleting());
    m_properties->setVisible(any);
    m_properties->setEnabled(!model.deleting());

    m_normalWindow->setEnabled(!s.busy);
    m_settings->setEnabled(!model.deleting());

    fitRow(m_selectionGroup);
    fitRow(m_actionsGroup);
    m_layout->invalidate();
    m_layout->activate();
    update();
}

bool ClotheslineToolbar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_capsule && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        update();
    return QWidget::eventFilter(watched, event);
}

void ClotheslineToolbar::paintEvent(QPaintEvent*) {
    const QRectF capsule = QRectF(m_capsule->geometry()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (capsule.isEmpty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double radius = capsule.height() / 2;
    // A soft shadow: rings of falling strength around the capsule, moved down.
    constexpr int kRings = 6;
    painter.setPen(Qt::NoPen);
    for (int i = kRings; i >= 1; --i) {
        const double spread = kShadowRadius * i / kRings;
        const QRectF ring = capsule.translated(0, kShadowOffset).adjusted(-spread, -spread, spread, spread);
        painter.setBrush(QColor::fromRgbF(0, 0, 0, float(kShadowOpacity / kRings * 0.9)));
        painter.drawRoundedRect(ring, radius + spread, radius + spread);
    }
    painter.setBrush(kMaterial);
    painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, float(kCapsuleStrokeOpacity)), 1));
    painter.drawRoundedRect(capsule, radius, radius);
}

} // namespace vennimo
