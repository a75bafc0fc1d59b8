#include "settings/SaveLock.h"

#include "platform/Exception.h"
#include "platform/TerminationSignal.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QThread>

#include <cerrno>
#include <csignal>

namespace {

Exception lockFailure(const QString &path, const QString &reason)
{
    return Exception(QStringLiteral("ロックファイル '%1' %2、設定の保存に失敗しました").arg(path, reason));
}

// The process that wrote the lock file, while it still runs; 0 when it is gone or the
// file names none.
qint64 livingHolder(const QLockFile &lock)
{
    qint64 pid = 0;
    QString host;
    QString application;
    if (!lock.getLockInfo(&pid, &host, &application) || pid <= 0)
        return 0;
    // Another user's process cannot be signalled, but it is there all the same.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM ? pid : 0;
}

} // namespace

bool takeSaveLock(QLockFile &lock, const SaveLockWait &wait)
{
    const QString path = lock.fileName();
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        // A folder never counts as a stale lock: waiting for it would only wait.
        if (QFileInfo(path).isDir())
            throw lockFailure(path, QStringLiteral("がフォルダのため"));
        if (lock.tryLock(0))
            return true;
        if (lock.error() != QLockFile::LockFailedError)
            return false;
        if (terminationPending())
            throw Exception(QStringLiteral("終了の指示により、ロックファイル '%1' を待つのをやめました").arg(path));
        const int elapsed = int(waited.elapsed());
        if (elapsed >= wait.patienceMs)
            break;
        if (wait.passSlice)
            wait.passSlice(elapsed);
        else
            QThread::msleep(SaveLockWait::kSliceMs);
    }
    if (const qint64 holder = livingHolder(lock))
        throw lockFailure(path, QStringLiteral("をプロセス %1 が使用中のため").arg(holder));
    // Its process is gone (or it names none), yet it is still there.
    throw lockFailure(path, QStringLiteral("を削除できないため"));
}
