// The two services of the program's start: the stored port name, handed to the link, and the
// guard that keeps a second copy of the program from running.
#pragma once

#include <QString>
#include <string>

#include "link/file_descriptor.h"

namespace kestrune {

class ReceiverLink;

// The port opened when nothing usable is stored.
inline constexpr char kDefaultPortName[] = "COM3:";

// $XDG_CONFIG_HOME/Quenterra/Kestrune.conf, or ~/.config/Quenterra/Kestrune.conf.
QString defaultPortStorePath();
// A regular file no larger than a store ever is: safe to read.
bool readableStore(const QString& storePath);

// Reads "Port" from the store and hands it to the link, which opens that port. A missing store
// is created holding the default; a store without the key, or one that cannot be read, leaves
// the default in use and is not written to. A stored value that is too long, not printable
// ASCII, or a path that does not lead to a terminal device under /dev is replaced by the default.
void loadPortName(ReceiverLink& link, const QString& storePath);
void loadPortName(ReceiverLink& link);

enum class StoreResult {
    Stored,
    NotAPortName,  // no name the store may hold: nothing written, the link left as it was
    NotWritten,    // the store could not be written: the link left on its port
};

// Stores a port the user chose (a short name or a device path) and, once it is stored, hands it
// to the link.
StoreResult storePortName(ReceiverLink& link, const QString& name, const QString& storePath);

// The "Save in receiver" choice, key SaveInReceiver beside Port: off when the store or the key
// is missing or holds anything but true or false.
bool loadSaveChoice(const QString& storePath);
// False when the store cannot be written.
bool storeSaveChoice(bool save, const QString& storePath);

// Tells whether another copy of the program runs, by an exclusive lock on a file that the
// kernel releases when its holder ends, however it ends.
class SingleInstanceGuard {
  public:
    // The lock lives in $XDG_RUNTIME_DIR, else in the user's private folder under /tmp.
    SingleInstanceGuard();
    // The lock lives in folder; with mustBePrivate, folder is created if missing and used only
    // if it is a real folder owned by this user and closed to everybody else.
    SingleInstanceGuard(std::string folder, bool mustBePrivate);
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

    // True when no other copy holds the lock (this one now does). A lock that cannot be taken
    // for any other reason lets this copy run unguarded.
    [[nodiscard]] bool acquire();

  private:
    std::string folder_;
    bool mustBePrivate_;
    FileDescriptor lock_;
};

// The folder the default guard uses when $XDG_RUNTIME_DIR is not set: tmpRoot/kestrune-UID.
std::string privateLockFolder(const std::string& tmpRoot);

}  // namespace kestrune
