#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace vennimo::test {

// The temporary home of one test process: HOME, XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME
// and XDG_RUNTIME_DIR all point inside it, and it is removed when the process ends.
class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    static QString root();

private:
    QByteArray m_root;
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
