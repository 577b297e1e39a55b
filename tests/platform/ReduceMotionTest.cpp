#include "platform/ReduceMotion.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

TEST(ReduceMotion, ReadsTheDesktopAnswersAndKeepsThem) {
    struct Case {
        QByteArray output;
        std::optional<bool> animations;
    };
    for (const Case& c : {Case{"true\n", true}, Case{"false\n", false}, Case{"", std::nullopt},
                          Case{"No such schema “org.gnome.desktop.interface”", std::nullopt}})
        EXPECT_EQ(ReduceMotion::animationsFromGsettings(c.output), c.animations) << c.output.toStdString();

    const QString folder = makeFolder("kde");
    EXPECT_EQ(ReduceMotion::animationsFromKdeGlobals(folder + "/missing"), std::nullopt);
    writeFile(folder + "/off", "[KDE]\nAnimationDurationFactor=0\n");
    EXPECT_EQ(ReduceMotion::animationsFromKdeGlobals(folder + "/off"), false);
    writeFile(folder + "/slow", "[KDE]\nAnimationDurationFactor=0.5\n");
    EXPECT_EQ(ReduceMotion::animationsFromKdeGlobals(folder + "/slow"), true);
    writeFile(folder + "/other", "[General]\nName=x\n");
    EXPECT_EQ(ReduceMotion::animationsFromKdeGlobals(folder + "/other"), std::nullopt);

    int reads = 0;
    std::optional<bool> answer;
    ReduceMotion::setReader([&] {
        ++reads;
        return answer;
    });
    EXPECT_FALSE(ReduceMotion::isOn()) << "a desktop that says nothing leaves motion on";
    answer = true;
    EXPECT_FALSE(ReduceMotion::isOn()) << "kept until reloaded";
    EXPECT_EQ(reads, 1);
    ReduceMotion::reload();
    EXPECT_TRUE(ReduceMotion::isOn());
    EXPECT_EQ(reads, 2);
    ReduceMotion::setReader({});
}
