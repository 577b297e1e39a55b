#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QImage>
#include <QString>

namespace vennimo::test {

// The temporary home of a test: HOME, XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME and
// XDG_RUNTIME_DIR all point inside it, and every home made is removed when the process ends.
class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    // Points the environment at a fresh empty home, so a test run in the same process as others
    // finds none of their files.
    void renew();
    static QString root();

private:
    QByteArrayList m_roots;
};

// The application's storage folder inside the temporary home, created on first use.
QString storageFolder();
// A fresh empty folder below the temporary home.
QString makeFolder(const QString& name);
// Writes bytes to a file, creating its folders; fails the current test when it cannot.
void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);
// A small image of one colour with a marked top-left corner, so orientation can be checked.
QImage makeImage(int width, int height, QColor color = Qt::darkCyan);
// Saves an image in the format given by the path's extension.
void saveImage(const QImage& image, const QString& path, int quality = 90);

} // namespace vennimo::test
