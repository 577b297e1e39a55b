#include "preview/PolaroidPreviewPaperView.h"

#include "rendering/DropShadow.h"
#include "rendering/PreviewToolbarMetrics.h"
#include "widgets/AlertFont.h"
#include "widgets/HoverHint.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace vennimo {

namespace {

constexpr double kPaperRadius = 2;
constexpr std::chrono::milliseconds kSpinInterval{80};
constexpr int kSpinnerSpokes = 8;

QColor rgb(double r, double g, double b, double a = 1) {
    return QColor::fromRgbF(float(r), float(g), float(b), float(a));
}

QRect pixelAligned(double x, double y, double w, double h) {
    const int left = int(std::lround(x));
    const int top = int(std::lround(y));
    return QRect(left, top, int(std::lround(x + w)) - left, int(std::lround(y + h)) - top);
}

// The photo, scaled to fit and centred; drawn from the decode itself so a 2x screen gets every
// decoded pixel.
class PreviewImageView : public QWidget {
public:
    explicit PreviewImageView(QWidget* parent)
        : QWidget(parent) {
        setAccessibleName(QStringLiteral("照片大图"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void setImage(const QImage& image) {
        m_image = image;
        update();
    }
    const QImage& image() const { return m_image; }

protected:
    void paintEvent(QPaintEvent*) override {
        if (m_image.isNull())
            return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QSizeF fitted = QSizeF(m_image.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
        const QRectF target(QPointF((width() - fitted.width()) / 2, (height() - fitted.height()) / 2),
                            fitted);
        painter.drawImage(target, m_image);
    }

private:
    QImage m_image;
};

class PreviewSpinner : public QWidget {
public:
    explicit PreviewSpinner(QWidget* parent)
        : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        m_timer.setInterval(kSpinInterval);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            m_step = (m_step + 1) % kSpinnerSpokes;
            update();
        });
        hide();
    }
    void setRunning(bool running) {
        if (running) {
            m_timer.start();
            show();
        } else {
            m_timer.stop();
            hide();
        }
    }
    bool running() const { return m_timer.isActive(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(width() / 2.0, height() / 2.0);
        const double r = std::min(width(), height()) / 2.0;
        for (int i = 0; i < kSpinnerSpokes; ++i) {
            const int age = (m_step - i + kSpinnerSpokes) % kSpinnerSpokes;
            painter.setPen(QPen(rgb(0.4, 0.4, 0.4, 1.0 - age * 0.1), r * 0.22, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(QPointF(0, -r * 0.45), QPointF(0, -r * 0.9));
            painter.rotate(360.0 / kSpinnerSpokes);
        }
    }

private:
    QTimer m_timer;
    int m_step = 0;
};

} // namespace

PolaroidPreviewPaperView::PolaroidPreviewPaperView(QWidget* parent)
    : QWidget(parent)
    , m_geometry(PolaroidPreviewGeometry::layout(QSizeF(4, 3), QRectF(0, 0, 1440, 900))) {
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::StrongFocus);

    m_imageView = new PreviewImageView(this);
    m_loading = new PreviewSpinner(this);

    m_unavailable = new QLabel(QString::fromUtf8(kLoadingText), this);
    // The texts here name files and reasons; they show as written, never as markup.
    m_unavailable->setTextFormat(Qt::PlainText);
    m_unavailable->setFont(alertFont(12));
    m_unavailable->setAlignment(Qt::AlignCenter);
    m_unavailable->setStyleSheet(QStringLiteral("color: rgba(0, 0, 0, 128);"));

    m_errorLabel = new QLabel(this);
    m_errorLabel->setTextFormat(Qt::PlainText);
    m_errorLabel->setFont(alertFont(11));
    m_errorLabel->setWordWrap(true);
    m_errorLabel->setStyleSheet(QStringLiteral("color: %1;").arg(rgb(0.7, 0.36, 0.1).name()));

    m_errorDismissButton =
        makeButton(PreviewActionButton::Appearance::quiet, {}, QStringLiteral("xmark"),
                   QStringLiteral("关闭提示"), std::nullopt, {}, &Callbacks::onDismissError);
    m_errorDismissButton->hide();

    using Look = PreviewActionButton::Appearance;
    m_copyButton = makeButton(Look::primary, QString::fromUtf8(kCopyTitle), {}, QStringLiteral("复制原图"),
                              std::nullopt, QStringLiteral("复制（Ctrl+C）"), &Callbacks::onCopy);
    m_lineButton = makeButton(Look::ghost, {}, QStringLiteral("minus.circle"), QStringLiteral("从晾衣绳取下"),
                              QStringLiteral("取下  Delete"), {}, &Callbacks::onLine);
    m_trashButton = makeButton(Look::destructive, {}, QStringLiteral("trash"), QStringLiteral("删除"),
                               QStringLiteral("删除  Ctrl+Delete"), {}, &Callbacks::onTrash);
    m_closeButton = makeButton(Look::dismiss, QStringLiteral("关闭"), {}, QStringLiteral("关闭大图"),
                               std::nullopt, QStringLiteral("关闭（Esc）"), &Callbacks::onClose);
    m_revealButton =
        makeButton(Look::ghost, {}, QStringLiteral("folder"), QStringLiteral("在文件管理器中显示"),
                   QStringLiteral("在文件管理器中显示"), {}, &Callbacks::onReveal);
    m_previousButton = makeButton(Look::ghost, {}, QStringLiteral("chevron.left"), QStringLiteral("上一张"),
                                  QStringLiteral("上一张  ←"), {}, &Callbacks::onPrevious);
    m_nextButton = makeButton(Look::ghost, {}, QStringLiteral("chevron.right"), QStringLiteral("下一张"),
                              QStringLiteral("下一张  →"), {}, &Callbacks::onNext);

    m_pageLabel = new QLabel(this);
    QFont pageFont = alertFont(12);
    pageFont.setWeight(QFont::Medium);
    pageFont.setStyleHint(QFont::Monospace);
    m_pageLabel->setFont(pageFont);
    m_pageLabel->setAlignment(Qt::AlignCenter);
    m_pageLabel->setStyleSheet(QStringLiteral("color: %1;").arg(rgb(0.54, 0.52, 0.45).name()));

    relayout();
    connect(&m_compositorWatch, &X11CompositorWatch::runningChanged, this, [this] { updateCut(); });
}

PolaroidPreviewPaperView::~PolaroidPreviewPaperView() = default;

PreviewActionButton* PolaroidPreviewPaperView::makeButton(PreviewActionButton::Appearance look,
                                                          const QString& title, const QString& symbol,
                                                          const QString& accessibleName,
                                                          const std::optional<QString>& hint,
                                                          const QString& toolTip,
                                                          std::function<void()> Callbacks::*callback) {
    auto* button = new PreviewActionButton(look, this);
    button->setText(title);
    button->setSymbol(symbol);
    button->setAccessibleName(accessibleName);
    button->setHint(hint);
    if (!toolTip.isEmpty())
        button->setToolTip(toolTip);
    connect(button, &QAbstractButton::clicked, this, [this, callback] {
        // A copy: the callback may replace the callbacks or close the view.
        const std::function<void()> run = m_callbacks.*callback;
        if (run)
            run();
    });
    return button;
}

void PolaroidPreviewPaperView::setPreviewGeometry(const PolaroidPreviewGeometry& geometry) {
    m_geometry = geometry;
    relayout();
}

void PolaroidPreviewPaperView::setPaging(bool paging) {
    m_paging = paging;
    relayout();
}

void PolaroidPreviewPaperView::setPageText(const QString& text) {
    m_pageLabel->setText(text);
}

void PolaroidPreviewPaperView::setImage(const QImage& image) {
    static_cast<PreviewImageView*>(m_imageView)->setImage(image);
}

bool PolaroidPreviewPaperView::hasImage() const {
    return !image().isNull();
}

QImage PolaroidPreviewPaperView::image() const {
    return static_cast<PreviewImageView*>(m_imageView)->image();
}

void PolaroidPreviewPaperView::setLoading(bool loading) {
    static_cast<PreviewSpinner*>(m_loading)->setRunning(loading);
}

bool PolaroidPreviewPaperView::loading() const {
    return static_cast<PreviewSpinner*>(m_loading)->running();
}

void PolaroidPreviewPaperView::setUnavailable(const std::optional<QString>& text) {
    if (text)
        m_unavailable->setText(*text);
    m_unavailable->setVisible(text.has_value());
}

std::optional<QString> PolaroidPreviewPaperView::unavailable() const {
    if (m_unavailable->isHidden())
        return std::nullopt;
    return m_unavailable->text();
}

void PolaroidPreviewPaperView::setErrorText(const std::optional<QString>& text) {
    m_errorLabel->setText(text.value_or(QString()));
    m_errorLabel->setToolTip(text ? Qt::convertFromPlainText(*text) : QString());
    relayout();
}

QString PolaroidPreviewPaperView::errorText() const {
    return m_errorLabel->text();
}

PreviewActionButton* PolaroidPreviewPaperView::hintedButton() const {
    for (PreviewActionButton* button :
         {m_revealButton, m_lineButton, m_trashButton, m_previousButton, m_nextButton}) {
        if (button->hoverHint() && button->hoverHint()->shown())
            return button;
    }
    return nullptr;
}

void PolaroidPreviewPaperView::relayout() {
    const QRectF image = m_geometry.image;
    const QRectF paper = m_geometry.paper;
    const double y = m_geometry.controlsY;
    const double h = PreviewToolbarMetrics::height;
    const double iconW = PreviewToolbarMetrics::iconWidth;
    const double spacing = PreviewToolbarMetrics::iconSpacing;

    m_imageView->setGeometry(pixelAligned(image.x(), image.y(), image.width(), image.height()));
    m_loading->setGeometry(pixelAligned(image.center().x() - 8, image.center().y() - 23, 16, 16));
    m_unavailable->setGeometry(pixelAligned(image.left(), image.center().y() + 2, image.width(), 20));

    const bool alongImage = image.width() >= kImageToolbarMinWidth;
    const double left = alongImage ? image.left() : paper.left() + PolaroidPreviewGeometry::sideBorder;
    const double right = alongImage ? image.right() : paper.right() - PolaroidPreviewGeometry::sideBorder;

    m_revealButton->setGeometry(pixelAligned(left, y, iconW, h));
    m_lineButton->setGeometry(pixelAligned(left + (iconW + spacing), y, iconW, h));
    m_trashButton->setGeometry(pixelAligned(left + 2 * (iconW + spacing), y, iconW, h));

    // The copy button keeps the width of its widest title, so a changed title never moves the
    // close button.
    const double closeW = PreviewToolbarMetrics::width(QStringLiteral("关闭"));
    const double copyW = PreviewToolbarMetrics::width(QString::fromUtf8(kCopyFailedTitle));
    const double closeX = right - copyW - PreviewToolbarMetrics::gap - closeW;
    m_copyButton->setGeometry(pixelAligned(right - copyW, y, copyW, h));
    m_closeButton->setGeometry(pixelAligned(closeX, y, closeW, h));

    double bottom = y + h;
    m_previousButton->setVisible(m_paging);
    m_nextButton->setVisible(m_paging);
    m_pageLabel->setVisible(m_paging);
    if (m_paging) {
        const double half = PreviewToolbarMetrics::pagingWidth / 2;
        const double lowest = left + 3 * iconW + 2 * spacing + kPagingInset + half;
        const double highest = closeX - kPagingInset - half;
        double centre = std::min(std::max(paper.center().x(), lowest), highest);
        double row = y;
        if (highest < lowest) {
            centre = paper.center().x();
            row = y + h + kSecondRowGap;
            bottom = row + h;
        }
        m_previousButton->setGeometry(pixelAligned(centre - half, row, kPagingButtonWidth, h));
        m_pageLabel->setGeometry(pixelAligned(centre - 24, row + 7, 48, 16));
        m_nextButton->setGeometry(
            pixelAligned(centre + half - kPagingButtonWidth, row, kPagingButtonWidth, h));
    }

    m_errorLabel->setGeometry(pixelAligned(left, bottom + 10, right - left - 24, 30));
    m_errorDismissButton->setGeometry(pixelAligned(right - 18, bottom + 10, 18, 18));
    m_errorDismissButton->setVisible(!m_errorLabel->text().isEmpty());
    updateCut();
    update();
}

void PolaroidPreviewPaperView::updateCut() {
    QWidget* panel = window();
    const bool cut = QGuiApplication::platformName() == QLatin1String("xcb") && !m_compositorWatch.running();
    if (!cut) {
        if (m_cutKey) {
            panel->clearMask();
            m_cutKey.reset();
        }
        return;
    }
    const CutKey key{panel->size(), m_geometry.paper, mapTo(panel, QPoint(0, 0))};
    if (key == m_cutKey || panel->size().isEmpty())
        return;
    // Each page's paper has a shape of its own: the cut follows its outline rather than a drawing of
    // it, which cost tens of milliseconds of the main thread at every page.
    panel->setMask(
        PolaroidPreviewGeometry::roundedCut(m_geometry.paper.translated(key.offset), kPaperRadius) &
        QRegion(QRect(QPoint(), panel->size())));
    m_cutKey = key;
    m_shadow = QImage();
}

void PolaroidPreviewPaperView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // Outside the paper the panel stays see-through.
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(event->rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF paper = m_geometry.paper;
    // A cut panel shows none of its margin, where the shadow falls.
    if (!m_cutKey)
        painter.drawImage(QPointF(0, 0), shadow());
    painter.setPen(Qt::NoPen);
    painter.setBrush(PreviewActionButton::paper());
    painter.drawRoundedRect(paper, kPaperRadius, kPaperRadius);
    QColor edge = QColor::fromRgbF(0.68f, 0.68f, 0.68f, 0.2f);
    painter.setPen(QPen(edge, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(paper.adjusted(0.5, 0.5, -0.5, -0.5), kPaperRadius, kPaperRadius);
}

QImage PolaroidPreviewPaperView::shadow() {
    // Window managers here draw no shadow under a borderless window, so the paper brings its
    // own in the panel's margin. Blurring is costly, so it is kept until size or scale change.
    const double scale = devicePixelRatioF();
    if (m_shadow.size() == size() * scale && m_shadowPaper == m_geometry.paper &&
        m_shadow.devicePixelRatio() == scale)
        return m_shadow;
    m_shadow = QImage(size() * scale, QImage::Format_ARGB32_Premultiplied);
    m_shadow.setDevicePixelRatio(scale);
    m_shadow.fill(Qt::transparent);
    m_shadowPaper = m_geometry.paper;
    QPainter p(&m_shadow);
    p.setRenderHint(QPainter::Antialiasing);
    const auto fillPaper = [this](QPainter& painter) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(PreviewActionButton::paper());
        painter.drawRoundedRect(m_geometry.paper, kPaperRadius, kPaperRadius);
    };
    DropShadow{QPointF(0, 4 * scale), 10 * scale, QColor::fromRgbF(0, 0, 0, 0.28f)}.paint(p, QRectF(rect()),
                                                                                          fillPaper);
    return m_shadow;
}

void PolaroidPreviewPaperView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    relayout();
}

void PolaroidPreviewPaperView::mousePressEvent(QMouseEvent* event) {
    // A click on the paper does nothing, and does not move the panel.
    event->accept();
}

} // namespace vennimo
