#pragma once

#include "core/Photo.h"
#include "model/GalleryModel.h"
#include "preview/PhotoPreviewSequence.h"
#include "preview/PolaroidPreviewPanel.h"
#include "preview/PolaroidPreviewPaperView.h"
#include "rendering/PhotoPreviewImageLoader.h"

#include <QObject>
#include <QPointer>
#include <QSizeF>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

class QKeyEvent;
class QWidget;

namespace vennimo {

// Shows one photo at a time in the large preview panel and keeps the panel in step with its
// host screen. The host opens the preview by setting the previewed photo and closes it by
// clearing it; the presenter writes that state back when the user pages, closes the panel or
// takes the photo down, or when the photo vanishes from the model. One panel lives per opening,
// a transient child of the anchor's window that closes when that window hides or closes.
class PhotoPreviewPresenter : public QObject {
    Q_OBJECT

public:
    // The last photo taken down from the preview while it hung, the sequence before that, and
    // the model's undo generation right after: Ctrl+Z brings the photo back onto this page.
    struct TakenDownPage {
        Photo photo{};
        PhotoPreviewSequence sequence{};
        std::uint64_t generation = 0;
    };
    // Puts a new panel at its window level; the shell installs the window layer's registry.
    using PanelRegistrar = std::function<void(QWidget* panel)>;
    using Reveal = std::function<void(const QString& path)>;

    static constexpr double kDefaultBackingScale = 2.0;
    static constexpr QSizeF kDefaultImageBounds{1100, 800};

    PhotoPreviewPresenter(GalleryModel& model, QWidget* anchor, QObject* parent = nullptr);
    ~PhotoPreviewPresenter() override;

    static void setPanelRegistrar(PanelRegistrar registrar);
    // How a photo's file is shown in the file manager; by default through FileManager1.
    void setReveal(Reveal reveal) { m_reveal = std::move(reveal); }

    // The host's state: the photo being previewed, none while closed.
    const std::optional<Photo>& selected() const { return m_selected; }
    // The host sets the previewed photo; the preview follows at once.
    void setSelected(const std::optional<Photo>& photo);
    // Opening from a print or a cell.
    void open(const Photo& photo) { setSelected(photo); }
    bool isOpen() const { return m_panel != nullptr; }

    GalleryModel* model() const { return m_model; }
    const std::optional<Photo>& current() const { return m_current; }
    const PhotoPreviewSequence& sequence() const { return m_sequence; }
    const std::optional<TakenDownPage>& takenDownPage() const { return m_takenDownPage; }
    PolaroidPreviewPanel* panel() const { return m_panel; }
    PolaroidPreviewPaperView* paper() const { return m_paper; }

    // Reconciles the panel with the host's state and the model; runs after every change of either.
    void update();
    void presentIfReady();
    void dismiss(bool updateBinding);
    void navigate(int step);
    void resize();

    // Commands of the panel's keys and buttons.
    bool handleKey(QKeyEvent* event);
    void copyCurrent();
    void takeDownCurrent();
    void undoCurrentAction();
    void redoCurrentAction();
    void refreshControls();
    void toggleLine();
    void trashCurrent();
    void revealCurrent();
    void dismissError();

Q_SIGNALS:
    // The previewed photo changed, by the host or by the preview.
    void selectedChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void scheduleUpdate();
    // The preview's own writes of the host's state, which the host sees like its own.
    void writeBinding(const std::optional<Photo>& photo);
    void createPanel();
    void installCallbacks();
    void load(const Photo& photo);
    void requestImage(const Photo& photo, const QString& key, int generation);
    double backingScale() const;
    bool modelBusy() const;
    bool showsCurrent(const Photo& photo) const;
    QWidget* anchorWindow() const;

    QPointer<QWidget> m_anchor;
    QPointer<GalleryModel> m_model;
    std::optional<Photo> m_selected;
    std::optional<Photo> m_current;
    PhotoPreviewSequence m_sequence;
    std::optional<TakenDownPage> m_takenDownPage;
    QPointer<PolaroidPreviewPanel> m_panel;
    QPointer<PolaroidPreviewPaperView> m_paper;
    int m_loadGeneration = 0;
    QString m_loadedKey;
    QSizeF m_currentSize{4, 3};
    QPointer<QWidget> m_observedParent;
    bool m_programmaticClose = false;
    bool m_parentClosing = false;
    bool m_updateScheduled = false;
    PhotoPreviewImageLoader m_imageLoader;
    Reveal m_reveal;
};

} // namespace vennimo
