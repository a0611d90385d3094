#pragma once
// One copy of the program at a time for a user on a machine: a lock file in
// the user's home folder (~/.cache/varnika), named after the machine, held
// for the life of the process. The place depends on nothing but the user and
// the machine, so that copies started from different sessions or
// environments (with or without XDG_RUNTIME_DIR) still find each other, and
// a home shared between machines does not keep a copy on one machine from
// starting because of a copy on another. A copy that died leaves a stale
// lock, which the next start takes over.

#include <QLockFile>
#include <QString>

#include <memory>

namespace varnika {

class SingleInstance {
public:
    // `lockDir` empty: the user's place, defaultLockDir().
    explicit SingleInstance(const QString& lockDir = QString());
    // True when no other copy runs; the lock is then held until destruction.
    bool acquire();
    QString lockPath() const { return m_path; }

    // ~/.cache/varnika, from HOME or, when that is unset, the user's entry in
    // the password database.
    static QString defaultLockDir();

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};

}  // namespace varnika
