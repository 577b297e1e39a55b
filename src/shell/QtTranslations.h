#pragma once

#include <QString>

class QCoreApplication;

namespace vennimo {

// Qt's own texts (the standard buttons, file dialogs, context menus of text fields) in Chinese, as
// the application's screens speak it whatever the session's locale.
class QtTranslations {
public:
    QtTranslations() = delete;

    static constexpr auto kCatalogue = "qtbase_zh_CN";

    // Loads the catalogue from Qt's translations folder and installs it on the application; false
    // when it is not there (Qt's texts then stay English).
    static bool install(QCoreApplication& application, const QString& folder = defaultFolder());
    static QString defaultFolder();
};

} // namespace vennimo
