#pragma once

#include <QString>

#include <memory>

class QMessageBox;
class QWidget;

namespace vennimo {

// Tells the user that quitting waits for a delete or an import: the reason as the message.
class QuitBlockedAlert {
public:
    QuitBlockedAlert() = delete;

    static constexpr auto kInformative = "请等待保存完成。";

    static std::unique_ptr<QMessageBox> makeAlert(const QString& reason, QWidget* parent = nullptr);
    static void run(const QString& reason, QWidget* parent = nullptr);
};

} // namespace vennimo
