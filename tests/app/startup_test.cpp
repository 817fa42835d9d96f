#include "app/startup.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <optional>

#include "app_test_support.h"
#include "link/receiver_link.h"

using kestrune::ReceiverLink;
using kestrune::SingleInstanceGuard;
using kestrune::testing::RecordingOpener;

namespace {

constexpr char kLockFileName[] = "Jul 21 2008";
constexpr QFileDevice::Permissions kOwnerOnly =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

QStringList toStringList(const std::vector<std::string>& names) {
    QStringList list;
    for (const std::string& name : names) {
        list << QString::fromStdString(name);
    }
    return list;
}

// The names the link asked to open when handed the store's name.
QStringList namesOpenedFor(const QString& storePath) {
    RecordingOpener opener;
    ReceiverLink link(kestrune::Timing{}, opener.opener());
    kestrune::loadPortName(link, storePath);
    return toStringList(opener.names());
}

// A child process that takes the lock in folder and holds it until killed.
class LockHolder {
  public:
    explicit LockHolder(const std::string& folder) {
        int ready[2];
        if (::pipe(ready) != 0) {
            return;
        }
        SingleInstanceGuard guard(folder, false);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            const char taken = guard.acquire() ? 1 : 0;
            (void)::write(ready[1], &taken, 1);
            for (;;) {
                ::pause();
            }
        }
        ::close(ready[1]);
        char taken = 0;
        held_ = ::read(ready[0], &taken, 1) == 1 && taken == 1;
        ::close(ready[0]);
    }
    ~LockHolder() { kill(); }

    bool held() const { return held_; }
    // Kills the holder outright, as a crash would end it.
    void kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

  private:
    pid_t pid_ = -1;
    bool held_ = false;
};

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT

  private slots:
    // Every test, and every row, starts in an empty folder of its own.
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
    }

    void loadPortName_data();
    void loadPortName();
    void firstRunCreatesTheStore();
    void unreadableStoreUsesDefault();
    void unwritableStoreUsesDefault();
    void defaultStoreFollowsConfigHome();

    void secondGuardSeesTheFirst();
    void guardFreedWhenHolderEnds();
    void guardFreedWhenHolderIsKilled();
    void defaultGuardUsesRuntimeFolder();
    void privateFolderIsCreatedClosed();
    void privateFolderOpenToOthersIsNotUsed();
    void privateFolderLinkIsNotFollowed();

  private:
    QString path(const QString& name) const { return dir_->filePath(name); }
    QString storePath() const { return path(QStringLiteral("Quenterra/Kestrune.conf")); }
    std::string folder() const { return dir_->path().toStdString(); }

    std::unique_ptr<QTemporaryDir> dir_;
};

void StartupTest::loadPortName_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("opened");

    const QStringList com3{QStringLiteral("COM3:")};
    QTest::newRow("stored name") << QByteArray("[General]\nPort=SIM2:\n")
                                 << QStringList{QStringLiteral("SIM2:")};
    QTest::newRow("outside any section")
        << QByteArray("Port=USB0\n") << QStringList{QStringLiteral("USB0")};
    QTest::newRow("five characters")
        << QByteArray("Port=PTS12\n") << QStringList{QStringLiteral("PTS12")};
    QTest::newRow("quoted") << QByteArray("Port=\"COM1:\"\n")
                            << QStringList{QStringLiteral("COM1:")};
    QTest::newRow("empty name opens nothing") << QByteArray("Port=\n") << QStringList{};
    QTest::newRow("no Port key") << QByteArray("[General]\nOther=1\n") << com3;
    QTest::newRow("empty store") << QByteArray() << com3;
    QTest::newRow("six characters") << QByteArray("Port=COM10:\n") << com3;
    QTest::newRow("control character") << QByteArray("Port=CO\\tM\n") << com3;
    QTest::newRow("not ASCII") << QByteArray("Port=C\xc3\x96M1\n") << com3;
    QTest::newRow("a list") << QByteArray("Port=COM1,COM2\n") << com3;
    QTest::newRow("not text") << QByteArray("Port=@Invalid()\n") << com3;
}

// An existing store is read and never written to.
void StartupTest::loadPortName() {
    QFETCH(QByteArray, content);
    QFETCH(QStringList, opened);
    writeAll(storePath(), content);

    QCOMPARE(namesOpenedFor(storePath()), opened);
    QCOMPARE(readAll(storePath()), content);
}

void StartupTest::firstRunCreatesTheStore() {
    QCOMPARE(namesOpenedFor(storePath()), QStringList{QStringLiteral("COM3:")});
    QVERIFY(readAll(storePath()).contains("Port=COM3:"));
    // The next run reads what the first one wrote.
    QCOMPARE(namesOpenedFor(storePath()), QStringList{QStringLiteral("COM3:")});
}

// A folder where the store should be cannot be read, even by root.
void StartupTest::unreadableStoreUsesDefault() {
    QVERIFY(QDir().mkpath(storePath()));
    QCOMPARE(namesOpenedFor(storePath()), QStringList{QStringLiteral("COM3:")});
    QVERIFY(QFileInfo(storePath()).isDir());
}

// A file where the store's folder should be cannot be written through, even by root.
void StartupTest::unwritableStoreUsesDefault() {
    writeAll(path(QStringLiteral("Quenterra")), "not a folder");
    QCOMPARE(namesOpenedFor(storePath()), QStringList{QStringLiteral("COM3:")});
    QCOMPARE(readAll(path(QStringLiteral("Quenterra"))), QByteArray("not a folder"));
}

void StartupTest::defaultStoreFollowsConfigHome() {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir_->path().toLocal8Bit());
    QCOMPARE(kestrune::defaultPortStorePath(), storePath());
    writeAll(storePath(), "Port=SIM3:\n");
    RecordingOpener opener;
    {
        ReceiverLink link(kestrune::Timing{}, opener.opener());
        kestrune::loadPortName(link);
    }
    qputenv("XDG_CONFIG_HOME", saved);
    QCOMPARE(toStringList(opener.names()), QStringList{QStringLiteral("SIM3:")});
}

void StartupTest::secondGuardSeesTheFirst() {
    SingleInstanceGuard first(folder(), false);
    QVERIFY(first.acquire());
    SingleInstanceGuard second(folder(), false);
    QVERIFY(!second.acquire());
}

void StartupTest::guardFreedWhenHolderEnds() {
    std::optional<SingleInstanceGuard> first(std::in_place, folder(), false);
    QVERIFY(first->acquire());
    first.reset();
    SingleInstanceGuard next(folder(), false);
    QVERIFY(next.acquire());
}

void StartupTest::guardFreedWhenHolderIsKilled() {
    LockHolder holder(folder());
    QVERIFY(holder.held());
    SingleInstanceGuard whileHeld(folder(), false);
    QVERIFY(!whileHeld.acquire());
    holder.kill();
    SingleInstanceGuard afterwards(folder(), false);
    QVERIFY(afterwards.acquire());
}

void StartupTest::defaultGuardUsesRuntimeFolder() {
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", dir_->path().toLocal8Bit());
    SingleInstanceGuard guard;
    const bool acquired = guard.acquire();
    qputenv("XDG_RUNTIME_DIR", saved);
    QVERIFY(acquired);
    QVERIFY(QFileInfo::exists(path(QLatin1String(kLockFileName))));
    SingleInstanceGuard second(folder(), false);
    QVERIFY(!second.acquire());
}

void StartupTest::privateFolderIsCreatedClosed() {
    const std::string folder = kestrune::privateLockFolder(this->folder());
    SingleInstanceGuard first(folder, true);
    QVERIFY(first.acquire());
    struct stat info {};
    QCOMPARE(::stat(folder.c_str(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0700u);
    QCOMPARE(info.st_uid, ::geteuid());
    SingleInstanceGuard second(folder, true);
    QVERIFY(!second.acquire());
}

// A folder others may write to is not trusted: the copy runs unguarded and leaves no lock.
void StartupTest::privateFolderOpenToOthersIsNotUsed() {
    const std::string folder = kestrune::privateLockFolder(this->folder());
    QCOMPARE(::mkdir(folder.c_str(), 0700), 0);
    QCOMPARE(::chmod(folder.c_str(), 0777), 0);
    SingleInstanceGuard first(folder, true);
    QVERIFY(first.acquire());
    SingleInstanceGuard second(folder, true);
    QVERIFY(second.acquire());
    QVERIFY(!QFileInfo::exists(QString::fromStdString(folder + "/" + kLockFileName)));
}

void StartupTest::privateFolderLinkIsNotFollowed() {
    const QString target = path(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(target));
    QVERIFY(QFile::setPermissions(target, kOwnerOnly));
    const std::string folder = kestrune::privateLockFolder(this->folder());
    QCOMPARE(::symlink(target.toStdString().c_str(), folder.c_str()), 0);
    SingleInstanceGuard guard(folder, true);
    QVERIFY(guard.acquire());
    QVERIFY(!QFileInfo::exists(target + QLatin1Char('/') + QLatin1String(kLockFileName)));
}

QTEST_GUILESS_MAIN(StartupTest)
#include "startup_test.moc"
