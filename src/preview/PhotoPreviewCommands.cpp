#include "model/GalleryModel.h"
#include "model/RopeHistoryEntry.h"
#include "preview/PhotoPreviewPresenter.h"
#include "preview/PolaroidPreviewPaperView.h"
#include "preview/PreviewActionButton.h"
#include "preview/PreviewCommand.h"

#include <QKeyEvent>
#include <QLabel>

namespace vennimo {

namespace {

constexpr auto kTakeDownHint = "取下  Delete";
constexpr auto kHangHint = "挂上";

} // namespace

bool PhotoPreviewPresenter::handleKey(QKeyEvent* event) {
    const PreviewCommand command = previewCommand(*event);
    if (command == PreviewCommand::none)
        return false;
    if (previewCommandNeedsIdleModel(command) && modelBusy())
        return true;
    switch (command) {
    case PreviewCommand::close:
    case PreviewCommand::closeBySpace:
        dismiss(true);
        return true;
    case PreviewCommand::takeDown:
        takeDownCurrent();
        return true;
    case PreviewCommand::previous:
        navigate(-1);
        return true;
    case PreviewCommand::next:
        navigate(1);
        return true;
    case PreviewCommand::redo:
        redoCurrentAction();
        return true;
    case PreviewCommand::copy:
        copyCurrent();
        return true;
    case PreviewCommand::properties:
        if (!m_current)
            return false;
        if (m_model)
            m_model->showProperties(QList<Photo>{*m_current});
        return true;
    case PreviewCommand::undo:
        undoCurrentAction();
        return true;
    case PreviewCommand::trash:
        if (m_current && m_model)
            m_model->confirmTrash({*m_current});
        return true;
    case PreviewCommand::none:
        break;
    }
    return false;
}

void PhotoPreviewPresenter::copyCurrent() {
    if (!m_current || modelBusy())
        return;
    if (m_paper) {
        const bool copied = m_model->copy(*m_current);
        m_paper->copyButton()->setText(QString::fromUtf8(
            copied ? PolaroidPreviewPaperView::kCopiedTitle : PolaroidPreviewPaperView::kCopyFailedTitle));
    }
    refreshControls();
}

void PhotoPreviewPresenter::toggleLine() {
    if (!m_current || !m_model)
        return;
    if (m_model->hangs(*m_current)) {
        takeDownCurrent();
        return;
    }
    m_model->setHanging({*m_current}, true, RopeHistoryRecording::record);
    refreshControls();
}

void PhotoPreviewPresenter::takeDownCurrent() {
    if (!m_current || !m_model)
        return;
    const Photo shown = *m_current;
    const bool hung = m_model->hangs(shown);
    const PhotoPreviewSequence old = m_sequence;
    // The model answers true also when nothing had to change; a photo already off the rope
    // stays on screen.
    if (!hung || !m_model->setHanging({shown}, false, RopeHistoryRecording::record)) {
        refreshControls();
        return;
    }
    QList<Photo> remaining;
    for (const Photo& photo : old.photos) {
        if (!isSamePhoto(photo, shown))
            remaining.append(photo);
    }
    QList<Photo> live;
    for (const Photo& photo : remaining) {
        if (auto copy = livePreviewPhoto(photo, m_model->photos()))
            live.append(*copy);
    }
    const auto replacement = old.replacement(shown, live);
    m_sequence.photos = remaining;
    if (!replacement) {
        dismiss(true);
        return;
    }
    m_takenDownPage = TakenDownPage{shown, old, m_model->takeDownUndoGeneration()};
    m_current = *replacement;
    writeBinding(m_current);
    presentIfReady();
    refreshControls();
}

void PhotoPreviewPresenter::undoCurrentAction() {
    if (modelBusy())
        return;
    GalleryModel& model = *m_model;
    const auto applies = [&] {
        if (!m_takenDownPage || !model.canUndoTakeDown() ||
            model.takeDownUndoGeneration() != m_takenDownPage->generation)
            return false;
        const QList<Photo> taken = model.lastTakenDown();
        return taken.size() == 1 && taken.first().recordKey() == m_takenDownPage->photo.recordKey();
    };
    if (!applies()) {
        model.undoRopeAction();
        m_takenDownPage.reset();
        refreshControls();
        return;
    }
    const TakenDownPage page = *m_takenDownPage;
    const bool sameBirth = sameFileBirth(model.lastTakenDown().first().created, page.photo.created);
    model.undoRopeAction();
    if (!sameBirth) {
        m_takenDownPage.reset();
        refreshControls();
        return;
    }
    const auto live = livePreviewPhoto(page.photo, model.photos());
    if (live && model.hangs(*live) && model.takeDownUndoGeneration() != page.generation) {
        m_takenDownPage.reset();
        m_sequence.photos = page.sequence.livePhotos(model.photos());
        model.setSelection(m_sequence.photos);
        m_current = *live;
        writeBinding(m_current);
        presentIfReady();
        refreshControls();
        return;
    }
    // The undo finishes later or did not go through: the page waits for the next try.
    m_takenDownPage->generation = model.takeDownUndoGeneration();
    refreshControls();
}

void PhotoPreviewPresenter::redoCurrentAction() {
    if (modelBusy())
        return;
    m_model->redoRopeAction();
    m_takenDownPage.reset();
    refreshControls();
}

void PhotoPreviewPresenter::trashCurrent() {
    if (m_current && m_model)
        m_model->confirmTrash({*m_current});
    refreshControls();
}

void PhotoPreviewPresenter::revealCurrent() {
    if (m_current && m_reveal)
        m_reveal(m_current->path);
}

void PhotoPreviewPresenter::dismissError() {
    if (m_model)
        m_model->dismissErrors();
    refreshControls();
}

void PhotoPreviewPresenter::refreshControls() {
    if (!m_current || !m_model || !m_paper)
        return;
    const GalleryModel& model = *m_model;
    PolaroidPreviewPaperView& paper = *m_paper;
    const QList<Photo> live = m_sequence.livePhotos(model.photos());
    qsizetype index = 0;
    for (qsizetype i = 0; i < live.size(); ++i) {
        if (live[i].id == m_current->id) {
            index = i;
            break;
        }
    }
    const bool paging = live.size() > 1;
    const bool pagingChanged = paper.paging() != paging;
    if (pagingChanged)
        paper.setPaging(paging);
    if (paging) {
        paper.setPageText(QStringLiteral("%1 / %2").arg(index + 1).arg(live.size()));
        paper.previousButton()->setEnabled(index > 0 && !model.deleting());
        paper.nextButton()->setEnabled(index + 1 < live.size() && !model.deleting());
    }
    if (pagingChanged)
        resize();

    const bool busy = model.isBusy();
    paper.copyButton()->setEnabled(!busy);
    paper.lineButton()->setEnabled(!busy);
    paper.trashButton()->setEnabled(!busy);
    paper.revealButton()->setEnabled(!model.deleting());

    PreviewActionButton& line = *paper.lineButton();
    if (model.hangs(*m_current)) {
        line.setHint(QString::fromUtf8(kTakeDownHint));
        line.setSymbol(QStringLiteral("minus.circle"));
        line.setAccessibleName(QStringLiteral("从晾衣绳取下"));
    } else {
        line.setHint(QString::fromUtf8(kHangHint));
        line.setSymbol(QStringLiteral("plus.circle"));
        line.setAccessibleName(QStringLiteral("挂到晾衣绳"));
    }
    const std::optional<QString> error = model.displayedError();
    if (paper.errorText() != error.value_or(QString()))
        paper.setErrorText(error);
}

} // namespace vennimo
