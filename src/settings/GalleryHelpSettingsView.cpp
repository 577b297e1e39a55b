#include "settings/GalleryHelpSettingsView.h"

#include "settings/AlwaysVisibleScrollerView.h"
#include "settings/DragHelpIntentCard.h"
#include "settings/SettingsStyle.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace vennimo {

namespace {

constexpr int kSecondPairIndent = 24;

} // namespace

const QList<GalleryHelpSettingsView::KeyAction>& GalleryHelpSettingsView::keys() {
    // The keys as this desktop's users press them: Ctrl where the gallery answers Command elsewhere.
    static const QList<KeyAction> table{
        {"单击 / 双击", "选择 / 大图"},
        {"Ctrl+A", "全选"},
        {"空格", "预览（可设置）"},
        {"← →", "翻页 / 相邻照片"},
        {"Ctrl+C", "复制"},
        {"Ctrl+I", "属性"},
        {"Delete", "取下"},
        {"Ctrl+Delete", "删除"},
        {"Ctrl+Z  Ctrl+Shift+Z", "撤销 / 重做"},
        {"Esc", "取消拖动 / 选择"},
    };
    return table;
}

QList<QList<GalleryHelpSettingsView::KeyAction>> GalleryHelpSettingsView::keyRows() {
    QList<QList<KeyAction>> rows;
    for (qsizetype i = 0; i < keys().size(); i += 2)
        rows.append(keys().mid(i, 2));
    return rows;
}

GalleryHelpSettingsView::GalleryHelpSettingsView(QWidget* parent)
    : QWidget(parent) {
    m_content = new QWidget;
    auto* column = new QVBoxLayout(m_content);
    column->setContentsMargins(16, 14, 16, 14);
    column->setSpacing(12);
    column->addWidget(SettingsStyle::heading(QStringLiteral("拖动")));

    // Both cards share the width and take the taller one's height.
    auto* cards = new QHBoxLayout;
    cards->setSpacing(14);
    cards->addWidget(new DragHelpIntentCard(false, true, m_content), 1);
    cards->addWidget(new DragHelpIntentCard(true, true, m_content), 1);
    column->addLayout(cards);

    QLabel* keysHeading = SettingsStyle::heading(QStringLiteral("快捷键"));
    keysHeading->setContentsMargins(0, 4, 0, 0);
    column->addWidget(keysHeading);
    auto* table = new QGridLayout;
    table->setHorizontalSpacing(12);
    table->setVerticalSpacing(7);
    const QList<QList<KeyAction>> rows = keyRows();
    for (int r = 0; r < rows.size(); ++r) {
        for (int p = 0; p < rows[r].size(); ++p) {
            QLabel* key = SettingsStyle::label(rows[r][p].first, SettingsStyle::monospaced(12),
                                               SettingsStyle::secondary(), m_content);
            key->setContentsMargins(p == 0 ? 0 : kSecondPairIndent, 0, 0, 0);
            table->addWidget(key, r, p * 2);
            table->addWidget(SettingsStyle::label(rows[r][p].second, SettingsStyle::font(12), {}, m_content),
                             r, p * 2 + 1);
        }
    }
    table->setColumnStretch(1, 1);
    table->setColumnStretch(3, 1);
    column->addLayout(table);
    QLabel* note = SettingsStyle::label(QStringLiteral("删除：本地文件进废纸篓。"), SettingsStyle::font(11),
                                        SettingsStyle::secondary(), m_content);
    note->setContentsMargins(0, 2, 0, 0);
    note->setWordWrap(true);
    column->addWidget(note);
    column->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new AlwaysVisibleScrollerView(m_content, this));
}

} // namespace vennimo
