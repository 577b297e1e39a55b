#include "FuzzSupport.h"

#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>

namespace vennimo::fuzz {

namespace {
QString g_storage;
}

void initialize() {
    static bool done = false;
    if (done)
        return;
    done = true;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    static QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/vennimo-fuzz-XXXXXX"));
    g_storage = folder.path();
}

const QString& storage() {
    return g_storage;
}

} // namespace vennimo::fuzz
