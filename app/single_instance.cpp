#include "app/single_instance.h"

#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

#include <pwd.h>
#include <unistd.h>

namespace varnika {

namespace {

QString userHome()
{
    const QString home = qEnvironmentVariable("HOME");
    if (!home.isEmpty()) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return QString::fromLocal8Bit(entry->pw_dir);
    return QDir::rootPath();
}

// The machine's identity: its machine id where it has one, its host name
// otherwise. Only letters, digits, '-' and '.' go into a file name.
QString machineName()
{
    QString name = QString::fromLatin1(QSysInfo::machineUniqueId());
    if (name.isEmpty()) name = QSysInfo::machineHostName();
    QString safe;
    for (QChar c : name)
        if (c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('.')) safe += c;
    return safe.isEmpty() ? QStringLiteral("local") : safe;
}

}  // namespace

QString SingleInstance::defaultLockDir()
{
    return QDir(userHome()).filePath(QStringLiteral(".cache/varnika"));
}

SingleInstance::SingleInstance(const QString& lockDir)
{
    const QString dir = lockDir.isEmpty() ? defaultLockDir() : lockDir;
    m_path = QDir(dir).filePath(QStringLiteral("instance-") + machineName() + QStringLiteral(".lock"));
}

bool SingleInstance::acquire()
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    m_lock = std::make_unique<QLockFile>(m_path);
    // Age never makes the lock stale, or a copy running for long would lose
    // it to the next start; a lock whose process is gone is still taken over,
    // since QLockFile checks that process.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) return true;
    if (m_lock->error() == QLockFile::LockFailedError) return false;
    // The folder cannot hold a lock (read-only, not ours): run rather than
    // refuse the only copy.
    return true;
}

}  // namespace varnika
