#include "model/DeferredStateExit.h"
#include "model/GalleryModel.h"

namespace vennimo {

QString DeferredStateExit::alertInformativeText(const Error& error) {
    return QStringLiteral("叠放顺序或“新照片”标记未写入：") + error.localizedDescription() +
           QStringLiteral("\n照片与位置不受影响。");
}

QStringList DeferredStateExit::alertButtons() {
    return {QString::fromUtf8(kRetryButton), QString::fromUtf8(kDiscardButton),
            QString::fromUtf8(kCancelButton)};
}

DeferredStateExitChoice DeferredStateExit::choiceForButton(int index) {
    switch (index) {
    case 0:
        return DeferredStateExitChoice::retry;
    case 1:
        return DeferredStateExitChoice::discardAndQuit;
    default:
        return DeferredStateExitChoice::cancel;
    }
}

DeferredStateExitOutcome DeferredStateExit::requestQuit(GalleryModel& model, bool endsSession) {
    using Kind = DeferredStateExitOutcome::Kind;
    if (const std::optional<QString> reason = model.terminationBlockReason())
        return {Kind::refused, reason};
    for (;;) {
        const Status flushed = model.flushDeferredState();
        if (flushed)
            return {Kind::quit, std::nullopt};
        // Logging out or shutting down cannot wait for an answer.
        if (endsSession) {
            model.discardDeferredState();
            return {Kind::quit, std::nullopt};
        }
        const DeferredStateAlert& alert = model.deferredStateAlert();
        const DeferredStateExitChoice choice =
            alert ? alert(flushed.error()) : DeferredStateExitChoice::cancel;
        if (choice == DeferredStateExitChoice::retry)
            continue;
        if (choice == DeferredStateExitChoice::discardAndQuit) {
            model.discardDeferredState();
            return {Kind::quit, std::nullopt};
        }
        return {Kind::cancelled, std::nullopt};
    }
}

void DeferredStateExit::prepareForSleep(GalleryModel& model) {
    // The failure is already published; sleep does not wait for anyone.
    static_cast<void>(model.flushDeferredState());
}

} // namespace vennimo
