#include "app/startup.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app_test_support.h"
#include "link/receiver_link.h"

using namespace kestrune;
using namespace kestrune::testing;

namespace {

constexpr char kLockFileName[] = "Jul 21 2008";
const QStringList kDefaultOpened{"COM3:"};

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The names the link asked to open when handed the store's name (the default store's if empty).
QStringList namesOpenedFor(const QString& storePath) {
    RecordingOpener opener;
    ReceiverLink link(Timing{}, opener.opener());
    storePath.isEmpty() ? loadPortName(link) : loadPortName(link, storePath);
    return opener.names();
}

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT

    QString path(const QString& name) const { return dir_->filePath(name); }
    QString storePath() const { return path(QStringLiteral("Quenterra/Kestrune.conf")); }
    std::string folder() const { return dir_->path().toStdString(); }

    std::unique_ptr<QTemporaryDir> dir_;

  private slots:
    // Every test, and every row, starts in an empty folder of its own.
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
    }

    void loadPortName_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("opened");
        QTest::newRow("stored name")
            << QByteArray("[General]\nPort=SIM2:\n") << QStringList{"SIM2:"};
        QTest::newRow("outside any section") << QByteArray("Port=USB0\n") << QStringList{"USB0"};
        QTest::newRow("five characters") << QByteArray("Port=PTS12\n") << QStringList{"PTS12"};
        QTest::newRow("quoted") << QByteArray("Port=\"COM1:\"\n") << QStringList{"COM1:"};
        QTest::newRow("empty name opens nothing") << QByteArray("Port=\n") << QStringList{};
        QTest::newRow("no Port key") << QByteArray("[General]\nOther=1\n") << kDefaultOpened;
        QTest::newRow("empty store") << QByteArray() << kDefaultOpened;
        QTest::newRow("six characters") << QByteArray("Port=COM10:\n") << kDefaultOpened;
        QTest::newRow("control character") << QByteArray("Port=CO\\tM\n") << kDefaultOpened;
        QTest::newRow("not ASCII") << QByteArray("Port=C\xc3\x96M1\n") << kDefaultOpened;
        QTest::newRow("a list") << QByteArray("Port=COM1,COM2\n") << kDefaultOpened;
        QTest::newRow("not text") << QByteArray("Port=@Invalid()\n") << kDefaultOpened;
    }

    // An existing store is read and never written to.
    void loadPortName() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, opened);
        QVERIFY(writeFile(storePath(), content));
        QCOMPARE(namesOpenedFor(storePath()), opened);
        QCOMPARE(readAll(storePath()), content);
    }

    void firstRunCreatesTheStore() {
        QCOMPARE(namesOpenedFor(storePath()), kDefaultOpened);
        QVERIFY(readAll(storePath()).contains("Port=COM3:"));
        // The next run reads what the first one wrote.
        QCOMPARE(namesOpenedFor(storePath()), kDefaultOpened);
    }

    // A folder where the store should be cannot be read, and a file where its folder should be
    // cannot be written through, even by root; both stay as they were.
    void unusableStoreUsesDefault() {
        QVERIFY(QDir().mkpath(storePath()));
        QCOMPARE(namesOpenedFor(storePath()), kDefaultOpened);
        QVERIFY(QFileInfo(storePath()).isDir());

        const QString blocked = path(QStringLiteral("Blocked/Kestrune.conf"));
        QVERIFY(writeFile(path(QStringLiteral("Blocked")), "not a folder"));
        QCOMPARE(namesOpenedFor(blocked), kDefaultOpened);
        QCOMPARE(readAll(path(QStringLiteral("Blocked"))), QByteArray("not a folder"));
    }

    void defaultStoreFollowsConfigHome() {
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", dir_->path().toLocal8Bit());
        const auto restore = qScopeGuard([&] { qputenv("XDG_CONFIG_HOME", saved); });
        QCOMPARE(defaultPortStorePath(), storePath());
        QVERIFY(writeFile(storePath(), "Port=SIM3:\n"));
        QCOMPARE(namesOpenedFor(QString()), QStringList{"SIM3:"});
    }

    // A second copy is refused while the first runs, and runs once the first has ended, however
    // it ended: here by being killed, as a crash ends it.
    void oneCopyAtATime() {
        {
            SingleInstanceGuard first(folder(), false);
            QVERIFY(first.acquire());
            SingleInstanceGuard second(folder(), false);
            QVERIFY(!second.acquire());
        }
        SingleInstanceGuard held(folder(), false);
        const pid_t holder = ::fork();
        if (holder == 0) {
            while (!held.acquire()) {
            }
            for (;;) {
                ::pause();
            }
        }
        {
            const auto killHolder = qScopeGuard([holder] {
                if (holder > 0) {
                    ::kill(holder, SIGKILL);
                    ::waitpid(holder, nullptr, 0);
                }
            });
            QVERIFY(holder > 0);
            QTRY_VERIFY_WITH_TIMEOUT(!SingleInstanceGuard(folder(), false).acquire(), 20000);
        }
        SingleInstanceGuard afterwards(folder(), false);
        QVERIFY(afterwards.acquire());
    }

    void defaultGuardUsesRuntimeFolder() {
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", dir_->path().toLocal8Bit());
        const auto restore = qScopeGuard([&] { qputenv("XDG_RUNTIME_DIR", saved); });
        SingleInstanceGuard guard;
        QVERIFY(guard.acquire());
        QVERIFY(QFileInfo::exists(path(QLatin1String(kLockFileName))));
        SingleInstanceGuard second(folder(), false);
        QVERIFY(!second.acquire());
    }

    void privateFolder_data() {
        QTest::addColumn<int>("made");  // the folder's mode when made beforehand, else 0
        QTest::addColumn<bool>("viaLink");
        QTest::addColumn<bool>("guarded");
        QTest::newRow("created closed") << 0 << false << true;
        QTest::newRow("open to others") << 0777 << false << false;
        QTest::newRow("link to a closed folder elsewhere") << 0700 << true << false;
    }

    // The private folder is made closed to everybody else and guards. One open to others, or a
    // link to a folder elsewhere, is not trusted: the copy runs unguarded and leaves no lock there.
    void privateFolder() {
        QFETCH(int, made);
        QFETCH(bool, viaLink);
        QFETCH(bool, guarded);
        const std::string folder = privateLockFolder(this->folder());
        const QString target =
            viaLink ? path(QStringLiteral("elsewhere")) : QString::fromStdString(folder);
        if (made != 0) {
            QVERIFY(QDir().mkpath(target));
            QCOMPARE(::chmod(target.toLocal8Bit().constData(), made), 0);
        }
        if (viaLink) {
            QCOMPARE(::symlink(target.toLocal8Bit().constData(), folder.c_str()), 0);
        }
        SingleInstanceGuard first(folder, true);
        QVERIFY(first.acquire());
        SingleInstanceGuard second(folder, true);
        QCOMPARE(second.acquire(), !guarded);
        QCOMPARE(QFileInfo::exists(target + QLatin1Char('/') + QLatin1String(kLockFileName)),
                 guarded);
        if (guarded) {
            struct stat info {};
            QCOMPARE(::stat(folder.c_str(), &info), 0);
            QCOMPARE(info.st_mode & 0777, 0700u);
            QCOMPARE(info.st_uid, ::geteuid());
        }
    }
};

QTEST_GUILESS_MAIN(StartupTest)
#include "startup_test.moc"
