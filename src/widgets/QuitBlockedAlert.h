#pragma once

#include <QString>

#include <memory>

class QMessageBox;
class QWidget;

namespace vennimo {

// Tells the user that quitting waits for a delete or an import: the reason as the message. The
// shell shows it without a loop of its own, so that quits asked meanwhile find it up.
class QuitBlockedAlert {
public:
    QuitBlockedAlert() = delete;

    static constexpr auto kInformative = "请等待保存完成。";

    static std::unique_ptr<QMessageBox> makeAlert(const QString& reason, QWidget* parent = nullptr);
};

} // namespace vennimo
