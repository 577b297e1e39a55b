#pragma once

#include <QDropEvent>
#include <QList>
#include <QMimeData>
#include <QPainter>
#include <QStringList>
#include <QUrl>
#include <QWidget>

namespace vennimo::test {

// A window of another program that takes whatever is dropped on it, as a chat window would.
class DropWindow : public QWidget {
public:
    QList<QUrl> urls;
    QStringList formats;
    Qt::DropAction action = Qt::IgnoreAction;
    // What the source allowed: a file manager would move the original when Move is among them.
    Qt::DropActions offered;
    // How often a drag over it was answered: a source that lets go before it has heard the answer
    // drops nothing.
    int answered = 0;

    DropWindow() {
        setAcceptDrops(true);
        setWindowTitle("drop here");
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor(250, 246, 232));
        p.setPen(QColor(120, 110, 90));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        p.drawText(rect(), Qt::AlignCenter, urls.isEmpty() ? "drop here" : urls.first().fileName());
    }
    void dragEnterEvent(QDragEnterEvent* event) override {
        event->acceptProposedAction();
        ++answered;
    }
    void dragMoveEvent(QDragMoveEvent* event) override {
        event->acceptProposedAction();
        ++answered;
    }
    void dropEvent(QDropEvent* event) override {
        urls = event->mimeData()->urls();
        formats = event->mimeData()->formats();
        action = event->dropAction();
        offered = event->possibleActions();
        event->acceptProposedAction();
        update();
    }
};

} // namespace vennimo::test
