#include "platform/DesktopApplications.h"

#include "support/TestEnvironment.h"

#include <QFile>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace vennimo {
namespace {

using test::writeFile;

TEST(DesktopApplications, FindsTheDefaultEntryOfATypeAndItsIcon) {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString home = test::makeFolder("data/applications");
    const QString system = test::makeFolder("system");
    const QByteArray oldDirs = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_HOME", QFile::encodeName(test::makeFolder("data")));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(system));
    test::makeFolder("system/applications/kde");
    writeFile(home + "/viewer.desktop", "[Desktop Entry]\nName=Viewer\nIcon=image-viewer\nExec=viewer %F\n");
    writeFile(system + "/applications/kde/okular.desktop",
              "[Desktop Entry]\nName=Okular\nIcon=/opt/okular.png\n");
    writeFile(system + "/applications/mimeinfo.cache", "[MIME Cache]\nimage/png=kde-okular.desktop;\n");

    EXPECT_EQ(DesktopApplications::defaultFor("image/jpeg"), std::nullopt)
        << "nothing chosen, nothing cached";
    EXPECT_EQ(DesktopApplications::defaultFor("image/png"), system + "/applications/kde/okular.desktop")
        << "the cache's entry, found in its subfolder";

    // A choice whose entry is gone is passed over for the next one.
    writeFile(config + "/mimeapps.list", "[Added Associations]\nimage/jpeg=okular.desktop;\n"
                                         "[Default Applications]\nimage/jpeg=gone.desktop;viewer.desktop;\n");
    EXPECT_EQ(DesktopApplications::defaultFor("image/jpeg"), home + "/viewer.desktop");
    EXPECT_EQ(DesktopApplications::locate("../viewer.desktop"), std::nullopt) << "ids stay in the folders";
    EXPECT_EQ(DesktopApplications::iconName(home + "/viewer.desktop"), "image-viewer");
    EXPECT_EQ(DesktopApplications::iconName(system + "/applications/kde/okular.desktop"), "/opt/okular.png");
    EXPECT_EQ(DesktopApplications::iconName(system + "/none.desktop"), "");
    qputenv("XDG_DATA_DIRS", oldDirs);
}

} // namespace
} // namespace vennimo
