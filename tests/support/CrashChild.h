#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <sys/types.h>

namespace vennimo::test {

// Starts `program` with `arguments` in this test's environment; -1 when it cannot.
pid_t startChild(const QByteArray& program, const QList<QByteArray>& arguments);
// Waits for the child: its exit code, or 128 + the signal that ended it; -1 when waiting fails.
int exitCode(pid_t pid);
// The hidden partial copies of `folder`.
QStringList partialsIn(const QString& folder);
// Kills the child as soon as a partial copy appears in `folder`; answers whether it did.
bool killOnPartial(pid_t child, const QString& folder);
// A fresh folder on another file system than the test home, or nothing when there is none.
std::unique_ptr<QTemporaryDir> folderOnAnotherFileSystem();

} // namespace vennimo::test
