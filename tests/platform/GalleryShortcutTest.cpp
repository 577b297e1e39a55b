#include "platform/GalleryShortcut.h"

#include <gtest/gtest.h>

namespace vennimo {
namespace {

TEST(GalleryShortcut, KeyCodesLabelsValidityAndStrictJson) {
    // The stored key codes are the Carbon virtual key codes; a wrong one opens the wrong key.
    const auto& keys = GalleryShortcut::keys();
    ASSERT_EQ(keys.size(), 36u);
    for (auto [index, name, code] : {std::tuple{1, 'B', 11u}, {15, 'P', 35u}, {25, 'Z', 6u}, {27, '1', 18u}})
        EXPECT_TRUE(keys[index].name == name && keys[index].keyCode == code) << name;
    EXPECT_EQ(GalleryShortcut{}.label(), QStringLiteral("Ctrl+Alt+P")) << "the default: Control-Option-P";
    EXPECT_EQ((GalleryShortcut{0, 0x1B00}.label()), QStringLiteral("Ctrl+Alt+Shift+Super+A"))
        << "modifiers in menu order";
    for (auto [shortcut, valid] : {std::pair{GalleryShortcut{}, true},
                                   {GalleryShortcut{0, 0x300}, true},
                                   {GalleryShortcut{25, 0x1000}, true},
                                   {GalleryShortcut{35, 0x800}, false},
                                   {GalleryShortcut{35, 0x200}, false},
                                   {GalleryShortcut{122, 0x1000}, false},
                                   {GalleryShortcut{35, 0x1000 | 0x4000}, false},
                                   {GalleryShortcut{35, 0x1001}, false}})
        EXPECT_EQ(shortcut.isValid(), valid) << shortcut.keyCode << " " << shortcut.modifiers;

    EXPECT_EQ(toJson(GalleryShortcut{}), QByteArray(R"({"keyCode":35,"modifiers":6144})"));
    const GalleryShortcut odd{4000000000u, 0x1100};
    EXPECT_EQ(galleryShortcutFromJson(toJson(odd)).value(), odd) << "the full 32-bit key code";
    EXPECT_EQ(galleryShortcutFromJson(R"({"keyCode":0,"modifiers":256,"note":"x"})").value(),
              (GalleryShortcut{0, 256}))
        << "unknown keys are ignored";
    EXPECT_FALSE(galleryShortcutFromJson(R"({"keyCode":35,"modifiers":2048})").value().isValid())
        << "decoding does not judge validity";
    for (const char* bad :
         {"", "[]", "{}", "{\"keyCode\":35}", "{\"keyCode\":-1,\"modifiers\":4096}",
          "{\"keyCode\":4294967296,\"modifiers\":4096}", "{\"keyCode\":3.5,\"modifiers\":4096}",
          "{\"keyCode\":\"35\",\"modifiers\":4096}", "{\"keyCode\":35,\"modifiers\":true}", "not json"})
        EXPECT_FALSE(galleryShortcutFromJson(QByteArray(bad)).ok()) << bad;
}

} // namespace
} // namespace vennimo
