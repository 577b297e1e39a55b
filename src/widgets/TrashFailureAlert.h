#pragma once

#include <QString>

#include <memory>

class QMessageBox;
class QWidget;

namespace vennimo {

// The warning after a delete that left photos behind, listing why each one stayed.
class TrashFailureAlert {
public:
    static std::unique_ptr<QMessageBox> makeAlert(const QString& message, const QString& informative,
                                                  QWidget* parent = nullptr);
    static void run(const QString& message, const QString& informative, QWidget* parent = nullptr);
};

} // namespace vennimo
