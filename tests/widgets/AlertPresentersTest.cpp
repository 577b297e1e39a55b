#include "widgets/AlertPresenters.h"
#include "model/DeferredStateExit.h"
#include "model/GalleryModel.h"
#include "platform/JpegDecoder.h"
#include "support/ShownText.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"
#include "widgets/PhotosAccessAlert.h"
#include "widgets/QuitBlockedAlert.h"
#include "widgets/SourceFolderAlert.h"
#include "widgets/TailCutLabel.h"
#include "widgets/TrashConfirmation.h"
#include "widgets/TrashFailureAlert.h"
#include "widgets/UnsavedStateAlert.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace vennimo;
using namespace vennimo::test;

namespace {

Photo imagePhoto(const QString& name, QColor color) {
    Photo photo;
    photo.id = "1-" + name;
    photo.path = makeFolder("photos") + "/" + name;
    saveImage(makeImage(120, 80, color), photo.path);
    return photo;
}

Photo assetPhoto(const QString& name) {
    Photo photo = imagePhoto(name, Qt::darkGreen);
    photo.photosOrigin = PhotosOrigin{"A/L0/001", "/Pictures/Photos Library.photoslibrary"};
    return photo;
}

// Saves what the alert shows under the build folder, for a person to look at.
void grab(QMessageBox& alert, const QString& name) {
    alert.show();
    alert.adjustSize();
    QApplication::processEvents();
    const QString path = QStringLiteral(QT_TESTCASE_BUILDDIR "/") + name + ".png";
    EXPECT_TRUE(alert.grab().save(path)) << path.toStdString();
    alert.hide();
}

QStringList buttonTexts(const QMessageBox& alert) {
    QStringList texts;
    for (QAbstractButton* button : alert.buttons())
        texts.append(button->text());
    // The desktop's style decides the order on screen.
    texts.sort();
    return texts;
}

QStringList accessibleNames(const QMessageBox& alert) {
    QStringList names;
    for (const QLabel* label : alert.findChildren<QLabel*>())
        if (!label->accessibleName().isEmpty())
            names.append(label->accessibleName());
    names.sort();
    return names;
}

// Presses a key in the modal alert that is about to run.
void pressInNextAlert(Qt::Key key) {
    QTimer::singleShot(0, [key] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        QTest::keyClick(modal, key);
    });
}

} // namespace

TEST(TrashConfirmation, TitlesCountPhotosAndAssets) {
    const Photo plain = imagePhoto("a.png", Qt::red);
    const Photo asset = assetPhoto("b.png");
    using Text = TrashConfirmation::Text;
    const QString icloud = "开启 iCloud 照片时，会同步删除。";
    struct Case {
        QList<Photo> photos;
        Text text;
    };
    for (const Case& c : QList<Case>{
             {{plain}, Text{"将这张原图移到废纸篓？", "可从废纸篓恢复。", std::nullopt}},
             {{plain, plain, plain}, Text{"将 3 张原图移到废纸篓？", "可从废纸篓恢复。", std::nullopt}},
             {{asset}, Text{"删除这张原片？", "移入照片 App 的「最近删除」。", icloud}},
             {{asset, asset}, Text{"删除这 2 张原片？", "移入照片 App 的「最近删除」。", icloud}},
             {{asset, plain, plain, plain},
              Text{"删除这 4 张原图？", "照片原片：1 张移入「最近删除」\n本地文件：3 张移入废纸篓", icloud}},
         })
        EXPECT_EQ(TrashConfirmation::text(c.photos), c.text) << c.text.title.toStdString();
}

TEST(TrashConfirmation, AlertsShowTheirPhotosAndReturnCancels) {
    const QList<Photo> mixed{assetPhoto("a.png"), imagePhoto("b.png", Qt::red), imagePhoto("c.png", Qt::blue),
                             imagePhoto("d.png", Qt::darkYellow)};
    const auto many = TrashConfirmation::makeAlert(mixed);
    EXPECT_EQ(many->text(), "删除这 4 张原图？");
    EXPECT_EQ(buttonTexts(*many), (QStringList{"删除原片", "取消"}));
    EXPECT_EQ(TrashConfirmation::confirmButton(*many)->text(), "删除原片");
    EXPECT_EQ(accessibleNames(*many), (QStringList{"另有 1 张照片", "待删除的第 1 张照片",
                                                   "待删除的第 2 张照片", "待删除的第 3 张照片"}));
    grab(*many, "trash-confirmation-mixed");

    Photo unreadable;
    unreadable.path = "/nowhere/gone.png";
    EXPECT_EQ(TrashConfirmation::preview(unreadable).accessibleDescription, "照片预览不可用");
    EXPECT_FALSE(TrashConfirmation::preview(unreadable).image.isNull());
    EXPECT_EQ(TrashConfirmation::preview(mixed[1]).accessibleDescription, "待删除照片的缩略图");

    const auto single = TrashConfirmation::makeAlert({mixed[1]});
    EXPECT_EQ(buttonTexts(*single), (QStringList{"取消", "移到废纸篓"}));
    EXPECT_TRUE(accessibleNames(*single).isEmpty()) << "one photo shows as the icon, not a strip";
    EXPECT_FALSE(single->iconPixmap().isNull());
    grab(*single, "trash-confirmation-single");

    pressInNextAlert(Qt::Key_Return);
    EXPECT_FALSE(TrashConfirmation::run({mixed[1]})) << "Return cancels";
    QTimer::singleShot(0, [] {
        auto* alert = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(alert, nullptr);
        TrashConfirmation::confirmButton(*alert)->click();
    });
    EXPECT_TRUE(TrashConfirmation::run({mixed[1]}));
}

// A photo without a thumbnail (a picture the index refused never gets one) would have its original
// read on the main thread while the user waits for the question: a stand-in shows, and the picture
// takes its place once read elsewhere.
TEST(TrashConfirmation, PicturesAreReadOffTheMainThread) {
    const Photo original = imagePhoto("f.png", Qt::red);
    ASSERT_TRUE(original.thumbnail.isEmpty());
    const auto single = TrashConfirmation::makeAlert({original});
    EXPECT_EQ(single->accessibleDescription(), "照片预览不可用")
        << "the original was read on the main thread";
    const QImage standIn = single->iconPixmap().toImage();
    single->show();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return single->accessibleDescription() == "待删除照片的缩略图"; }, 10000));
    EXPECT_NE(single->iconPixmap().toImage(), standIn) << "the picture did not take the stand-in's place";
    const QImage icon = single->iconPixmap().toImage();
    ASSERT_FALSE(icon.isNull()) << "the picture came in as nothing";
    EXPECT_TRUE(isMarkerRed(icon.pixelColor(icon.rect().center()))) << "the icon is not the photo";
    // The picture coming in lays the box out anew: the note still stands between the title and
    // the buttons, and covers neither.
    QTest::qWait(200);
    QLabel* noteLabel = nullptr;
    for (QLabel* label : single->findChildren<QLabel*>())
        if (label->text() == "可从废纸篓恢复。")
            noteLabel = label;
    ASSERT_NE(noteLabel, nullptr);
    const auto* buttons = single->findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    const QRect noteArea(noteLabel->mapTo(single.get(), QPoint()), noteLabel->size());
    EXPECT_LE(noteArea.bottom(), buttons->geometry().top()) << "the note lies under the buttons";
    single->hide();

    const auto many = TrashConfirmation::makeAlert({original, original});
    const QList<QLabel*> views = many->findChildren<QLabel*>(QString(), Qt::FindChildrenRecursively);
    QList<QLabel*> strip;
    for (QLabel* view : views)
        if (view->accessibleName().startsWith("待删除的第"))
            strip.append(view);
    ASSERT_EQ(strip.size(), 2);
    EXPECT_EQ(strip[0]->pixmap().toImage(), strip[1]->pixmap().toImage());
    const QImage shownFirst = strip[0]->pixmap().toImage();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return strip[0]->pixmap().toImage() != shownFirst && strip[1]->pixmap().toImage() != shownFirst;
        },
        10000))
        << "the strip kept its stand-ins";
}

// The user answers before the pictures are read: an alert closed while its picture is being read
// ends that read, so that the next alert's pictures do not wait behind it, and what was read for
// it before it closed goes nowhere. Run under the sanitizers too, which see a read handed to an
// alert that is gone.
TEST(TrashConfirmation, AnAlertClosedWhileItsPictureIsReadEndsTheReadAndHearsNothingOfIt) {
    // A picture keeping more than the share of coefficients waits while another one is decoded:
    // the one held here, inside its stop, holds the read of the alert's picture as long as it
    // likes.
    const QByteArray large = manyScanJpeg(7200, 7200, 1, 0, 3);
    Photo held;
    held.id = "1-held.jpg";
    held.path = makeFolder("held") + "/held.jpg";
    writeFile(held.path, large);
    std::promise<void> holding;
    std::atomic<bool> release{false};
    std::atomic<bool> told{false};
    auto holder = std::async(std::launch::async, [&] {
        return JpegDecoder::decode(large, 256, [&] {
            if (!told.exchange(true))
                holding.set_value();
            while (!release.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return true;
        });
    });
    const auto released = qScopeGuard([&] {
        release = true;
        holder.wait();
    });
    holding.get_future().wait();

    auto waiting = TrashConfirmation::makeAlert({held});
    waiting->show();
    QTest::qWait(300);
    EXPECT_EQ(waiting->accessibleDescription(), "照片预览不可用") << "the held picture was read";
    waiting.reset();
    const auto next = TrashConfirmation::makeAlert({imagePhoto("next.png", Qt::red)});
    next->show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return next->accessibleDescription() == "待删除照片的缩略图"; }, 20000))
        << "the next alert's picture waits behind the read of a closed one";
    next->hide();

    // Read and handed over while the main thread is busy, then closed before the hand-over runs.
    auto closing = TrashConfirmation::makeAlert({imagePhoto("closing.png", Qt::red)});
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    closing.reset();
    QTest::qWait(300);
}

TEST(TrashConfirmation, TheCountGivesWayToTheThumbnailsAndCutsItsTail) {
    const Photo photo = imagePhoto("e.png", Qt::red);
    struct Case {
        qsizetype photos;
        QString shown;
    };
    // Three thumbnails fill all but 30 points of the 216-point strip: a short count fits in
    // that room, a long one does not.
    for (const Case& c : QList<Case>{{4, "+1"}, {123459, "+…"}}) {
        const auto alert = TrashConfirmation::makeAlert(QList<Photo>(c.photos, photo));
        alert->show();
        QApplication::processEvents();
        const QString name = QString("另有 %1 张照片").arg(c.photos - 3);
        auto* count = alert->findChild<TailCutLabel*>();
        ASSERT_NE(count, nullptr);
        EXPECT_EQ(count->accessibleName(), name) << "the whole count stays readable";
        QWidget* strip = count->parentWidget();
        EXPECT_LE(strip->width(), 216);
        EXPECT_LE(count->geometry().right(), strip->width() - 1) << name.toStdString();
        int thumbnails = 0;
        for (const QLabel* label : strip->findChildren<QLabel*>()) {
            if (label == count)
                continue;
            ++thumbnails;
            EXPECT_EQ(label->size(), QSize(54, 54)) << label->accessibleName().toStdString();
            EXPECT_GE(count->x(), label->geometry().right() + 8) << "the count keeps off the thumbnails";
        }
        EXPECT_EQ(thumbnails, 3);
        EXPECT_EQ(count->shownText(), c.shown);
        alert->hide();
    }
}

TEST(Alerts, AccessAndFailureAlertsCarryTheirTextsAndTheModelUsesThem) {
    const auto access = PhotosAccessAlert::makeAlert();
    EXPECT_EQ(access->text(), "需要照片图库权限");
    EXPECT_EQ(access->informativeText(), "删除照片 App 中的原片需要访问照片图库。");
    EXPECT_EQ(buttonTexts(*access), (QStringList{"取消", "打开系统设置"}));
    grab(*access, "photos-access");
    QStringList opened;
    const auto launch = [&](const QString& program) { return opened.append(program), true; };
    pressInNextAlert(Qt::Key_Escape);
    PhotosAccessAlert::run(nullptr, "/usr/bin/lxqt-config", launch);
    EXPECT_TRUE(opened.isEmpty()) << "cancel opens nothing";
    pressInNextAlert(Qt::Key_Return);
    PhotosAccessAlert::run(nullptr, "/usr/bin/lxqt-config", launch);
    EXPECT_EQ(opened, QStringList{"/usr/bin/lxqt-config"});

    // The desktop's own settings program is the one found on the path.
    const QString bin = makeFolder("settings-bin");
    writeFile(bin + "/xfce4-settings-manager", "#!/bin/sh\n");
    QFile::setPermissions(bin + "/xfce4-settings-manager", QFile::ReadOwner | QFile::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin));
    EXPECT_EQ(DesktopSettings::installedProgram(), bin + "/xfce4-settings-manager");
    qputenv("PATH", QFile::encodeName(makeFolder("empty-bin")));
    const QString none = DesktopSettings::installedProgram();
    qputenv("PATH", path);
    EXPECT_TRUE(none.isEmpty());
    // Without one, the alert says so and offers nothing to open.
    const auto without = PhotosAccessAlert::makeAlert(nullptr, false);
    EXPECT_EQ(buttonTexts(*without), QStringList{"取消"});
    grab(*without, "photos-access-without-settings");
    EXPECT_EQ(without->informativeText(),
              "删除照片 App 中的原片需要访问照片图库。\n这个桌面没有可以打开的系统设置程序。");
    pressInNextAlert(Qt::Key_Return);
    PhotosAccessAlert::run(nullptr, {}, launch);
    EXPECT_EQ(opened.size(), 1);

    const QString informative = "<b>a.png</b>：没有权限。（POSIX 13）\n\n未能删除的原图与挂绳状态保持不变。";
    const auto failure = TrashFailureAlert::makeAlert("有 1 张照片未能删除", informative);
    EXPECT_EQ(buttonTexts(*failure), QStringList{"知道了"});
    EXPECT_EQ(failure->informativeText(), informative);
    EXPECT_EQ(failure->findChild<QLabel*>("qt_msgbox_informativelabel")->textFormat(), Qt::PlainText)
        << "a file name is never markup";
    grab(*failure, "trash-failure");

    // Installed on a model, the confirmation decides the delete.
    GalleryModel model(std::make_unique<Indexer>(QList<SourceRoot>{}, storageFolder()), false);
    installAlertPresenters(model);
    pressInNextAlert(Qt::Key_Escape);
    EXPECT_FALSE(model.requestTrashConfirmation()({imagePhoto("e.png", Qt::gray)}));
}

TEST(Alerts, QuitAlertsNameTheReasonAndEscapeStays) {
    const auto blocked = QuitBlockedAlert::makeAlert("正在删除照片");
    EXPECT_EQ(blocked->text(), "正在删除照片");
    EXPECT_EQ(blocked->informativeText(), "请等待保存完成。");
    EXPECT_EQ(buttonTexts(*blocked), QStringList{"好"});
    grab(*blocked, "quit-blocked");

    const Error error = Error::make("Vennimo.Placements", 1, "磁盘已满");
    const auto unsaved = UnsavedStateAlert::makeAlert(error);
    EXPECT_EQ(unsaved->text(), "部分状态未能保存");
    EXPECT_EQ(unsaved->informativeText(), "叠放顺序或“新照片”标记未写入：磁盘已满\n照片与位置不受影响。");
    EXPECT_EQ(buttonTexts(*unsaved), (QStringList{"取消", "放弃并退出", "重试"}));
    grab(*unsaved, "unsaved-state");

    // Installed on a model: Escape cancels, Return retries, the second button gives up.
    GalleryModel model(std::make_unique<Indexer>(QList<SourceRoot>{}, storageFolder()), false);
    installAlertPresenters(model);
    pressInNextAlert(Qt::Key_Escape);
    EXPECT_EQ(model.deferredStateAlert()(error), DeferredStateExitChoice::cancel);
    pressInNextAlert(Qt::Key_Return);
    EXPECT_EQ(model.deferredStateAlert()(error), DeferredStateExitChoice::retry);
    QTimer::singleShot(0, [] {
        auto* alert = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(alert, nullptr);
        for (QAbstractButton* button : alert->buttons())
            if (button->text() == "放弃并退出")
                button->click();
    });
    EXPECT_EQ(model.deferredStateAlert()(error), DeferredStateExitChoice::discardAndQuit);
}

// Every alert names the product, not the program's technical name an untitled window would show.
TEST(Alerts, EveryAlertCarriesTheProductsName) {
    const std::unique_ptr<QMessageBox> alerts[] = {
        PhotosAccessAlert::makeAlert(),
        TrashFailureAlert::makeAlert("有 1 张照片未能删除", "磁盘已满"),
        QuitBlockedAlert::makeAlert("正在删除照片"),
        UnsavedStateAlert::makeAlert(Error::make("Vennimo.Placements", 1, "磁盘已满")),
        TrashConfirmation::makeAlert({imagePhoto("title.jpg", Qt::darkRed)}),
        SourceFolderAlert::makeAlert("未删除照片", "请选择原来的源文件夹：/home/a"),
    };
    for (const auto& alert : alerts)
        EXPECT_EQ(alert->windowTitle(), "Vennimo") << alert->text().toStdString();
}

// Paths, file names and reasons show as they are written, even when they look like markup.
TEST(Alerts, PathsAndNamesShowAsWrittenNeverAsMarkup) {
    const QString path = "/home/a/<b>相册</b> & <i>旧</i>";
    const Error error = Error::fromErrno(EACCES, path);
    struct Case {
        const char* name;
        std::unique_ptr<QMessageBox> alert;
        QStringList shown;
    };
    Case cases[] = {
        {"source folder",
         SourceFolderAlert::makeAlert("未删除照片", "请选择原来的源文件夹：" + path),
         {"未删除照片", "请选择原来的源文件夹：" + path}},
        {"grant not saved",
         SourceFolderAlert::makeAlert("授权未保存，未删除照片", error.localizedDescription()),
         {"授权未保存，未删除照片", error.localizedDescription()}},
        {"trash failure",
         TrashFailureAlert::makeAlert("<u>有 1 张照片未能删除</u>", path + "：没有权限"),
         {"<u>有 1 张照片未能删除</u>", path + "：没有权限"}},
        {"quit blocked", QuitBlockedAlert::makeAlert("<b>正在删除</b>"), {"<b>正在删除</b>"}},
        {"unsaved state",
         UnsavedStateAlert::makeAlert(error),
         {DeferredStateExit::alertInformativeText(error)}},
    };
    for (const Case& c : cases) {
        const QStringList shown = shownTexts(*c.alert);
        for (const QString& text : c.shown)
            EXPECT_TRUE(shown.contains(text)) << c.name << ": " << shown.join(u'|').toStdString();
    }
    grab(*cases[0].alert, "source-folder-markup-path");
}
