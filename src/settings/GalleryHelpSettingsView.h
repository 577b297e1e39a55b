#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QWidget>

namespace vennimo {

// The help pane: how prints are dragged off the rope, the gallery's keys and a note on
// deleting. Static; all of it scrolls under an always-visible scroller.
class GalleryHelpSettingsView : public QWidget {
    Q_OBJECT

public:
    using KeyAction = QPair<QString, QString>;

    explicit GalleryHelpSettingsView(QWidget* parent = nullptr);

    // The ten (key, action) pairs in order.
    static const QList<KeyAction>& keys();
    // The pairs two by two: five rows.
    static QList<QList<KeyAction>> keyRows();
    // The scrolled content (the part below the scroller).
    QWidget* content() const { return m_content; }

private:
    QWidget* m_content = nullptr;
};

} // namespace vennimo
