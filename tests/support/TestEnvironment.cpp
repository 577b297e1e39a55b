#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

namespace vennimo::test {

namespace {
QString g_root;
}

TestEnvironment::TestEnvironment() {
    renew();
}

TestEnvironment::~TestEnvironment() {
    for (const QByteArray& root : m_roots) {
        std::error_code ec;
        std::filesystem::remove_all(root.constData(), ec);
    }
}

void TestEnvironment::renew() {
    QByteArray pattern = QDir::tempPath().toUtf8() + "/vennimo-test-XXXXXX";
    char* made = mkdtemp(pattern.data());
    if (made == nullptr)
        std::abort();
    // Code under test resolves links in the paths it gives back: a temporary folder reached
    // through one ($TMPDIR, /tmp on some systems) would make every path a test compares differ.
    char* resolved = realpath(made, nullptr);
    if (resolved == nullptr)
        std::abort();
    const QByteArray root = resolved;
    std::free(resolved);
    // Earlier homes stay until the process ends: work a finished test left running may still
    // write into them.
    m_roots.append(root);
    g_root = QString::fromUtf8(root);
    const QByteArray home = root + "/home";
    const QByteArray runtime = root + "/runtime";
    for (const QByteArray& dir :
         QByteArrayList{home, home + "/.local/share", home + "/.config", home + "/.cache", runtime})
        QDir().mkpath(QString::fromUtf8(dir));
    chmod(runtime.constData(), 0700);
    qputenv("HOME", home);
    qputenv("XDG_DATA_HOME", home + "/.local/share");
    qputenv("XDG_CONFIG_HOME", home + "/.config");
    qputenv("XDG_CACHE_HOME", home + "/.cache");
    qputenv("XDG_RUNTIME_DIR", runtime);
    qputenv("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
}

QString TestEnvironment::root() {
    return g_root;
}

QString storageFolder() {
    const QString path = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/VennimoGallery");
    QDir().mkpath(path);
    return path;
}

QString makeFolder(const QString& name) {
    const QString path = TestEnvironment::root() + QStringLiteral("/") + name;
    QDir().mkpath(path);
    return path;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void saveImage(const QImage& image, const QString& path, int quality) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImageWriter writer(path);
    writer.setQuality(quality);
    ASSERT_TRUE(writer.write(image)) << path.toStdString() << ": " << writer.errorString().toStdString();
}

} // namespace vennimo::test
