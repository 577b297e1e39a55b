#pragma once

#include "model/SpaceKeyOpener.h"

#include <QIcon>
#include <QWidget>

#include <functional>
#include <optional>

class QComboBox;

namespace vennimo {

// What the space bar opens for the selected photos: the in-app preview, the desktop's default
// application for each file, or one application the user chose, picked from a list. It edits
// only the opener it is given and reports each choice.
class SpaceKeySettingsView : public QWidget {
    Q_OBJECT

public:
    static constexpr auto kPreviewTag = "preview";
    static constexpr auto kDefaultTag = "default";
    static constexpr auto kChooseTag = "choose";
    static constexpr int kPickerMaxWidth = 360;

    // Answers the chosen application's entry, or nothing when cancelled.
    using ChooseApplication = std::function<std::optional<QString>()>;

    explicit SpaceKeySettingsView(QWidget* parent = nullptr);

    // Shows the draft's opener; announces nothing.
    void setOpener(const SpaceKeyOpener& opener);
    const SpaceKeyOpener& opener() const { return m_opener; }
    void setChooseApplication(ChooseApplication choose) { m_choose = std::move(choose); }
    QComboBox* picker() const { return m_picker; }

    // The picker's tag of an opener, and the opener a chosen tag stands for ("choose" stands
    // for none: it asks for an application instead).
    static QString selection(const SpaceKeyOpener& opener);
    static std::optional<SpaceKeyOpener> openerForTag(const QString& tag);
    // "系统默认应用（name）", or "系统默认应用" when the desktop names no default for JPEG.
    static QString defaultApplicationTitle();
    // The name an application is shown by, without any ".app".
    static QString displayName(const QString& applicationPath);
    static QIcon icon(const QString& applicationPath);
    void chooseApp();

Q_SIGNALS:
    void openerEdited(const SpaceKeyOpener& opener);

private:
    void choose(int index);
    void rebuild();

    SpaceKeyOpener m_opener;
    QComboBox* m_picker = nullptr;
    ChooseApplication m_choose;
};

} // namespace vennimo
