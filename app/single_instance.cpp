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
    // A lock whose owner is gone is taken over at once, not after a timeout.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) return true;
    if (m_lock->error() == QLockFile::LockFailedError) return false;
    // The folder cannot hold a lock (read-only, missing): run rather than
    // refuse the only copy.
    return true;
}

}  // namespace varnika
