#pragma once

#include <QLockFile>
#include <QString>

namespace vireo::ui {

// The name every running copy of the program claims.
inline constexpr const char* kInstanceLockName = "VELMOR_KESTREL_DVB_TARNIX_NETWORK_MANAGER";

// One copy of the program at a time for each user: a lock file in `folder`
// (by default the user's runtime folder, so users of one computer never lock
// each other out). A lock left behind by a copy that crashed is recognised
// by its dead process and taken over, so a crash never locks the program out.
class SingleInstance
{
public:
    explicit SingleInstance(const QString& name = QString::fromLatin1(kInstanceLockName),
                            const QString& folder = {});
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // False when another running copy holds the lock.
    bool TryAcquire();
    void Release();
    QString LockPath() const { return m_path; }

private:
    QString m_path;
    QLockFile m_lock;
};

} // namespace vireo::ui
