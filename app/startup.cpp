#include "app/startup.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QVariant>
#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "link/file_descriptor.h"
#include "link/port_names.h"
#include "link/receiver_link.h"

namespace kestrune {

namespace {

constexpr char kStoreFolder[] = "Quenterra";
constexpr char kStoreFile[] = "Kestrune.conf";
constexpr char kPortKey[] = "Port";
constexpr char kSaveKey[] = "SaveInReceiver";

// A store holds one short line; anything larger is not one of ours.
constexpr qint64 kMaxStoreBytes = 64 * 1024;

// The lock file's name, the same in every copy of the program, so that copies exclude each other.
constexpr char kLockName[] = "Jul 21 2008";
constexpr char kPrivateFolderPrefix[] = "/kestrune-";
constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kLockFileMode = 0600;
constexpr mode_t kOthersBits = 0077;

QString defaultName() {
    return QString::fromLatin1(kDefaultPortName);
}

// A character outside ASCII becomes bytes of UTF-8, which storablePortName refuses as it does
// every character outside printable ASCII.
bool usableName(const QString& name) {
    return storablePortName(name.toStdString());
}

// A value that is missing, unreadable, not a single string (a comma makes a list), too long, not
// printable ASCII, or a path that does not lead to a terminal device under /dev gives the
// default.
QString storedName(const QString& storePath) {
    if (!readableStore(storePath)) {
        return defaultName();
    }
    QSettings store(storePath, QSettings::IniFormat);
    if (store.status() != QSettings::NoError) {
        return defaultName();
    }
    const QVariant value = store.value(kPortKey);
    if (value.typeId() != QMetaType::QString) {
        return defaultName();
    }
    const QString name = value.toString();
    return usableName(name) ? name : defaultName();
}

// A store that cannot be written leaves the default in use all the same.
void createStore(const QString& storePath) {
    QSettings store(storePath, QSettings::IniFormat);
    store.setValue(kPortKey, defaultName());
    store.sync();
}

FileDescriptor openFolder(const std::string& folder) {
    return FileDescriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// Another user could otherwise plant the lock folder, or a link in its place, under /tmp and
// keep this user's copies from ever starting.
FileDescriptor openPrivateFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST) {
        return FileDescriptor{};
    }
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid() || (info.st_mode & kOthersBits) != 0) {
        return FileDescriptor{};
    }
    return fd;
}

}  // namespace

// Only a regular file of a store's size is read: a FIFO there would hang the start, with the
// single-instance lock held, and a huge file would be read whole into memory.
bool readableStore(const QString& storePath) {
    const QFileInfo info(storePath);
    return info.isFile() && info.size() <= kMaxStoreBytes;
}

QString defaultPortStorePath() {
    const QString configHome =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return configHome + QLatin1Char('/') + QLatin1String(kStoreFolder) + QLatin1Char('/') +
           QLatin1String(kStoreFile);
}

void loadPortName(ReceiverLink& link, const QString& storePath) {
    // The store existing, even as something unreadable, means this is not the first run.
    QString name = defaultName();
    if (QFileInfo::exists(storePath)) {
        name = storedName(storePath);
    } else {
        createStore(storePath);
    }
    link.setPortName(name.toStdString());
}

void loadPortName(ReceiverLink& link) {
    loadPortName(link, defaultPortStorePath());
}

// A choice that could not be stored would be lost at the next start; the link staying on its
// port shows the user that the choice did not take.
StoreResult storePortName(ReceiverLink& link, const QString& name, const QString& storePath) {
    if (!usableName(name)) {
        return StoreResult::NotAPortName;
    }
    QSettings store(storePath, QSettings::IniFormat);
    store.setValue(kPortKey, name);
    store.sync();
    if (store.status() != QSettings::NoError) {
        return StoreResult::NotWritten;
    }
    link.setPortName(name.toStdString());
    return StoreResult::Stored;
}

bool loadSaveChoice(const QString& storePath) {
    const QSettings store(storePath, QSettings::IniFormat);
    const QString value = store.value(kSaveKey).toString();
    return store.status() == QSettings::NoError && value == QLatin1String("true");
}

bool storeSaveChoice(bool save, const QString& storePath) {
    QSettings store(storePath, QSettings::IniFormat);
    store.setValue(kSaveKey, save);
    store.sync();
    return store.status() == QSettings::NoError;
}

std::string privateLockFolder(const std::string& tmpRoot) {
    return tmpRoot + kPrivateFolderPrefix + std::to_string(::geteuid());
}

SingleInstanceGuard::SingleInstanceGuard() : mustBePrivate_(false) {
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (runtimeDir != nullptr && runtimeDir[0] == '/') {
        folder_ = runtimeDir;
    } else {
        folder_ = privateLockFolder("/tmp");
        mustBePrivate_ = true;
    }
}

SingleInstanceGuard::SingleInstanceGuard(std::string folder, bool mustBePrivate)
    : folder_(std::move(folder)), mustBePrivate_(mustBePrivate) {}

SingleInstanceGuard::~SingleInstanceGuard() = default;

bool SingleInstanceGuard::acquire() {
    if (lock_.valid()) {
        return true;
    }
    const FileDescriptor folder = mustBePrivate_ ? openPrivateFolder(folder_) : openFolder(folder_);
    if (!folder.valid()) {
        return true;
    }
    FileDescriptor lock(::openat(folder.get(), kLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                                 kLockFileMode));
    if (!lock.valid()) {
        return true;
    }
    if (retryInterrupted([&] { return ::flock(lock.get(), LOCK_EX | LOCK_NB); }) == 0) {
        lock_ = std::move(lock);
        return true;
    }
    return errno != EWOULDBLOCK;
}

}  // namespace kestrune
