#pragma once

#include <QAbstractButton>

namespace vennimo {

// An on/off switch: a capsule track with a round knob, accent-coloured when on. The text, when
// set, is its accessible name; the switch itself draws none.
class SettingsSwitch : public QAbstractButton {
    Q_OBJECT

public:
    enum class Size { regular, mini };

    explicit SettingsSwitch(Size size = Size::regular, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Size m_size;
};

} // namespace vennimo
