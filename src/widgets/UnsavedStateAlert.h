#pragma once

#include "model/DeferredStateExitChoice.h"
#include "platform/Error.h"

#include <memory>

class QMessageBox;
class QWidget;

namespace vennimo {

// Asks what to do when the rope order or the new-photo marks could not be written at quit:
// retry, give them up and quit, or stay. Escape and closing the alert stay.
class UnsavedStateAlert {
public:
    UnsavedStateAlert() = delete;

    static std::unique_ptr<QMessageBox> makeAlert(const Error& error, QWidget* parent = nullptr);
    // The answer of an alert made by makeAlert once it was closed.
    static DeferredStateExitChoice choice(const QMessageBox& alert);
    static DeferredStateExitChoice run(const Error& error, QWidget* parent = nullptr);
};

} // namespace vennimo
