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

#include "link/receiver_link.h"

using namespace kestrune;

namespace {

const QStringList kDefaultOpened{"COM3:"};
constexpr int kFolder = 0, kFifo = 1, kLarge = 2, kBlocked = 3;  // unusable stores

// Writes content to path, making its folder first; false if that failed.
bool writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// The names the link asked to open when handed the store's name (the default store's if empty).
QStringList namesOpenedFor(const QString& storePath) {
    QStringList names;
    ReceiverLink link(Timing{}, [&names](std::string_view name) {
        names << QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
        return OpenResult{nullptr, OpenError::NoSuchDevice};
    });
    storePath.isEmpty() ? loadPortName(link) : loadPortName(link, storePath);
    return names;
}

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT

    QString storePath() const { return dir_->filePath(QStringLiteral("Quenterra/Kestrune.conf")); }
    std::string folder() const { return dir_->path().toStdString(); }

    std::unique_ptr<QTemporaryDir> dir_;

  private slots:
    // Every test, and every row, starts in an empty folder of its own.
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
    }

    void loadPortName_data() {
        QTest::addColumn<QByteArray>("content");  // null: no store yet
        QTest::addColumn<QStringList>("opened");
        QTest::newRow("first run") << QByteArray() << kDefaultOpened;
        QTest::newRow("stored name")
            << QByteArray("[General]\nPort=SIM2:\n") << QStringList{"SIM2:"};
        QTest::newRow("five characters") << QByteArray("Port=PTS12\n") << QStringList{"PTS12"};
        QTest::newRow("empty name opens nothing") << QByteArray("Port=\n") << QStringList{};
        QTest::newRow("no Port key") << QByteArray("[General]\nOther=1\n") << kDefaultOpened;
        QTest::newRow("empty store") << QByteArray("") << kDefaultOpened;
        QTest::newRow("six characters") << QByteArray("Port=COM10:\n") << kDefaultOpened;
        QTest::newRow("control character") << QByteArray("Port=CO\\tM\n") << kDefaultOpened;
        QTest::newRow("a list") << QByteArray("Port=COM1,COM2\n") << kDefaultOpened;
        // A path must lead, links followed, to a serial port or a pseudo-terminal under /dev,
        // or to nothing yet: an unplugged adapter's link.
        const QByteArray unplugged = "/dev/serial/by-id/usb-Example_Devices_EX0001-if00";
        QTest::newRow("unplugged link") << "Port=" + unplugged + "\n" << QStringList{unplugged};
        for (const char* path : {"/dev/null", "/dev/ptmx", "/dev/tty", "/dev/tty5", "/etc/passwd",
                                 "/dev/../etc/passwd", "/dev/shm"}) {
            QTest::newRow(path) << QByteArray("Port=") + path + "\n" << kDefaultOpened;
        }
        QTest::newRow("256 characters") << "Port=/dev/" + QByteArray(251, 'a') + "\n"
                                        << kDefaultOpened;
    }

    // A choice is stored at once and read by the next start; a name that cannot be stored is
    // refused and leaves the store as it was; a store that cannot be written (its folder is a
    // file) keeps the link on its port.
    void storePortNameIsReadBack() {
        ReceiverLink link(Timing{}, [](std::string_view) { return OpenResult{}; });
        QVERIFY(writeFile(storePath(), "Port=SIM2\n"));
        link.setPortName("SIM2");
        const QString unwritable = storePath() + QStringLiteral("/Kestrune.conf");
        const std::tuple<QString, QString, StoreResult, std::string> cases[] = {
            {"/dev/null", storePath(), StoreResult::NotAPortName, "SIM2"},
            {"SIM3", unwritable, StoreResult::NotWritten, "SIM2"},
            {"/dev/serial/by-id/x", storePath(), StoreResult::Stored, "/dev/serial/by-id/x"},
        };
        for (const auto& [name, store, result, linked] : cases) {
            QCOMPARE(storePortName(link, name, store), result);
            QCOMPARE(link.portName(), linked);
        }
        QCOMPARE(namesOpenedFor(storePath()), QStringList{"/dev/serial/by-id/x"});
    }

    // The first run creates the store with the default, which the next run reads; an existing
    // store is read and never written to.
    void loadPortName() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, opened);
        QVERIFY(content.isNull() || writeFile(storePath(), content));
        QCOMPARE(namesOpenedFor(storePath()), opened);
        QCOMPARE(namesOpenedFor(storePath()), opened);
        QFile store(storePath());
        QVERIFY(store.open(QIODevice::ReadOnly));
        QCOMPARE(store.readAll(),
                 content.isNull() ? QByteArray("[General]\nPort=COM3:\n") : content);
    }

    void unusableStoreUsesDefault_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("a folder") << kFolder;
        // A FIFO would otherwise hang the start for ever, holding the single-instance lock.
        QTest::newRow("a FIFO") << kFifo;
        QTest::newRow("larger than 64 KiB") << kLarge;
        // A file where the store's folder should be cannot be written through, even by root.
        QTest::newRow("a file for its folder") << kBlocked;
    }

    // A store that is not a regular file of a store's size is not read, and stays as it was.
    void unusableStoreUsesDefault() {
        QFETCH(int, kind);
        const QString folder = QFileInfo(storePath()).absolutePath();
        QVERIFY(kind == kBlocked ? writeFile(folder, "not a folder")
                                 : QDir().mkpath(kind == kFolder ? storePath() : folder));
        QVERIFY(kind != kFifo || ::mkfifo(storePath().toLocal8Bit().constData(), 0600) == 0);
        QVERIFY(kind != kLarge ||
                writeFile(storePath(), "Port=SIM2:\n" + QByteArray(64 * 1024, '\n')));
        QCOMPARE(namesOpenedFor(storePath()), kDefaultOpened);
        QCOMPARE(QFileInfo(storePath()).isFile(), kind == kLarge);
    }

    // The default store and the default guard's lock follow the user's folders (for the rest
    // of this run). A second copy is refused while the first runs, and runs once the first has
    // ended, however it ended: here by being killed, as a crash ends it.
    void defaultsFollowEnvironmentAndOneCopyAtATime() {
        qputenv("XDG_CONFIG_HOME", dir_->path().toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", dir_->path().toLocal8Bit());
        QVERIFY(writeFile(storePath(), "Port=SIM3:\n"));
        QCOMPARE(namesOpenedFor(QString()), QStringList{"SIM3:"});
        auto guard = std::make_unique<SingleInstanceGuard>();
        QVERIFY(guard->acquire());
        QVERIFY(!SingleInstanceGuard(folder(), false).acquire());
        // The lock passes to a child that then only waits: after a fork in a threaded program
        // the child may call nothing that takes a lock, so it takes the lock already held.
        const pid_t holder = ::fork();
        if (holder == 0) {
            for (;;) {
                ::pause();
            }
        }
        QVERIFY(holder > 0);
        guard.reset();
        const bool refused = !SingleInstanceGuard(folder(), false).acquire();
        ::kill(holder, SIGKILL);
        ::waitpid(holder, nullptr, 0);
        QVERIFY(refused);
        QVERIFY(SingleInstanceGuard(folder(), false).acquire());
    }

    void privateFolder_data() {
        QTest::addColumn<int>("made");  // the folder's mode when made beforehand, else 0
        QTest::addColumn<bool>("viaLink");
        QTest::newRow("created closed") << 0 << false;
        QTest::newRow("open to others") << 0777 << false;
        QTest::newRow("link to a closed folder elsewhere") << 0700 << true;
    }

    // The private folder is made closed to everybody else and guards. One open to others, or a
    // link to a folder elsewhere, is not trusted: the copy runs unguarded and leaves no lock there.
    void privateFolder() {
        QFETCH(int, made);
        QFETCH(bool, viaLink);
        const bool guarded = made == 0;  // only a folder it made itself
        const std::string folder = privateLockFolder(this->folder());
        const QString target =
            viaLink ? dir_->filePath(QStringLiteral("elsewhere")) : QString::fromStdString(folder);
        QVERIFY(made == 0 ||
                (QDir().mkpath(target) && ::chmod(target.toLocal8Bit().constData(), made) == 0));
        QVERIFY(!viaLink || ::symlink(target.toLocal8Bit().constData(), folder.c_str()) == 0);
        SingleInstanceGuard first(folder, true);
        QVERIFY(first.acquire());
        QCOMPARE(SingleInstanceGuard(folder, true).acquire(), !guarded);
        // The lock file is named after a date.
        QCOMPARE(QFileInfo::exists(target + QLatin1String("/Jul 21 2008")), guarded);
        struct stat info {};
        QVERIFY(!guarded || (::stat(folder.c_str(), &info) == 0 && (info.st_mode & 0777) == 0700 &&
                             info.st_uid == ::geteuid()));
    }
};

QTEST_GUILESS_MAIN(StartupTest)
#include "startup_test.moc"
