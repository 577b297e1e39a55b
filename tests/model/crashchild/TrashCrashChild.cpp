// Deletes every photo of a source folder through a fresh model and, when asked, kills itself with
// SIGKILL the given number of microseconds after the delete began. Prints how long the delete
// took, in microseconds, when it lived to see it end.
// Usage: trash_crash_child STORAGE FOLDER DELAY_US   (a negative delay never kills)
#include "model/GalleryModel.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>
#include <unistd.h>

using namespace vennimo;

int main(int argc, char** argv) {
    if (argc != 4)
        return 64;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString storage = QString::fromLocal8Bit(argv[1]);
    const QString folder = QString::fromLocal8Bit(argv[2]);
    const long long delay = QByteArray(argv[3]).toLongLong();

    GalleryModel model(
        std::make_unique<Indexer>(QList<SourceRoot>{{QStringLiteral("桌面"), folder}}, storage), false);
    QElapsedTimer clock;
    QTimer poll;
    bool started = false;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (!started && !model.scanInFlight() && !model.photos().isEmpty()) {
            started = true;
            if (delay >= 0)
                std::thread([delay] {
                    std::this_thread::sleep_for(std::chrono::microseconds(delay));
                    ::kill(::getpid(), SIGKILL);
                }).detach();
            clock.start();
            model.trashSelection(model.photos(), RopeHistoryRecording::record);
        } else if (started && !model.deleting()) {
            std::printf("%lld\n", static_cast<long long>(clock.nsecsElapsed() / 1000));
            std::fflush(stdout);
            QCoreApplication::exit(0);
        }
    });
    poll.start(0);
    model.refresh(std::nullopt, false);
    return QCoreApplication::exec();
}
