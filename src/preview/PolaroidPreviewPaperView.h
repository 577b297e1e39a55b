#pragma once

#include "platform/X11CompositorWatch.h"
#include "preview/PreviewActionButton.h"
#include "rendering/PolaroidPreviewGeometry.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;

namespace vennimo {

// The large polaroid: paper drawn on a transparent panel, the photo on it, a loading and an
// unavailable state, an error line, and a toolbar whose buttons report through callbacks that
// do nothing while unset. It holds no photo logic; the presenter sets its state and geometry.
class PolaroidPreviewPaperView : public QWidget {
    Q_OBJECT

public:
    struct Callbacks {
        std::function<void()> onClose;
        std::function<void()> onCopy;
        std::function<void()> onLine;
        std::function<void()> onTrash;
        std::function<void()> onReveal;
        std::function<void()> onPrevious;
        std::function<void()> onNext;
        std::function<void()> onDismissError;
    };

    // Toolbars narrower than this run along the paper's borders instead of the photo's edges.
    static constexpr double kImageToolbarMinWidth = 372;
    static constexpr double kPagingInset = 12;
    static constexpr double kPagingButtonWidth = 28;
    static constexpr double kSecondRowGap = 4;

    static constexpr auto kCopyTitle = "复制";
    static constexpr auto kCopiedTitle = "已复制";
    static constexpr auto kCopyFailedTitle = "复制失败";
    static constexpr auto kLoadingText = "载入中…";
    static constexpr auto kUnavailableText = "无法预览";

    explicit PolaroidPreviewPaperView(QWidget* parent = nullptr);
    ~PolaroidPreviewPaperView() override;

    void setCallbacks(Callbacks callbacks) { m_callbacks = std::move(callbacks); }
    const Callbacks& callbacks() const { return m_callbacks; }

    void setPreviewGeometry(const PolaroidPreviewGeometry& geometry);
    const PolaroidPreviewGeometry& previewGeometry() const { return m_geometry; }
    void setPaging(bool paging);
    bool paging() const { return m_paging; }
    void setPageText(const QString& text);

    // The photo at its full decode; a null image clears it.
    void setImage(const QImage& image);
    bool hasImage() const;
    QImage image() const;
    void setLoading(bool loading);
    bool loading() const;
    // The message under the spinner; none hides it.
    void setUnavailable(const std::optional<QString>& text);
    std::optional<QString> unavailable() const;
    // The last failed action's message; none empties the line and hides its dismiss button.
    void setErrorText(const std::optional<QString>& text);
    QString errorText() const;

    PreviewActionButton* copyButton() const { return m_copyButton; }
    PreviewActionButton* lineButton() const { return m_lineButton; }
    PreviewActionButton* trashButton() const { return m_trashButton; }
    PreviewActionButton* closeButton() const { return m_closeButton; }
    PreviewActionButton* revealButton() const { return m_revealButton; }
    PreviewActionButton* previousButton() const { return m_previousButton; }
    PreviewActionButton* nextButton() const { return m_nextButton; }
    PreviewActionButton* errorDismissButton() const { return m_errorDismissButton; }
    QLabel* pageLabel() const { return m_pageLabel; }
    QLabel* errorLabel() const { return m_errorLabel; }
    // The button whose hover hint shows now, else none.
    PreviewActionButton* hintedButton() const;

    // Places every part for the geometry, the paging state and the error line.
    void relayout();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    PreviewActionButton* makeButton(PreviewActionButton::Appearance look, const QString& title,
                                    const QString& symbol, const QString& accessibleName,
                                    const std::optional<QString>& hint, const QString& toolTip,
                                    std::function<void()> Callbacks::*callback);
    QImage shadow();
    // Where no compositing manager blends the panel, its clear margin would show black: the panel
    // is then cut to its paper, as it draws it at least half opaque, with no shadow around it.
    void updateCut();

    // What a cut was made for; the cut holds while they stay.
    struct CutKey {
        QSize panel;
        QRectF paper;
        QPoint offset;
        bool operator==(const CutKey&) const = default;
    };

    Callbacks m_callbacks;
    PolaroidPreviewGeometry m_geometry;
    QImage m_shadow;
    QRectF m_shadowPaper;
    X11CompositorWatch m_compositorWatch;
    std::optional<CutKey> m_cutKey;
    bool m_paging = false;
    QWidget* m_imageView = nullptr;
    QWidget* m_loading = nullptr;
    QLabel* m_unavailable = nullptr;
    QLabel* m_errorLabel = nullptr;
    PreviewActionButton* m_errorDismissButton = nullptr;
    PreviewActionButton* m_previousButton = nullptr;
    PreviewActionButton* m_nextButton = nullptr;
    QLabel* m_pageLabel = nullptr;
    PreviewActionButton* m_copyButton = nullptr;
    PreviewActionButton* m_lineButton = nullptr;
    PreviewActionButton* m_trashButton = nullptr;
    PreviewActionButton* m_closeButton = nullptr;
    PreviewActionButton* m_revealButton = nullptr;
};

} // namespace vennimo
