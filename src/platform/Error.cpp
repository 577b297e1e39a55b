#include "platform/Error.h"

#include <cerrno>

namespace vennimo {

bool Error::isFileExists() const {
    return domain == QLatin1String(kPosixErrorDomain) && sysErrno == EEXIST;
}

Error Error::make(const QString& domain, int code, const QString& message) {
    Error e;
    e.domain = domain;
    e.code = code;
    e.message = message;
    return e;
}

Error Error::failure(const QString& message) {
    return make(QString::fromLatin1(kExhibitionErrorDomain), 1, message);
}

Error Error::fromErrno(int err, const QString& path) {
    Error e = make(QString::fromLatin1(kPosixErrorDomain), err, errnoMessage(err));
    e.sysErrno = err;
    if (!path.isEmpty())
        e.failureReason = QStringLiteral("“%1”").arg(path);
    return e;
}

QString errnoMessage(int err) {
    switch (err) {
    case ENOENT:
        return QStringLiteral("文件或文件夹不存在。");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有权限访问该文件。");
    case EEXIST:
        return QStringLiteral("同名文件已存在。");
    case ENOSPC:
        return QStringLiteral("磁盘空间不足。");
    case EDQUOT:
        return QStringLiteral("磁盘配额已用完。");
    case EROFS:
        return QStringLiteral("文件系统为只读。");
    case EISDIR:
        return QStringLiteral("目标是文件夹。");
    case ENOTDIR:
        return QStringLiteral("路径中的某一项不是文件夹。");
    case ENOTEMPTY:
        return QStringLiteral("文件夹不是空的。");
    case EXDEV:
        return QStringLiteral("不能跨文件系统移动。");
    case EIO:
        return QStringLiteral("读写文件时发生输入输出错误。");
    case ENAMETOOLONG:
        return QStringLiteral("文件名过长。");
    case ELOOP:
        return QStringLiteral("符号链接层级过多。");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("打开的文件过多。");
    case ENOMEM:
        return QStringLiteral("内存不足。");
    case EBUSY:
        return QStringLiteral("文件正被占用。");
    case EINVAL:
        return QStringLiteral("参数无效。");
    case EFBIG:
        return QStringLiteral("文件过大。");
    case ETIMEDOUT:
        return QStringLiteral("操作超时。");
    case ECANCELED:
        return QStringLiteral("操作已取消。");
    default:
        return QStringLiteral("系统错误（%1）。").arg(err);
    }
}

} // namespace vennimo
