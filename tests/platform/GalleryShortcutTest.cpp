#include "platform/GalleryShortcut.h"

#include <QSet>
#include <gtest/gtest.h>

namespace vennimo {
namespace {

TEST(GalleryShortcut, KeyTableLabelsAndValidity) {
    const auto& keys = GalleryShortcut::keys();
    EXPECT_EQ(keys.front().name, 'A');
    EXPECT_EQ(keys[25].name, 'Z');
    EXPECT_EQ(keys[26].name, '0');
    EXPECT_EQ(keys.back().name, '9');
    QSet<std::uint32_t> codes;
    for (const auto& key : keys)
        codes.insert(key.keyCode);
    EXPECT_EQ(codes.size(), 36) << "every key has its own code";
    const std::pair<char, std::uint32_t> known[] = {{'A', 0}, {'B', 11}, {'C', 8},  {'P', 35},
                                                    {'Z', 6}, {'0', 29}, {'1', 18}, {'9', 25}};
    for (auto [name, code] : known) {
        const auto it =
            std::find_if(keys.begin(), keys.end(), [name](const auto& k) { return k.name == name; });
        ASSERT_NE(it, keys.end());
        EXPECT_EQ(it->keyCode, code) << name;
    }

    const GalleryShortcut fallback;
    EXPECT_EQ(fallback.keyCode, 35u);
    EXPECT_EQ(fallback.modifiers, 0x1800u);
    EXPECT_TRUE(fallback.isValid());
    EXPECT_EQ(fallback.label(), QStringLiteral("⌃⌥P"));
    EXPECT_EQ((GalleryShortcut{35, 0x1100}.label()), QStringLiteral("⌃⌘P"));
    EXPECT_EQ((GalleryShortcut{0, 0x1B00}.label()), QStringLiteral("⌃⌥⇧⌘A"));
    EXPECT_EQ((GalleryShortcut{122, 0x100}.label()), QStringLiteral("⌘?"));

    EXPECT_TRUE((GalleryShortcut{0, 0x300}.isValid())) << "Command-Shift-A";
    EXPECT_TRUE((GalleryShortcut{25, 0x1000}.isValid())) << "Control-9";
    EXPECT_FALSE((GalleryShortcut{35, 0x800}.isValid())) << "Option alone";
    EXPECT_FALSE((GalleryShortcut{35, 0x200}.isValid())) << "Shift alone";
    EXPECT_FALSE((GalleryShortcut{122, 0x1000}.isValid())) << "a function key";
    EXPECT_FALSE((GalleryShortcut{35, 0x1000 | 0x4000}.isValid())) << "an unknown modifier bit";
    EXPECT_FALSE((GalleryShortcut{35, 0x1000 | 0x1}.isValid()));
}

TEST(GalleryShortcut, JsonRoundTripAndStrictDecoding) {
    EXPECT_EQ(toJson(GalleryShortcut{}), QByteArray(R"({"keyCode":35,"modifiers":6144})"));
    const GalleryShortcut odd{4000000000u, 0x1100};
    const auto back = galleryShortcutFromJson(toJson(odd));
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(*back, odd);

    const auto extra = galleryShortcutFromJson(R"({"keyCode":0,"modifiers":256,"note":"x"})");
    ASSERT_TRUE(extra.ok()) << "unknown keys are ignored";
    EXPECT_EQ(*extra, (GalleryShortcut{0, 256}));
    const auto invalidButDecodable = galleryShortcutFromJson(R"({"keyCode":35,"modifiers":2048})");
    ASSERT_TRUE(invalidButDecodable.ok()) << "decoding does not judge validity";
    EXPECT_FALSE(invalidButDecodable->isValid());

    for (const char* bad :
         {"", "[]", "{}", "{\"keyCode\":35}", "{\"keyCode\":-1,\"modifiers\":4096}",
          "{\"keyCode\":4294967296,\"modifiers\":4096}", "{\"keyCode\":3.5,\"modifiers\":4096}",
          "{\"keyCode\":\"35\",\"modifiers\":4096}", "{\"keyCode\":35,\"modifiers\":true}", "not json"})
        EXPECT_FALSE(galleryShortcutFromJson(QByteArray(bad)).ok()) << bad;
}

} // namespace
} // namespace vennimo
