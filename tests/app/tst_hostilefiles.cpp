// Whatever sits in the program folder under the name conf.ini, the window starts quietly with its
// defaults; and an image folder full of characters that a shell would act on reaches the
// converter as one plain argument.
#include "configuration.h"
#include "windowtesting.h"

#include <QDirIterator>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTimer>

#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

constexpr qsizetype Megabyte = 1024 * 1024;

enum ConfigurationKind
{
    BinaryBytes,
    FiftyMegabytes,
    OneLongLine,
    LineCutByReadLimit,
    Folder,
    DanglingLink,
    LinkToItself,
    Unreadable,
    FifoWithoutWriter,
    LinkToFifo
};

QByteArray randomBytes(qsizetype size)
{
    QRandomGenerator random(20261205);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = static_cast<char>(random.bounded(256));
    return bytes;
}

// A comment line of `length` bytes, CR+LF included, that moves the next line to a chosen place.
QByteArray commentLine(qsizetype length)
{
    return '#' + QByteArray(length - 3, '-') + "\r\n";
}

// "SCREENSHOT=YES" across the read limit: read in part it would say "SCREENSHOT=Y" and hide the
// button.
QByteArray lineAcrossReadLimit()
{
    const QByteArray partRead("SCREENSHOT=Y");
    return commentLine(MaxConfigurationBytes - partRead.size()) + partRead + "ES\r\n";
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

bool makeFifo(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

// Puts the hostile conf.ini in place; false if the machine would not let it be made.
bool makeConfiguration(ConfigurationKind kind, const QString &folder)
{
    const QString path = folder + QStringLiteral("/conf.ini");
    switch (kind) {
    case BinaryBytes:
        return writeFile(path, randomBytes(256 * 1024));
    case FiftyMegabytes:
        return writeFile(path, QByteArray("COLOUR=RED\r\n").repeated(50 * Megabyte / 12) +
                                   "IMAGE_PATH=/beyond/the/limit/\r\n");
    case OneLongLine:
        return writeFile(path, "IMAGE_PATH=/" + QByteArray(10 * Megabyte, 'x'));
    case LineCutByReadLimit:
        return writeFile(path, lineAcrossReadLimit());
    case Folder:
        return QDir(folder).mkdir(QStringLiteral("conf.ini"));
    case DanglingLink:
        return QFile::link(folder + QStringLiteral("/gone.ini"), path);
    case LinkToItself:
        return QFile::link(path, path);
    case Unreadable:
        return writeFile(path, "IMAGE_PATH=/elsewhere/\r\n") &&
               QFile::setPermissions(path, QFileDevice::Permissions());
    case FifoWithoutWriter:
        return makeFifo(path);
    case LinkToFifo:
        return makeFifo(folder + QStringLiteral("/pipe")) &&
               QFile::link(folder + QStringLiteral("/pipe"), path);
    }
    return false;
}

// Opens conf.ini for writing if start-up has not come back after a while, so that a start-up
// stuck opening a FIFO ends and the test can say so instead of hanging.
class FifoRescue
{
public:
    explicit FifoRescue(QString path) : m_path(std::move(path))
    {
        m_thread = std::thread([this] { rescueIfStuck(); });
    }

    ~FifoRescue() { finish(); }

    // True if start-up had to be freed.
    bool finish()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_wake.notify_one();
        if (m_thread.joinable())
            m_thread.join();
        return m_rescued;
    }

private:
    void rescueIfStuck()
    {
        std::unique_lock lock(m_mutex);
        if (m_wake.wait_for(lock, std::chrono::seconds(3), [this] { return m_finished; }))
            return;
        // Succeeds only while a reader waits in open().
        const int writer = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) {
            m_rescued = true;
            ::close(writer);
        }
    }

    QString m_path;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_finished = false;
    bool m_rescued = false;
    std::thread m_thread;
};

// Closes every message box that comes up while it lives and keeps its text.
class MessageWatch
{
public:
    MessageWatch()
    {
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                m_messages.append(box->text());
                box->reject();
            }
        });
        m_timer.start(10);
    }

    QString messages() const { return m_messages.join(QLatin1Char('\n')); }

private:
    QTimer m_timer;
    QStringList m_messages;
};

class FixedClock : public Clock
{
public:
    QDate currentDate() const override { return QDate(2026, 12, 5); }
};

// The argument lists the recording converter wrote, complete records only: a count line, then
// that many arguments each ended by NUL.
QList<QByteArrayList> converterRecords(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray content = file.readAll();
    QList<QByteArrayList> records;
    qsizetype position = 0;
    while (position < content.size()) {
        const qsizetype countEnd = content.indexOf('\n', position);
        if (countEnd < 0)
            break;
        const int count = content.sliced(position, countEnd - position).toInt();
        QByteArrayList arguments;
        position = countEnd + 1;
        while (arguments.size() < count) {
            const qsizetype argumentEnd = content.indexOf('\0', position);
            if (argumentEnd < 0)
                return records;
            arguments.append(content.sliced(position, argumentEnd - position));
            position = argumentEnd + 1;
        }
        records.append(arguments);
    }
    return records;
}

QStringList filesNamed(const QString &name, const QString &folder)
{
    QStringList found;
    QDirIterator files(folder, {name}, QDir::AllEntries | QDir::Hidden | QDir::System,
                       QDirIterator::Subdirectories);
    while (files.hasNext())
        found.append(files.next());
    return found;
}

} // namespace

class TestHostileFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void startsQuietlyWithDefaults_data();
    void startsQuietlyWithDefaults();
    void appliesWholeLinesUpToReadLimit_data();
    void appliesWholeLinesUpToReadLimit();
    void imageFolderReachesConverterAsOneArgument();
};

void TestHostileFiles::initTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TestHostileFiles::startsQuietlyWithDefaults_data()
{
    QTest::addColumn<int>("kind");

    QTest::newRow("binary bytes with NUL") << int(BinaryBytes);
    QTest::newRow("50 MB, IMAGE_PATH beyond the read limit") << int(FiftyMegabytes);
    QTest::newRow("IMAGE_PATH on one 10 MB line") << int(OneLongLine);
    QTest::newRow("SCREENSHOT=YES across the read limit") << int(LineCutByReadLimit);
    QTest::newRow("a folder") << int(Folder);
    QTest::newRow("dangling symbolic link") << int(DanglingLink);
    QTest::newRow("symbolic link to itself") << int(LinkToItself);
    QTest::newRow("no read permission") << int(Unreadable);
    QTest::newRow("FIFO without writer") << int(FifoWithoutWriter);
    QTest::newRow("symbolic link to a FIFO") << int(LinkToFifo);
}

void TestHostileFiles::startsQuietlyWithDefaults()
{
    QFETCH(int, kind);
    if (kind == Unreadable && ::geteuid() == 0)
        QSKIP("Running as root, which reads a file whatever its permissions");
    QTemporaryDir programFolder;
    QVERIFY(makeConfiguration(ConfigurationKind(kind), programFolder.path()));

    const MessageWatch watch;
    FifoRescue rescue(programFolder.filePath(QStringLiteral("conf.ini")));
    Form1 window(programFolder.path());
    QVERIFY2(!rescue.finish(), "start-up waited for a writer to conf.ini");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(watch.messages(), QString());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    for (QWidget *topLevel : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<QMessageBox *>(topLevel) || !topLevel->isVisible());
    QCOMPARE(window.imageFolder(), programFolder.path() + QLatin1Char('/'));
    QVERIFY(control<QPushButton>(window, "Command1")->isVisible());
}

void TestHostileFiles::appliesWholeLinesUpToReadLimit_data()
{
    QTest::addColumn<int>("settingEnd"); // where "SCREENSHOT=NO" ends, counted from the limit
    QTest::addColumn<bool>("applied");

    QTest::newRow("line end inside the limit") << -2 << true;
    QTest::newRow("line end just beyond the limit") << 0 << true;
    QTest::newRow("last letter beyond the limit") << 1 << false;
}

void TestHostileFiles::appliesWholeLinesUpToReadLimit()
{
    QFETCH(int, settingEnd);
    QFETCH(bool, applied);
    const QByteArray setting("SCREENSHOT=NO");
    QTemporaryDir programFolder;
    QVERIFY(writeFile(programFolder.filePath(QStringLiteral("conf.ini")),
                      commentLine(MaxConfigurationBytes + settingEnd - setting.size()) + setting +
                          "\r\n"));

    const Configuration configuration = loadConfiguration(programFolder.path());

    QCOMPARE(configuration.screenshotButtonVisible.has_value(), applied);
}

// The real starter runs the recording stand-in placed beside the program: had a shell read the
// bitmap path, it would have run "touch pwned".
void TestHostileFiles::imageFolderReachesConverterAsOneArgument()
{
    QTemporaryDir root;
    const QString programFolder = root.filePath(QStringLiteral("program"));
    const QString workingFolder = root.filePath(QStringLiteral("work"));
    const QString imageFolder =
        root.path() + QStringLiteral("/Bilder f\u00FCr 'den' \"Pass\"; $(touch pwned) `id` /");
    const QString record = root.filePath(QStringLiteral("converter-record"));
    QVERIFY(QDir().mkpath(programFolder));
    QVERIFY(QDir().mkpath(workingFolder));
    QVERIFY(QDir().mkpath(imageFolder));
    QVERIFY(QFile::copy(QStringLiteral(FAKES_DIR "/nconvert"), programFolder + "/nconvert"));
    // conf.ini is read as Latin-1.
    QVERIFY(
        writeFile(programFolder + "/conf.ini", "IMAGE_PATH=" + imageFolder.toLatin1() + "\r\n"));
    const QString testFolder = QDir::currentPath();
    const auto restore = qScopeGuard([&testFolder] {
        QDir::setCurrent(testFolder);
        qunsetenv("TOVRIN3_CONVERTER_RECORD");
    });
    QVERIFY(QDir::setCurrent(workingFolder));
    qputenv("TOVRIN3_CONVERTER_RECORD", QFile::encodeName(record));

    FixedClock clock;
    DetachedProcessStarter starter;
    Form1 window(programFolder, clock, starter);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const MessageWatch watch;
    QTest::mouseClick(control<QPushButton>(window, "Command1"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!converterRecords(record).isEmpty(), 10000);

    QCOMPARE(watch.messages(), QString());
    const QString bitmap = imageFolder + QStringLiteral("tovrin3_05122026.b");
    QCOMPARE(control<QLabel>(window, "Label3")->text(), bitmap + QStringLiteral(" saved"));
    QCOMPARE(QImage(bitmap, "bmp").size(), window.centralWidget()->size());
    const QList<QByteArrayList> records = converterRecords(record);
    QCOMPARE(records.size(), 1);
    QByteArrayList expectedArguments;
    for (const QString &argument : converterArguments())
        expectedArguments.append(argument.toUtf8());
    expectedArguments.append(QFile::encodeName(bitmap));
    QCOMPARE(records.first(), expectedArguments);
    QCOMPARE(filesNamed(QStringLiteral("pwned"), root.path()), QStringList());
    QCOMPARE(filesNamed(QStringLiteral("pwned"), testFolder), QStringList());
}

QTEST_MAIN(TestHostileFiles)
#include "tst_hostilefiles.moc"
