#pragma once
// One copy of the program at a time: a lock file in the user's runtime
// folder, held for the life of the process. A copy that died leaves a stale
// lock, which the next start takes over.

#include <QLockFile>
#include <QString>

#include <memory>

namespace varnika {

class SingleInstance {
public:
    // `lockDir` empty: the user's runtime folder.
    explicit SingleInstance(const QString& lockDir = QString());
    // True when no other copy runs; the lock is then held until destruction.
    bool acquire();
    QString lockPath() const { return m_path; }

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};

}  // namespace varnika
