#pragma once

#include <QUrl>

#include <functional>
#include <memory>

class QMessageBox;
class QWidget;

namespace vennimo {

// Explains that deleting Photos-library originals needs access to the library, and offers the
// system settings.
class PhotosAccessAlert {
public:
    using UrlOpener = std::function<bool(const QUrl& url)>;

    // The privacy pane of the system settings, made once.
    static const QUrl& settingsURL();
    static std::unique_ptr<QMessageBox> makeAlert(QWidget* parent = nullptr);
    // Runs the alert modally; the first button opens the settings through `open` (by default the
    // desktop's handler of the address).
    static void run(QWidget* parent = nullptr, const UrlOpener& open = {});
};

} // namespace vennimo
