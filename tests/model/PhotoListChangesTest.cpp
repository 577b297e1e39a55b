#include "model/PhotoListChanges.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace vennimo;

namespace {

// Photos named by letters; an upper-case letter is the same id reborn with another file birth.
QList<Photo> photos(const QString& letters) {
    QList<Photo> list;
    for (const QChar letter : letters) {
        Photo photo;
        photo.id = QString(letter.toLower());
        photo.created = letter.isUpper() ? 2.0 : 1.0;
        list.append(photo);
    }
    return list;
}

QString letters(const QList<Photo>& list) {
    QString out;
    for (const Photo& photo : list)
        out += photo.created == 2.0 ? photo.id.toUpper() : photo.id;
    return out;
}

} // namespace

TEST(PhotoListChanges, FindsWhatTheNewListAddsWhateverTheOrder) {
    struct Case {
        const char* before;
        const char* after;
        const char* byID;
        const char* byIdentity;
    };
    const Case cases[] = {
        {"abcdef", "abcdef", "", ""},      {"abcdef", "abcxdef", "x", "x"}, {"abcdef", "xabcdef", "x", "x"},
        {"abcdef", "abcdefx", "x", "x"},   {"abcdef", "abdef", "", ""},     {"abcdef", "xbcdeyf", "xy", "xy"},
        {"abcdef", "fedcba", "", ""},      {"abcdef", "bcdefa", "", ""},    {"abcdef", "abCdef", "", "C"},
        {"abcdef", "abCxdeF", "x", "CxF"}, {"", "abc", "abc", "abc"},       {"abc", "", "", ""},
        {"abc", "xyz", "xyz", "xyz"},
    };
    for (const Case& c : cases) {
        const QList<Photo> before = photos(c.before), after = photos(c.after);
        EXPECT_EQ(letters(photosNotIn(before, after, PhotoMatch::id)), c.byID)
            << c.before << " → " << c.after;
        EXPECT_EQ(letters(photosNotIn(before, after, PhotoMatch::identity)), c.byIdentity)
            << c.before << " → " << c.after;
    }
}
