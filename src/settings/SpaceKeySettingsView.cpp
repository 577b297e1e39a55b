#include "settings/SpaceKeySettingsView.h"

#include "platform/ApplicationLauncher.h"
#include "platform/DesktopApplications.h"
#include "settings/SettingsStyle.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

namespace vennimo {

namespace {

constexpr int kIconPixels = 16;

std::optional<QString> chooseWithPanel() {
    QFileDialog dialog(nullptr, QStringLiteral("选择打开照片的应用"),
                       QStringLiteral("/usr/share/applications"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("应用 (*.desktop)"));
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("选择"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

} // namespace

SpaceKeySettingsView::SpaceKeySettingsView(QWidget* parent)
    : QWidget(parent)
    , m_choose(chooseWithPanel) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    column->addWidget(SettingsStyle::heading(QStringLiteral("空格键打开方式")));
    auto* row = new QHBoxLayout;
    row->addWidget(SettingsStyle::label(QStringLiteral("选中照片后按空格"),
                                        SettingsStyle::font(SettingsStyle::kBodyPixels)));
    m_picker = new QComboBox(this);
    m_picker->setAccessibleName(QStringLiteral("选中照片后按空格"));
    m_picker->setMaximumWidth(kPickerMaxWidth);
    m_picker->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    row->addWidget(m_picker);
    row->addStretch();
    column->addLayout(row);
    QLabel* note = SettingsStyle::label(
        QStringLiteral("多选时会把所有选中的照片交给该应用打开。工具栏的“查看”和双击仍使用应用内预览。"),
        SettingsStyle::font(SettingsStyle::kCaptionPixels), SettingsStyle::secondary(), this);
    note->setWordWrap(true);
    column->addWidget(note);
    connect(m_picker, &QComboBox::activated, this, &SpaceKeySettingsView::choose);
    rebuild();
}

QString SpaceKeySettingsView::selection(const SpaceKeyOpener& opener) {
    switch (opener.kind) {
    case SpaceKeyOpener::Kind::preview:
        return QString::fromLatin1(kPreviewTag);
    case SpaceKeyOpener::Kind::defaultApp:
        return QString::fromLatin1(kDefaultTag);
    case SpaceKeyOpener::Kind::app:
        return opener.path;
    }
    return QString::fromLatin1(kPreviewTag);
}

std::optional<SpaceKeyOpener> SpaceKeySettingsView::openerForTag(const QString& tag) {
    if (tag == QLatin1String(kChooseTag))
        return std::nullopt;
    return SpaceKeyOpener::fromStoredValue(tag);
}

QString SpaceKeySettingsView::displayName(const QString& applicationPath) {
    return ApplicationLauncher::displayName(applicationPath).remove(QStringLiteral(".app"));
}

QString SpaceKeySettingsView::defaultApplicationTitle() {
    const std::optional<QString> application = DesktopApplications::defaultFor(QStringLiteral("image/jpeg"));
    if (!application)
        return QStringLiteral("系统默认应用");
    return QStringLiteral("系统默认应用（") + displayName(*application) + QStringLiteral("）");
}

QIcon SpaceKeySettingsView::icon(const QString& applicationPath) {
    const QString name = DesktopApplications::iconName(applicationPath);
    if (name.isEmpty())
        return {};
    return QFileInfo(name).isAbsolute() ? QIcon(name) : QIcon::fromTheme(name);
}

void SpaceKeySettingsView::setOpener(const SpaceKeyOpener& opener) {
    m_opener = opener;
    rebuild();
}

void SpaceKeySettingsView::rebuild() {
    const QSignalBlocker blocker(m_picker);
    m_picker->clear();
    m_picker->setIconSize(QSize(kIconPixels, kIconPixels));
    m_picker->addItem(QStringLiteral("应用内大图预览"), QString::fromLatin1(kPreviewTag));
    m_picker->addItem(defaultApplicationTitle(), QString::fromLatin1(kDefaultTag));
    if (m_opener.kind == SpaceKeyOpener::Kind::app) {
        m_picker->insertSeparator(m_picker->count());
        m_picker->addItem(icon(m_opener.path), displayName(m_opener.path), m_opener.path);
    }
    m_picker->insertSeparator(m_picker->count());
    m_picker->addItem(QStringLiteral("选择其他应用…"), QString::fromLatin1(kChooseTag));
    m_picker->setCurrentIndex(m_picker->findData(selection(m_opener)));
}

void SpaceKeySettingsView::choose(int index) {
    const QString tag = m_picker->itemData(index).toString();
    const std::optional<SpaceKeyOpener> chosen = openerForTag(tag);
    if (!chosen) {
        // The picker keeps showing the previous choice; the panel opens once its menu closed.
        m_picker->setCurrentIndex(m_picker->findData(selection(m_opener)));
        QTimer::singleShot(0, this, &SpaceKeySettingsView::chooseApp);
        return;
    }
    if (*chosen == m_opener)
        return;
    m_opener = *chosen;
    rebuild();
    Q_EMIT openerEdited(m_opener);
}

void SpaceKeySettingsView::chooseApp() {
    const std::optional<QString> application = m_choose ? m_choose() : std::nullopt;
    if (!application || application->isEmpty())
        return;
    m_opener = SpaceKeyOpener::app(*application);
    rebuild();
    Q_EMIT openerEdited(m_opener);
}

} // namespace vennimo
