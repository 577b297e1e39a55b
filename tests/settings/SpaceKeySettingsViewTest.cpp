#include "settings/SpaceKeySettingsView.h"

#include "support/TestEnvironment.h"

#include <QComboBox>
#include <QFile>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

namespace vennimo {
namespace {

QStringList items(const QComboBox* picker) {
    QStringList texts;
    for (int i = 0; i < picker->count(); ++i)
        texts.append(picker->itemData(i).isValid()
                         ? picker->itemText(i) + "=" + picker->itemData(i).toString()
                         : QStringLiteral("—"));
    return texts;
}

void pick(QComboBox* picker, const QString& tag) {
    const int index = picker->findData(tag);
    ASSERT_GE(index, 0) << qPrintable(tag);
    picker->setCurrentIndex(index);
    Q_EMIT picker->activated(index);
}

TEST(SpaceKeySettingsView, TagsMapToOpenersAndBack) {
    EXPECT_EQ(SpaceKeySettingsView::selection(SpaceKeyOpener::preview()), "preview");
    EXPECT_EQ(SpaceKeySettingsView::selection(SpaceKeyOpener::defaultApp()), "default");
    EXPECT_EQ(SpaceKeySettingsView::selection(SpaceKeyOpener::app("/opt/v.desktop")), "/opt/v.desktop");
    EXPECT_EQ(SpaceKeySettingsView::openerForTag("preview"), SpaceKeyOpener::preview());
    EXPECT_EQ(SpaceKeySettingsView::openerForTag("default"), SpaceKeyOpener::defaultApp());
    EXPECT_EQ(SpaceKeySettingsView::openerForTag("/opt/v.desktop"), SpaceKeyOpener::app("/opt/v.desktop"));
    EXPECT_EQ(SpaceKeySettingsView::openerForTag("choose"), std::nullopt) << "asks instead";
    EXPECT_EQ(SpaceKeySettingsView::openerForTag("viewer.desktop"), SpaceKeyOpener::preview()) << "relative";
    EXPECT_EQ(SpaceKeySettingsView::openerForTag(""), SpaceKeyOpener::preview());
}

TEST(SpaceKeySettingsView, ThePickerListsTheChosenApplicationBetweenDividersAndAsksForAnother) {
    const QString applications = test::makeFolder("data/applications");
    qputenv("XDG_DATA_HOME", QFile::encodeName(test::makeFolder("data")));
    test::writeFile(applications + "/viewer.desktop", "[Desktop Entry]\nName=Viewer\nExec=viewer %F\n");
    test::writeFile(applications + "/paint.desktop", "[Desktop Entry]\nName=Paint.app\nExec=paint %f\n");
    test::writeFile(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                        "/mimeapps.list",
                    "[Default Applications]\nimage/jpeg=viewer.desktop\n");

    SpaceKeySettingsView view;
    QList<SpaceKeyOpener> edits;
    QObject::connect(&view, &SpaceKeySettingsView::openerEdited,
                     [&](const SpaceKeyOpener& opener) { edits.append(opener); });
    QComboBox* picker = view.picker();
    EXPECT_EQ(items(picker), QStringList({"应用内大图预览=preview", "系统默认应用（Viewer）=default", "—",
                                          "选择其他应用…=choose"}));
    EXPECT_EQ(picker->currentData().toString(), "preview");

    pick(picker, "default");
    ASSERT_EQ(edits.size(), 1);
    EXPECT_EQ(edits.takeFirst(), SpaceKeyOpener::defaultApp());

    // "choose" keeps the previous item shown and opens the panel a turn later; a cancel changes
    // nothing, a choice shows the application between two dividers.
    std::optional<QString> answer;
    int asked = 0;
    view.setChooseApplication([&] {
        ++asked;
        return answer;
    });
    pick(picker, "choose");
    EXPECT_EQ(picker->currentData().toString(), "default");
    EXPECT_EQ(asked, 0);
    QTest::qWait(0);
    QCoreApplication::processEvents();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(edits.isEmpty());
    answer = applications + "/paint.desktop";
    pick(picker, "choose");
    QCoreApplication::processEvents();
    ASSERT_EQ(edits.size(), 1);
    EXPECT_EQ(view.opener(), SpaceKeyOpener::app(*answer));
    EXPECT_EQ(items(picker), QStringList({"应用内大图预览=preview", "系统默认应用（Viewer）=default", "—",
                                          "Paint=" + *answer, "—", "选择其他应用…=choose"}))
        << "the name loses its \".app\"";
    EXPECT_EQ(picker->currentData().toString(), *answer);

    // Back to the preview: the application's item goes.
    pick(picker, "preview");
    EXPECT_EQ(view.opener(), SpaceKeyOpener::preview());
    EXPECT_EQ(picker->count(), 4);
}

} // namespace
} // namespace vennimo
