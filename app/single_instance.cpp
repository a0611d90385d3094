#include "app/single_instance.h"

#include <QDir>
#include <QStandardPaths>

namespace varnika {

SingleInstance::SingleInstance(const QString& lockDir)
{
    QString dir = lockDir.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) : lockDir;
    if (dir.isEmpty()) dir = QDir::tempPath();
    m_path = QDir(dir).filePath(QStringLiteral("varnika.lock"));
}

bool SingleInstance::acquire()
{
    m_lock = std::make_unique<QLockFile>(m_path);
    // Age never makes the lock stale, or a copy running for long would lose
    // it to the next start; a lock whose process is gone is still taken over,
    // since QLockFile checks that process.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) return true;
    if (m_lock->error() == QLockFile::LockFailedError) return false;
    // The folder cannot hold a lock (read-only, missing): run rather than
    // refuse the only copy.
    return true;
}

}  // namespace varnika
