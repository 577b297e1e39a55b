#include "shell/UpdateWindows.h"

#include "platform/Updater.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>

namespace vennimo {

UpdateWindows::UpdateWindows(Updater& updater, QObject* parent)
    : QObject(parent) {
    connect(&updater, &Updater::updateFound, this, [this](const AppcastItem& item, bool) {
        const QUrl download = item.downloadUrl.isValid() ? item.downloadUrl : item.link;
        present(QStringLiteral("Vennimo %1 可以下载了。").arg(item.displayVersion),
                item.title.isEmpty() ? QString() : item.title, download);
    });
    connect(&updater, &Updater::noUpdateFound, this, [this](bool userInitiated) {
        if (userInitiated)
            present(QStringLiteral("已是最新版本。"), {}, {});
    });
    connect(&updater, &Updater::checkFailed, this, [this](const Error& error, bool userInitiated) {
        if (userInitiated)
            present(error.localizedDescription(), error.failureReason, {});
    });
    connect(&updater, &Updater::sessionFinished, this, &UpdateWindows::sessionFinished);
}

UpdateWindows::~UpdateWindows() {
    for (const QPointer<QWidget>& window : std::as_const(m_windows))
        delete window.data();
}

bool UpdateWindows::isUpdateWindow(const QWidget* window) {
    return window && window->property(kWindowProperty).toBool();
}

QList<QWidget*> UpdateWindows::windows() const {
    QList<QWidget*> open;
    for (const QPointer<QWidget>& window : m_windows) {
        if (window)
            open.append(window);
    }
    return open;
}

void UpdateWindows::present(const QString& text, const QString& informative, const QUrl& download) {
    // Not modal: the rope and the gallery stay usable while the offer is open.
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("软件更新"), text);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setProperty(kWindowProperty, true);
    // Everything shown comes from the feed or the network: plain text, never markup with links
    // the label would open or nesting that takes the layout down.
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(informative.isEmpty() ? QString() : Qt::convertFromPlainText(informative));
    if (download.isValid() &&
        (download.scheme() == QLatin1String("https") || download.scheme() == QLatin1String("http"))) {
        QPushButton* get = box->addButton(QStringLiteral("下载"), QMessageBox::AcceptRole);
        box->addButton(QStringLiteral("以后再说"), QMessageBox::RejectRole);
        connect(get, &QPushButton::clicked, box, [download] { QDesktopServices::openUrl(download); });
    } else {
        box->addButton(QStringLiteral("好"), QMessageBox::AcceptRole);
    }
    m_windows.removeAll(nullptr);
    m_windows.append(box);
    box->show();
    Q_EMIT windowShown(box);
}

} // namespace vennimo
