#include "app/ui/single_instance.h"

#include <QDir>
#include <QStandardPaths>
#include <unistd.h>

namespace vireo::ui {

namespace {
QString lockPath(const QString& name, const QString& folder)
{
    QString dir = folder;
    if (dir.isEmpty()) {
        // The user's own runtime folder ($XDG_RUNTIME_DIR, or one Qt makes
        // for the user alone): two users of one computer each run a copy,
        // and nobody else can leave a lock in it.
        dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    }
    if (dir.isEmpty()) {
        return QDir(QDir::tempPath())
            .filePath(name + QLatin1Char('-') + QString::number(::getuid()) +
                      QStringLiteral(".lock"));
    }
    return QDir(dir).filePath(name + QStringLiteral(".lock"));
}
} // namespace

SingleInstance::SingleInstance(const QString& name, const QString& folder)
    : m_path(lockPath(name, folder)), m_lock(m_path)
{
    // Never stale by age: a copy that runs for days keeps its claim. A lock
    // whose process has gone is stale whatever its age.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance()
{
    Release();
}

bool SingleInstance::TryAcquire()
{
    return m_lock.isLocked() || m_lock.tryLock(0);
}

void SingleInstance::Release()
{
    if (m_lock.isLocked()) {
        m_lock.unlock();
    }
}

} // namespace vireo::ui
