#pragma once

#include "platform/Appcast.h"
#include "platform/Error.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>

namespace vennimo {

class Updater;

// The updater's windows: the offer of a newer release, and, for a check the user asked for,
// "up to date" or the failure. Each is a window of its own marked with kWindowProperty, so the
// window-layer code can recognise and lift it while a check runs.
class UpdateWindows : public QObject {
    Q_OBJECT

public:
    static constexpr auto kWindowProperty = "vennimoUpdaterWindow";

    explicit UpdateWindows(Updater& updater, QObject* parent = nullptr);
    ~UpdateWindows() override;

    // The updater's windows that are open now.
    QList<QWidget*> windows() const;
    static bool isUpdateWindow(const QWidget* window);

Q_SIGNALS:
    void windowShown(QWidget* window);
    // The check has ended and its window, if any, is up; the presenter puts lifted windows back.
    void sessionFinished();

private:
    void present(const QString& text, const QString& informative, const QUrl& download);

    QList<QPointer<QWidget>> m_windows;
};

} // namespace vennimo
