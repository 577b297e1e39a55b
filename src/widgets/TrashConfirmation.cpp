#include "widgets/TrashConfirmation.h"

#include "platform/ImageDecoder.h"
#include "platform/ProcessExit.h"
#include "platform/WorkQueue.h"
#include "widgets/AlertFont.h"
#include "widgets/TailCutLabel.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <memory>

namespace vennimo {

namespace {

constexpr int kAccessoryWidth = 228;
constexpr int kLabelWidth = 216;
constexpr int kSpacing = 8;
constexpr int kSideInset = 6;
constexpr int kThumbnailSize = 54;
constexpr qreal kDestinationPoints = 13;
constexpr qreal kNotePoints = 12;
constexpr int kIconSize = 64;
constexpr auto kConfirmProperty = "vennimoConfirmButton";

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QColor secondaryColor(const QWidget& widget) {
    QColor color = widget.palette().color(QPalette::WindowText);
    color.setAlphaF(0.55);
    return color;
}

QLabel* wrappingLabel(const QString& content, qreal points, std::optional<QColor> color, QWidget* parent) {
    auto* label = new QLabel(content, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(alertFont(points));
    label->setWordWrap(true);
    label->setFixedWidth(kLabelWidth);
    if (color) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, *color);
        label->setPalette(palette);
    }
    return label;
}

// A simple picture frame with a hill and a sun, for photos whose pixels cannot be read.
QImage photoSymbol() {
    QImage image(kIconSize, kIconSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(120, 120, 128), 3));
    painter.drawRoundedRect(QRectF(6, 12, 52, 40), 6, 6);
    painter.setBrush(QColor(120, 120, 128));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(42, 24), 4, 4);
    painter.drawPolygon(QPolygonF({QPointF(10, 48), QPointF(26, 28), QPointF(38, 48)}));
    return image;
}

QPixmap scaledPixmap(const QImage& image, int size) {
    return QPixmap::fromImage(image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

// Whether the alert whose pictures are being read has closed: its readings stop then.
using Closed = std::shared_ptr<std::atomic<bool>>;

Closed closedWith(QObject& alert) {
    auto closed = std::make_shared<std::atomic<bool>>(false);
    QObject::connect(&alert, &QObject::destroyed, [closed] { closed->store(true); });
    return closed;
}

// A photo's picture is read off the main thread, which a photo without a thumbnail would hold for
// the whole reading of its original; the stand-in shows meanwhile, and for good when none reads.
void showPreviewLater(const Photo& photo, const Closed& closed,
                      std::function<void(const TrashConfirmation::Preview&)> show, QObject& receiver) {
    static WorkQueue queue(QStringLiteral("local.vennimo.trash-preview"), 1);
    queue.async([photo, closed, show = std::move(show), target = QPointer<QObject>(&receiver)] {
        const auto stop = [&closed] { return closed->load() || ProcessExit::announced(); };
        if (stop())
            return;
        TrashConfirmation::Preview preview = TrashConfirmation::preview(photo, stop);
        if (stop())
            return;
        postToMain([preview = std::move(preview), show, target] {
            if (target)
                show(preview);
        });
    });
}

QWidget* makeStrip(const QList<Photo>& photos, const Closed& closed, QWidget* parent) {
    auto* strip = new QWidget(parent);
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(kSpacing);
    const qsizetype shown = std::min<qsizetype>(photos.size(), TrashConfirmation::kStripThumbnails);
    for (qsizetype i = 0; i < shown; ++i) {
        auto* view = new QLabel(strip);
        view->setFixedSize(kThumbnailSize, kThumbnailSize);
        view->setAlignment(Qt::AlignCenter);
        view->setPixmap(scaledPixmap(photoSymbol(), kThumbnailSize));
        QLabel* shown = view;
        showPreviewLater(
            photos[i], closed,
            [shown](const TrashConfirmation::Preview& preview) {
                shown->setPixmap(scaledPixmap(preview.image, kThumbnailSize));
            },
            *view);
        view->setAccessibleName(text("待删除的第 %1 张照片").arg(i + 1));
        row->addWidget(view);
    }
    if (photos.size() > TrashConfirmation::kStripThumbnails) {
        const qsizetype more = photos.size() - TrashConfirmation::kStripThumbnails;
        // The thumbnails keep their size; the count takes what room is left and cuts its tail.
        auto* label = new TailCutLabel(QStringLiteral("+%1").arg(more), strip);
        label->setFont(alertFont(kDestinationPoints));
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, secondaryColor(*label));
        label->setPalette(palette);
        label->setAccessibleName(text("另有 %1 张照片").arg(more));
        row->addWidget(label);
    }
    row->addStretch(1);
    strip->setMaximumWidth(kLabelWidth);
    return strip;
}

// The box's grid holds the message in its text column and the buttons in the last row; the
// accessory goes between them.
void placeAboveButtons(QMessageBox& alert, QWidget* accessory) {
    auto* grid = qobject_cast<QGridLayout*>(alert.layout());
    auto* buttons = alert.findChild<QDialogButtonBox*>();
    const int index = grid != nullptr && buttons != nullptr ? grid->indexOf(buttons) : -1;
    if (index < 0) {
        alert.layout()->addWidget(accessory);
        return;
    }
    int row = 0;
    int column = 0;
    int rowSpan = 0;
    int columnSpan = 0;
    grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
    grid->removeWidget(buttons);
    grid->addWidget(accessory, row, 1, 1, grid->columnCount() - 1);
    grid->addWidget(buttons, row + 1, column, rowSpan, columnSpan);
}

} // namespace

TrashConfirmation::Text TrashConfirmation::text(const QList<Photo>& photos) {
    const qsizetype n = photos.size();
    const qsizetype assets = std::count_if(photos.cbegin(), photos.cend(),
                                           [](const Photo& photo) { return photo.isPhotosAsset(); });
    const QString icloud = vennimo::text("开启 iCloud 照片时，会同步删除。");
    const QString recentlyDeleted = vennimo::text("移入照片 App 的「最近删除」。");
    if (assets == 0)
        return {n == 1 ? vennimo::text("将这张原图移到废纸篓？")
                       : vennimo::text("将 %1 张原图移到废纸篓？").arg(n),
                vennimo::text("可从废纸篓恢复。"), std::nullopt};
    if (n == 1)
        return {vennimo::text("删除这张原片？"), recentlyDeleted, icloud};
    if (assets == n)
        return {vennimo::text("删除这 %1 张原片？").arg(n), recentlyDeleted, icloud};
    return {vennimo::text("删除这 %1 张原图？").arg(n),
            vennimo::text("照片原片：%1 张移入「最近删除」\n本地文件：%2 张移入废纸篓")
                .arg(assets)
                .arg(n - assets),
            icloud};
}

TrashConfirmation::Preview TrashConfirmation::preview(const Photo& photo, const std::function<bool()>& stop) {
    for (const QString& path : {photo.thumbnail, photo.path}) {
        if (path.isEmpty() || (stop && stop()))
            continue;
        Result<QImage> image = stop ? ImageDecoder::decodeScaled(path, kPreviewPixels, stop)
                                    : ImageDecoder::decodeScaled(path, kPreviewPixels);
        if (image && !image->isNull())
            return {*image, vennimo::text("待删除照片的缩略图")};
    }
    return {photoSymbol(), vennimo::text("照片预览不可用")};
}

std::unique_ptr<QMessageBox> TrashConfirmation::makeAlert(const QList<Photo>& photos, QWidget* parent) {
    const Text words = text(photos);
    auto alert = newAlert(QMessageBox::Warning, kDestinationPoints, parent);
    alert->setTextFormat(Qt::PlainText);
    alert->setText(words.title);
    const Closed closed = closedWith(*alert);
    if (photos.size() == 1) {
        alert->setIconPixmap(scaledPixmap(photoSymbol(), kIconSize));
        alert->setAccessibleDescription(vennimo::text("照片预览不可用"));
    }

    QPushButton* confirm = alert->addButton(
        words.note ? vennimo::text("删除原片") : vennimo::text("移到废纸篓"), QMessageBox::DestructiveRole);
    QPushButton* cancel = alert->addButton(vennimo::text("取消"), QMessageBox::RejectRole);
    confirm->setAutoDefault(false);
    confirm->setDefault(false);
    alert->setDefaultButton(cancel);
    alert->setEscapeButton(cancel);
    alert->setProperty(kConfirmProperty, QVariant::fromValue(static_cast<QObject*>(confirm)));
    // Last: the box lays itself out anew when its text or icon change, dropping added rows.
    auto* accessory = new QWidget(alert.get());
    auto* column = new QVBoxLayout(accessory);
    column->setSpacing(kSpacing);
    column->setContentsMargins(kSideInset, 0, kSideInset, 0);
    column->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (!words.destination.isEmpty())
        column->addWidget(wrappingLabel(words.destination, kDestinationPoints, std::nullopt, accessory));
    if (words.note && !words.note->isEmpty())
        column->addWidget(wrappingLabel(*words.note, kNotePoints, secondaryColor(*accessory), accessory));
    if (photos.size() > 1)
        column->addWidget(makeStrip(photos, closed, accessory));
    accessory->setFixedWidth(kAccessoryWidth);
    accessory->adjustSize();
    placeAboveButtons(*alert, accessory);
    if (photos.size() == 1) {
        QMessageBox* box = alert.get();
        showPreviewLater(
            photos.first(), closed,
            [box, accessory](const Preview& single) {
                box->setAccessibleDescription(single.accessibleDescription);
                const QPixmap picture = scaledPixmap(single.image, kIconSize);
                // A new icon lays the box out anew, without the rows added to it, at the size
                // it had without them; its label alone takes the picture in place.
                if (auto* icon = box->findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label"))) {
                    icon->setPixmap(picture);
                    return;
                }
                box->setIconPixmap(picture);
                placeAboveButtons(*box, accessory);
                box->setText(box->text());
            },
            *box);
    }

    return alert;
}

QPushButton* TrashConfirmation::confirmButton(const QMessageBox& alert) {
    return qobject_cast<QPushButton*>(alert.property(kConfirmProperty).value<QObject*>());
}

bool TrashConfirmation::run(const QList<Photo>& photos, QWidget* parent) {
    if (photos.isEmpty())
        return false;
    const std::unique_ptr<QMessageBox> alert = makeAlert(photos, parent);
    alert->exec();
    return alert->clickedButton() != nullptr && alert->clickedButton() == confirmButton(*alert);
}

} // namespace vennimo
