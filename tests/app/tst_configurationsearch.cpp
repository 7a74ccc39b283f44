// SPDX-License-Identifier: GPL-3.0-or-later
// The line rules of conf.ini on the text alone: values, line ends and the encodings a hand-edited
// file comes in (comments, the case of keys, lines ended by a bare LF and the last line of a key
// winning are the rules the station settings share: tst_station). Then where the window
// finds conf.ini and where its screenshots go, for a portable copy and for an installed one. HOME
// and the XDG folders point into a temporary folder, never at the user's.
#include "configuration.h"
#include "windowtesting.h"

#include <QStandardPaths>

#include <utility>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

const QString DefaultFolder = u"/opt/tovrin3/"_s;

// What conf.ini says about the screenshot button.
const std::optional<bool> Unset, Shown = true, Hidden = false;

// The file written after its folder is made.
bool writeIntoNewFolder(const QString &path, const QByteArray &content)
{
    return QDir().mkpath(QFileInfo(path).path()) && writeFile(path, content);
}

// A program folder that its user may not change, as an installed copy's. Permissions come back
// when it goes, so that the temporary folder can be removed. A user who may write anywhere, such
// as root, is given a folder that does not exist instead, which cannot be written either.
class InstalledProgramFolder
{
public:
    explicit InstalledProgramFolder(QString folder) : m_folder(std::move(folder))
    {
        QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::ExeOwner);
    }
    ~InstalledProgramFolder()
    {
        QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    InstalledProgramFolder(const InstalledProgramFolder &) = delete;
    InstalledProgramFolder &operator=(const InstalledProgramFolder &) = delete;

    // False when the folder given could not be made read-only.
    bool isReadOnly() const { return !QFileInfo(m_folder).isWritable(); }

    QString path() const { return isReadOnly() ? m_folder : m_folder + "/not-installed"; }

private:
    QString m_folder;
};

} // namespace

class TestConfigurationSearch : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    QTemporaryDir m_program;

    QString homePath(const QString &relative) const { return m_home.filePath(relative); }

    // The conf.ini of each place the search knows: beside the program, the user's (in
    // $XDG_CONFIG_HOME, "config"), a folder of $XDG_CONFIG_DIRS.
    QString configurationPath(const QString &place) const
    {
        return place == u"program" ? m_program.filePath("conf.ini")
                                   : homePath(place + "/tovrin3/conf.ini");
    }

private slots:
    void parsesLines_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("imageFolder");
        QTest::addColumn<std::optional<bool>>("button");

        QTest::newRow("a hash in a value") << QByteArray("IMAGE_PATH=/a#1/") << "/a#1/" << Unset;
        QTest::newRow("keys and YES in any case, spaces trimmed")
            << QByteArray("  screenShot  =  yEs  \r\n") << DefaultFolder << Shown;
        QTest::newRow("YES cut short") << QByteArray("SCREENSHOT=Y") << DefaultFolder << Hidden;
        QTest::newRow("tabs are kept")
            << QByteArray("SCREENSHOT=YES\t\r\nIMAGE_PATH=\t/a/") << "\t/a/" << Hidden;
        QTest::newRow("image path keeps its case and inner spaces")
            << QByteArray("image_path = /home/Op/My Shots/ \r\n") << "/home/Op/My Shots/" << Unset;
        QTest::newRow("only the first = splits")
            << QByteArray("IMAGE_PATH=/a=b/") << "/a=b/" << Unset;
        QTest::newRow("bare CR") << QByteArray("IMAGE_PATH=/a/\rSCREENSHOT=NO\r") << "/a/"
                                 << Hidden;
        QTest::newRow("a line without = is ignored")
            << QByteArray("SCREENSHOT=NO\r\nYES\r\nIMAGE_PATH=/a/\r\n/b/") << "/a/" << Hidden;

        QTest::newRow("UTF-8 beyond Latin-1")
            << QByteArray("IMAGE_PATH=/\xD0\xA1\xD0\xBD\xD0\xB8\xD0\xBC\xD0\xBA\xD0\xB8/")
            << u"/\u0421\u043D\u0438\u043C\u043A\u0438/"_s << Unset;
        QTest::newRow("UTF-8 with a byte order mark")
            << QByteArray("\xEF\xBB\xBFSCREENSHOT=YES\r\nIMAGE_PATH=/\xC3\xA9t\xC3\xA9/")
            << u"/\u00E9t\u00E9/"_s << Shown;
        // One byte that cannot be UTF-8 makes the whole file Latin-1, the valid pairs included.
        QTest::newRow("invalid UTF-8 read as Latin-1")
            << QByteArray("IMAGE_PATH=/\xC3\xBC\xFF/") << "/\u00C3\u00BC\u00FF/" << Unset;
        QTest::newRow("UTF-8 cut inside a letter")
            << QByteArray("SCREENSHOT=YES\nIMAGE_PATH=/j\xC3") << "/j\u00C3" << Shown;
    }

    void parsesLines()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, imageFolder);
        QFETCH(std::optional<bool>, button);

        const Configuration configuration = parseConfiguration(content, DefaultFolder);

        QCOMPARE(configuration.imageFolder, imageFolder);
        QCOMPARE(configuration.screenshotButtonVisible, button);
    }

    void init()
    {
        QVERIFY(m_home.isValid() && m_program.isValid());
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(homePath("config")));
        qputenv("XDG_CONFIG_DIRS",
                QFile::encodeName(homePath("system") + ':' + homePath("vendor")));
    }

    // Removes every file the last test wrote.
    void cleanup()
    {
        for (const QString &folder :
             QDir(m_home.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
            QDir(m_home.filePath(folder)).removeRecursively();
        QFile::remove(m_program.filePath("conf.ini"));
        QDir(m_program.filePath("conf.ini")).removeRecursively();
    }

    void firstFileFoundIsRead_data()
    {
        QTest::addColumn<QStringList>("places");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("none: the defaults") << QStringList{} << QString();
        QTest::newRow("beside the program before all others")
            << QStringList{"program", "config", "system", "vendor"} << "program";
        QTest::newRow("the user's before the system's")
            << QStringList{"config", "system", "vendor"} << "config";
        QTest::newRow("configuration folders in their order")
            << QStringList{"system", "vendor"} << "system";
        QTest::newRow("a folder named conf.ini beside the program is no file")
            << QStringList{"program folder", "config"} << "config";
    }

    // Each file names its own image folder, so the folder shows which file was read. The order
    // of the XDG folders themselves is QStandardPaths' own.
    void firstFileFoundIsRead()
    {
        QFETCH(QStringList, places);
        QFETCH(QString, chosen);
        for (const QString &place : places) {
            if (place == u"program folder")
                QVERIFY(QDir().mkpath(configurationPath("program")));
            else
                QVERIFY(writeIntoNewFolder(configurationPath(place),
                                           "IMAGE_PATH=/from/" + place.toUtf8() + '/'));
        }

        const Form1 window(m_program.path());

        const QString expected =
            chosen.isEmpty() ? m_program.path() + QDir::separator() : "/from/" + chosen + '/';
        QCOMPARE(window.imageFolder(), expected);
    }

    // The settings are not merged: a key the first file leaves out keeps its default.
    void laterFilesAreNotRead()
    {
        QVERIFY(writeIntoNewFolder(configurationPath("config"), "SCREENSHOT=NO\n"));
        QVERIFY(writeIntoNewFolder(configurationPath("system"), "IMAGE_PATH=/from/system/\n"));

        const Form1 window(m_program.path());

        QVERIFY(control<QPushButton>(window, "Command1")->isHidden());
        QCOMPARE(window.imageFolder(), m_program.path() + QDir::separator());
    }

    // The installed program's folder is not the user's to write: screenshots go to Pictures
    // (where user-dirs.dirs puts it is QStandardPaths' own), which a new account may not have yet.
    void imageFolderOfAnInstalledCopy()
    {
        const InstalledProgramFolder installed(m_program.path());

        const Form1 window(installed.path());

        QCOMPARE(window.imageFolder(), homePath("Pictures") + QDir::separator());
        QVERIFY(QFileInfo(homePath("Pictures")).isDir());
    }

    // A folder named in conf.ini wins, and Pictures is then left alone.
    void configuredImageFolderWinsForAnInstalledCopy()
    {
        QVERIFY(writeIntoNewFolder(configurationPath("config"), "IMAGE_PATH=/srv/shots/\n"));
        const InstalledProgramFolder installed(m_program.path());

        QCOMPARE(Form1(installed.path()).imageFolder(), u"/srv/shots/"_s);
        QVERIFY(!QFileInfo::exists(homePath("Pictures")));
    }

    // The whole way, with the real converter beside the program: "S" leaves a PNG in Pictures.
    void screenshotOfAnInstalledCopyLandsInPictures()
    {
        QTemporaryDir program;
        QVERIFY(prepareProgramFolder(program.path(), {}, OurConverter));
        const InstalledProgramFolder installed(program.path());
        if (!installed.isReadOnly())
            QSKIP(
                "this user may write to any folder, so the converter cannot be beside the program");
        Form1 window(installed.path());
        const QStringList message = clickScreenshotButton(window);

        QVERIFY2(message.isEmpty(), qPrintable(message.join('\n')));
        const QDir pictures(homePath("Pictures"));
        QTRY_COMPARE(pictures.entryList({"tovrin3_*.png"}, QDir::Files).size(), 1);
    }
};

QTEST_MAIN(TestConfigurationSearch)
#include "tst_configurationsearch.moc"
