#include "settings/GeneralSettingsView.h"

#include "platform/Bookmark.h"
#include "settings/GallerySettingsEditor.h"
#include "settings/GallerySettingsServices.h"
#include "settings/SettingsStyle.h"
#include "settings/SettingsSwitch.h"
#include "settings/SettingsSymbol.h"

#include <QAbstractItemView>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

namespace vennimo {

namespace {

constexpr int kFormMargin = 20;
constexpr int kSectionSpacing = 14;
constexpr int kRowSpacing = 10;
constexpr double kFolderSymbolPixels = 16;
// Between two folder rows, split above and below each.
constexpr int kRowGap = 8;
// Rows the list shows before it scrolls.
constexpr int kMaxShownRows = 4;

// A grouped form's section: a softly filled, rounded plate.
QFrame* sectionPlate(QWidget* parent) {
    auto* plate = new QFrame(parent);
    plate->setObjectName(QStringLiteral("settingsSection"));
    plate->setStyleSheet(QStringLiteral("#settingsSection { background: rgba(255, 255, 255, 150); "
                                        "border: 1px solid rgba(0, 0, 0, 22); border-radius: 8px; }"));
    return plate;
}

QWidget* switchRow(const QString& text, SettingsSwitch* toggle, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(12, 6, 12, 6);
    layout->addWidget(SettingsStyle::label(text, SettingsStyle::font(SettingsStyle::kBodyPixels)));
    layout->addStretch();
    toggle->setAccessibleName(text);
    layout->addWidget(toggle);
    return row;
}

// A folder row whose context menu offers re-authorisation.
class FolderRow : public QWidget {
public:
    FolderRow(std::function<void()> reauthorize, QWidget* parent)
        : QWidget(parent)
        , m_reauthorize(std::move(reauthorize)) {}

protected:
    void contextMenuEvent(QContextMenuEvent* event) override {
        QMenu menu(this);
        menu.addAction(QStringLiteral("重新授权…"), this, [this] { m_reauthorize(); });
        menu.exec(event->globalPos());
    }

private:
    std::function<void()> m_reauthorize;
};

// The list's rows are widgets of their own while they show; the view only keeps their room.
class FolderRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter*, const QStyleOptionViewItem&, const QModelIndex&) const override {}
};

// Calls back when the watched widget changes size.
class ResizeWatcher : public QObject {
public:
    ResizeWatcher(std::function<void()> resized, QObject* parent)
        : QObject(parent)
        , m_resized(std::move(resized)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize || event->type() == QEvent::Show)
            m_resized();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_resized;
};

} // namespace

GeneralSettingsView::Panels GeneralSettingsView::Panels::standard() {
    Panels panels;
    panels.chooseFolders = [](const QString& title, const QString& prompt) {
        QFileDialog dialog(nullptr, title);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        dialog.setOption(QFileDialog::ReadOnly);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setLabelText(QFileDialog::Accept, prompt);
        // Several folders at once: the non-native dialog's list allows a multiple selection.
        for (QAbstractItemView* view : dialog.findChildren<QAbstractItemView*>())
            view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
    };
    panels.chooseFolder = [](const QString& title, const QString& prompt,
                             const QString& directory) -> std::optional<QString> {
        QFileDialog dialog(nullptr, title, directory);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        dialog.setLabelText(QFileDialog::Accept, prompt);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().constFirst();
    };
    return panels;
}

GeneralSettingsView::GeneralSettingsView(GallerySettingsEditor& editor, QWidget* parent)
    : QWidget(parent)
    , m_editor(editor)
    , m_panels(Panels::standard())
    , m_draftIssues(editor.services().sourceIssues()) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(kFormMargin, kFormMargin, kFormMargin, kFormMargin);
    column->setSpacing(6);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(4, 0, 0, 0);
    header->addWidget(SettingsStyle::label(QStringLiteral("源文件夹"),
                                           SettingsStyle::font(SettingsStyle::kBodyPixels, QFont::DemiBold)));
    header->addWidget(SettingsStyle::label(QStringLiteral("含子文件夹"),
                                           SettingsStyle::font(SettingsStyle::kCaptionPixels),
                                           SettingsStyle::secondary()));
    header->addStretch();
    column->addLayout(header);
    QFrame* folders = sectionPlate(this);
    auto* rows = new QVBoxLayout(folders);
    rows->setContentsMargins(12, 8 - kRowGap / 2, 12, 8 - kRowGap / 2);
    m_noFolders = SettingsStyle::label(QStringLiteral("还没有源文件夹"),
                                       SettingsStyle::font(SettingsStyle::kBodyPixels),
                                       SettingsStyle::secondary(), folders);
    rows->addWidget(m_noFolders);
    m_folders = new QStandardItemModel(this);
    m_list = new QListView(folders);
    m_list->setModel(m_folders);
    m_list->setItemDelegate(new FolderRowDelegate(m_list));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setFocusPolicy(Qt::NoFocus);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setStyleSheet(QStringLiteral("QListView { background: transparent; }"));
    rows->addWidget(m_list);
    connect(m_list->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &GeneralSettingsView::showVisibleRows);
    m_list->viewport()->installEventFilter(new ResizeWatcher([this] { showVisibleRows(); }, m_list));
    column->addWidget(folders);
    auto* footer = new QHBoxLayout;
    auto* restore = new QPushButton(QStringLiteral("恢复默认"), this);
    auto* add = new QPushButton(QStringLiteral("添加文件夹…"), this);
    for (QPushButton* button : {restore, add})
        button->setFont(SettingsStyle::font(SettingsStyle::kCaptionPixels));
    connect(restore, &QPushButton::clicked, this, &GeneralSettingsView::restoreDefaults);
    connect(add, &QPushButton::clicked, this, &GeneralSettingsView::chooseFolders);
    footer->addWidget(restore);
    footer->addStretch();
    footer->addWidget(add);
    column->addLayout(footer);
    column->addSpacing(kSectionSpacing);

    QFrame* switches = sectionPlate(this);
    auto* switchColumn = new QVBoxLayout(switches);
    switchColumn->setContentsMargins(0, 4, 0, 4);
    m_alwaysOnTop = new SettingsSwitch(SettingsSwitch::Size::regular, this);
    m_login = new SettingsSwitch(SettingsSwitch::Size::regular, this);
    switchColumn->addWidget(switchRow(QStringLiteral("窗口置顶"), m_alwaysOnTop, switches));
    switchColumn->addWidget(SettingsStyle::divider(switches));
    switchColumn->addWidget(switchRow(QStringLiteral("登录时启动"), m_login, switches));
    connect(m_alwaysOnTop, &SettingsSwitch::clicked, this, [this](bool on) {
        GallerySettingsValues draft = m_editor.draft();
        draft.alwaysOnTop = on;
        m_editor.setDraft(draft);
    });
    connect(m_login, &SettingsSwitch::clicked, this, [this](bool on) {
        GallerySettingsValues draft = m_editor.draft();
        draft.login = on;
        m_editor.setDraft(draft);
    });
    column->addWidget(switches);
    column->addSpacing(kSectionSpacing);

    QFrame* updates = sectionPlate(this);
    auto* updateRow = new QHBoxLayout(updates);
    updateRow->setContentsMargins(12, 6, 12, 6);
    updateRow->addWidget(
        SettingsStyle::label(QStringLiteral("软件更新"), SettingsStyle::font(SettingsStyle::kBodyPixels)));
    updateRow->addStretch();
    auto* check = new QPushButton(QStringLiteral("检查更新…"), updates);
    connect(check, &QPushButton::clicked, this, [this] { m_editor.services().checkForUpdates(); });
    updateRow->addWidget(check);
    column->addWidget(updates);
    column->addStretch();

    connect(&m_editor, &GallerySettingsEditor::draftChanged, this, [this] {
        recomputeIssues();
        refresh();
    });
    refresh();
}

void GeneralSettingsView::recomputeIssues() {
    const QHash<QString, QString> issues = m_editor.services().sourceIssues();
    m_draftIssues.clear();
    for (const SourceFolder& folder : m_editor.draft().folders) {
        if (issues.contains(folder.id))
            m_draftIssues.insert(folder.id, issues.value(folder.id));
    }
}

void GeneralSettingsView::refresh() {
    {
        const QSignalBlocker a(m_alwaysOnTop);
        const QSignalBlocker b(m_login);
        m_alwaysOnTop->setChecked(m_editor.draft().alwaysOnTop);
        m_login->setChecked(m_editor.draft().login);
    }
    rebuildRows();
}

void GeneralSettingsView::rebuildRows() {
    // Clearing the model lets go of the row widgets too (after this turn, since one of them may
    // be the switch whose click brought us here).
    m_folders->clear();
    m_rowsWithWidgets.clear();
    const QList<SourceFolder>& folders = m_editor.draft().folders;
    m_noFolders->setVisible(folders.isEmpty());
    m_list->setVisible(!folders.isEmpty());
    if (!m_rowHeight) {
        // Rows are as tall as their widgets want, measured once on a sample of each kind.
        SourceFolder sample;
        sample.id = QStringLiteral("sample");
        sample.path = QStringLiteral("/sample");
        const std::unique_ptr<QWidget> plain(folderRow(sample));
        m_draftIssues.insert(sample.id, QStringLiteral("sample"));
        const std::unique_ptr<QWidget> troubled(folderRow(sample));
        m_draftIssues.remove(sample.id);
        m_rowHeight = plain->sizeHint().height();
        m_issueRowHeight = troubled->sizeHint().height();
    }
    int shownHeight = 0;
    for (qsizetype i = 0; i < folders.size(); ++i) {
        auto* item = new QStandardItem;
        const int height = m_draftIssues.contains(folders[i].id) ? m_issueRowHeight : m_rowHeight;
        item->setSizeHint(QSize(0, height));
        m_folders->appendRow(item);
        if (i < kMaxShownRows)
            shownHeight += height;
    }
    // A short list shows whole; a long one scrolls inside its plate.
    m_list->setFixedHeight(shownHeight);
    m_list->setVerticalScrollBarPolicy(folders.size() > kMaxShownRows ? Qt::ScrollBarAsNeeded
                                                                      : Qt::ScrollBarAlwaysOff);
    showVisibleRows();
}

void GeneralSettingsView::showVisibleRows() {
    const QList<SourceFolder>& folders = m_editor.draft().folders;
    const int count = m_folders->rowCount();
    const QRect visible = m_list->viewport()->rect();
    const QModelIndex top = m_list->indexAt(visible.topLeft());
    const QModelIndex bottom = m_list->indexAt(visible.bottomLeft());
    const int first = top.isValid() ? top.row() : 0;
    const int last = bottom.isValid() ? bottom.row() : count - 1;
    // Rows that scrolled away let go of their widgets; the rows in view get theirs.
    for (auto row = m_rowsWithWidgets.begin(); row != m_rowsWithWidgets.end();) {
        if (*row < first || *row > last || *row >= count) {
            if (*row < count)
                m_list->setIndexWidget(m_folders->index(*row, 0), nullptr);
            row = m_rowsWithWidgets.erase(row);
        } else {
            ++row;
        }
    }
    for (int row = first; row <= last && row < count; ++row) {
        if (m_rowsWithWidgets.contains(row))
            continue;
        if (row < folders.size()) {
            m_list->setIndexWidget(m_folders->index(row, 0), folderRow(folders[row]));
            m_rowsWithWidgets.insert(row);
        }
    }
}

QWidget* GeneralSettingsView::folderRow(const SourceFolder& folder) {
    auto* row = new FolderRow([this, folder] { reauthorize(folder); }, nullptr);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, kRowGap / 2, 0, kRowGap / 2);
    layout->setSpacing(kRowSpacing);
    auto* symbol = new QLabel(row);
    symbol->setPixmap(
        SettingsSymbol::pixmap(QStringLiteral("folder.fill"), kFolderSymbolPixels,
                               folder.enabled ? SettingsStyle::accent() : SettingsStyle::secondary()));
    layout->addWidget(symbol);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(
        SettingsStyle::label(folder.name(), SettingsStyle::font(SettingsStyle::kBodyPixels), {}, row));
    QLabel* path = SettingsStyle::label(QString(), SettingsStyle::font(SettingsStyle::kCaptionPixels),
                                        SettingsStyle::secondary(), row);
    path->setText(path->fontMetrics().elidedText(folder.path, Qt::ElideMiddle, 330));
    // A tip reads its text as markup when it looks like markup; the path goes in escaped.
    path->setToolTip(Qt::convertFromPlainText(folder.path));
    path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    texts->addWidget(path);
    if (m_draftIssues.contains(folder.id))
        texts->addWidget(SettingsStyle::label(m_draftIssues.value(folder.id),
                                              SettingsStyle::font(SettingsStyle::kCaptionPixels),
                                              SettingsStyle::warning(), row));
    layout->addLayout(texts);
    layout->addStretch();
    if (m_draftIssues.contains(folder.id)) {
        auto* again = new QPushButton(QStringLiteral("重新授权…"), row);
        again->setFont(SettingsStyle::font(SettingsStyle::kCaptionPixels));
        connect(again, &QPushButton::clicked, this, [this, folder] { reauthorize(folder); });
        layout->addWidget(again);
    }
    auto* toggle = new SettingsSwitch(SettingsSwitch::Size::mini, row);
    toggle->setChecked(folder.enabled);
    toggle->setAccessibleName(QStringLiteral("收录 ") + folder.name());
    toggle->setToolTip(QStringLiteral("收录"));
    connect(toggle, &SettingsSwitch::clicked, this,
            [this, folder](bool on) { setFolderEnabled(folder, on); });
    layout->addWidget(toggle);
    auto* remove = new QToolButton(row);
    remove->setAutoRaise(true);
    remove->setIcon(SettingsSymbol::icon(QStringLiteral("minus.circle"), 16, SettingsStyle::secondary()));
    remove->setToolTip(QStringLiteral("移除（不删除文件）"));
    remove->setAccessibleName(QStringLiteral("移除 ") + folder.name());
    connect(remove, &QToolButton::clicked, this, [this, folder] { this->remove(folder); });
    layout->addWidget(remove);
    return row;
}

void GeneralSettingsView::setFolderEnabled(const SourceFolder& folder, bool enabled) {
    GallerySettingsValues draft = m_editor.draft();
    for (SourceFolder& listed : draft.folders) {
        if (listed.id == folder.id) {
            listed.enabled = enabled;
            m_editor.setDraft(draft);
            return;
        }
    }
}

void GeneralSettingsView::remove(const SourceFolder& folder) {
    // Only the list entry goes; nothing on disk is touched.
    GallerySettingsValues draft = m_editor.draft();
    draft.folders.removeIf([&](const SourceFolder& listed) { return listed.id == folder.id; });
    m_draftIssues.remove(folder.id);
    m_editor.setDraft(draft);
}

void GeneralSettingsView::restoreDefaults() {
    GallerySettingsValues draft = m_editor.draft();
    draft.folders = m_editor.services().defaultFolders();
    m_editor.setDraft(draft);
    recomputeIssues();
    m_editor.setMessage(std::nullopt);
    refresh();
}

void GeneralSettingsView::chooseFolders() {
    if (!m_panels.chooseFolders)
        return;
    const QStringList chosen =
        m_panels.chooseFolders(QStringLiteral("添加图片源文件夹"), QStringLiteral("添加"));
    if (chosen.isEmpty())
        return;
    const Result<QList<SourceFolder>> added =
        m_editor.services().addingFolders(chosen, m_editor.draft().folders);
    if (!added) {
        m_editor.setMessage(QStringLiteral("无法添加源文件夹：") + added.error().localizedDescription());
        return;
    }
    GallerySettingsValues draft = m_editor.draft();
    draft.folders = *added;
    m_editor.setMessage(std::nullopt);
    m_editor.setDraft(draft);
}

void GeneralSettingsView::reauthorize(const SourceFolder& shown) {
    // The caller's folder may live in the draft that this replaces.
    const SourceFolder folder = shown;
    if (!m_panels.chooseFolder)
        return;
    const std::optional<QString> chosen = m_panels.chooseFolder(QStringLiteral("重新选择 ") + folder.name(),
                                                                QStringLiteral("使用此文件夹"), folder.path);
    if (!chosen || chosen->isEmpty())
        return;
    GallerySettingsValues draft = m_editor.draft();
    const auto listed = std::find_if(draft.folders.begin(), draft.folders.end(),
                                     [&](const SourceFolder& f) { return f.id == folder.id; });
    if (listed != draft.folders.end()) {
        const QString path = QDir::cleanPath(*chosen);
        const Result<QByteArray> bookmark = Bookmark::create(path);
        if (!bookmark) {
            m_editor.setMessage(QStringLiteral("无法重新授权：") + bookmark.error().localizedDescription());
            return;
        }
        SourceFolder replaced;
        replaced.id = folder.id;
        replaced.path = path;
        replaced.bookmark = *bookmark;
        replaced.enabled = folder.enabled;
        // Another folder is no longer the built-in one it replaced.
        if (path == QDir::cleanPath(listed->path))
            replaced.kind = listed->kind;
        *listed = replaced;
        m_editor.setDraft(draft);
    }
    m_draftIssues.remove(folder.id);
    m_editor.setMessage(std::nullopt);
    rebuildRows();
}

} // namespace vennimo
