#pragma once

#include <QString>

#include <memory>

class QMessageBox;
class QWidget;

namespace vennimo {

// Tells the user why a source folder's grant was not taken: a message and a detail that names the
// folder's path or the reason.
class SourceFolderAlert {
public:
    SourceFolderAlert() = delete;

    static std::unique_ptr<QMessageBox> makeAlert(const QString& message, const QString& informative,
                                                  QWidget* parent = nullptr);
    static void run(const QString& message, const QString& informative, QWidget* parent = nullptr);
};

} // namespace vennimo
