#pragma once

#include <QObject>

#include <functional>

class QWidget;

namespace vennimo {

// Puts every dialog, alert and panel the application opens where the user can answer it: over the
// window it belongs to, however high that window floats, and in front with the keyboard when no
// window of ours shows. A dialog belongs to its parent's window, or else to the highest of our
// windows on screen; with none, it floats on its own while floating is on.
//
// The window manager keeps a dialog above the window it is transient for and in that window's
// layer; a dialog without one (or transient for the application's hidden leader window) would
// open in the normal layer, under a floating rope or settings window.
class ModalWindowPresenter : public QObject {
    Q_OBJECT

public:
    // `skip` names windows someone else places (the updater's).
    explicit ModalWindowPresenter(std::function<bool(QWidget*)> skip = {}, QObject* parent = nullptr);
    ~ModalWindowPresenter() override;

    // Whether the presenter places this window: a top-level dialog that is not one of the
    // recorded floating windows.
    bool presents(QWidget* window) const;
    // The window a dialog stands over; none when nothing of ours shows.
    static QWidget* ownerOf(QWidget* dialog);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place(QWidget* dialog);

    std::function<bool(QWidget*)> m_skip;
};

} // namespace vennimo
