#include "shell/QtTranslations.h"

#include "platform/Logging.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace vennimo {

bool QtTranslations::install(QCoreApplication& application, const QString& folder) {
    auto* translator = new QTranslator(&application);
    if (!translator->load(QString::fromLatin1(kCatalogue), folder)) {
        qCWarning(lcApp) << "Qt's Chinese texts are not installed in" << folder;
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

QString QtTranslations::defaultFolder() {
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

} // namespace vennimo
