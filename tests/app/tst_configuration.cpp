// conf.ini: its line rules, its two settings, and reading it beside the program.
#include "configuration.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using tovrin3::Configuration;

namespace {

const QString DefaultFolder = QStringLiteral("/opt/tovrin3/");

// How a test states the screenshot button: not set by the file, shown or hidden.
enum ButtonSetting
{
    ButtonUnset,
    ButtonShown,
    ButtonHidden
};

ButtonSetting buttonSetting(const Configuration &configuration)
{
    if (!configuration.screenshotButtonVisible)
        return ButtonUnset;
    return *configuration.screenshotButtonVisible ? ButtonShown : ButtonHidden;
}

} // namespace

class TestConfiguration : public QObject
{
    Q_OBJECT

private slots:
    void parsesLines_data();
    void parsesLines();
    void readsLatin1();
    void readsFileBesideProgram_data();
    void readsFileBesideProgram();
};

void TestConfiguration::parsesLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("imageFolder");
    QTest::addColumn<int>("button");

    QTest::newRow("empty file") << QByteArray() << DefaultFolder << int(ButtonUnset);
    QTest::newRow("SCREENSHOT=YES shows")
        << QByteArray("SCREENSHOT=YES") << DefaultFolder << int(ButtonShown);
    QTest::newRow("key and YES in any case, spaces around")
        << QByteArray("  screenShot  =  yEs  \r\n") << DefaultFolder << int(ButtonShown);
    QTest::newRow("another word hides")
        << QByteArray("SCREENSHOT=JA\r\n") << DefaultFolder << int(ButtonHidden);
    QTest::newRow("single letter hides")
        << QByteArray("SCREENSHOT=Y\r\n") << DefaultFolder << int(ButtonHidden);
    QTest::newRow("empty value hides")
        << QByteArray("SCREENSHOT=\r\n") << DefaultFolder << int(ButtonHidden);
    QTest::newRow("tab is not trimmed")
        << QByteArray("SCREENSHOT=YES\t\r\n") << DefaultFolder << int(ButtonHidden);
    QTest::newRow("later SCREENSHOT wins, shown")
        << QByteArray("SCREENSHOT=NO\r\nSCREENSHOT=YES\r\n") << DefaultFolder << int(ButtonShown);
    QTest::newRow("later SCREENSHOT wins, hidden")
        << QByteArray("SCREENSHOT=YES\r\nSCREENSHOT=NO\r\n") << DefaultFolder << int(ButtonHidden);
    QTest::newRow("comment in the first column")
        << QByteArray("#SCREENSHOT=YES\r\n#IMAGE_PATH=/x/\r\n") << DefaultFolder
        << int(ButtonUnset);
    QTest::newRow("hash after spaces is a key, not a comment")
        << QByteArray(" #SCREENSHOT=YES\r\n") << DefaultFolder << int(ButtonUnset);
    QTest::newRow("line of spaces and unknown key skipped")
        << QByteArray("   \r\nCOLOUR=RED\r\nSCREENSHOT=YES") << DefaultFolder << int(ButtonShown);
    QTest::newRow("image path keeps its case")
        << QByteArray("image_path = /home/Op/Beacon Shots/ \r\n")
        << QStringLiteral("/home/Op/Beacon Shots/") << int(ButtonUnset);
    QTest::newRow("image path without final separator stays so")
        << QByteArray("IMAGE_PATH=/srv/shots") << QStringLiteral("/srv/shots") << int(ButtonUnset);
    QTest::newRow("empty image path") << QByteArray("IMAGE_PATH=") << QString() << int(ButtonUnset);
    QTest::newRow("only the first = splits")
        << QByteArray("IMAGE_PATH = /a=b/") << QStringLiteral("/a=b/") << int(ButtonUnset);
    QTest::newRow("later IMAGE_PATH wins")
        << QByteArray("IMAGE_PATH=/first/\r\nIMAGE_PATH=/second/\r\n") << QStringLiteral("/second/")
        << int(ButtonUnset);
    QTest::newRow("bare LF ends a line") << QByteArray("IMAGE_PATH=/shots/\nSCREENSHOT=NO\n")
                                         << QStringLiteral("/shots/") << int(ButtonHidden);
    QTest::newRow("bare CR ends a line") << QByteArray("IMAGE_PATH=/shots/\rSCREENSHOT=NO\r")
                                         << QStringLiteral("/shots/") << int(ButtonHidden);
    QTest::newRow("LF then CR is two line ends")
        << QByteArray("IMAGE_PATH=/shots/\n\rSCREENSHOT=YES") << QStringLiteral("/shots/")
        << int(ButtonShown);
    QTest::newRow("comment in a LF file covers one line only")
        << QByteArray("# where the pictures go\nIMAGE_PATH=/shots/\n") << QStringLiteral("/shots/")
        << int(ButtonUnset);
    QTest::newRow("line without = after IMAGE_PATH is ignored")
        << QByteArray("IMAGE_PATH=/shots/\r\n/elsewhere/\r\n") << QStringLiteral("/shots/")
        << int(ButtonUnset);
    QTest::newRow("line without = after SCREENSHOT is ignored")
        << QByteArray("SCREENSHOT=NO\r\nYES\r\n") << DefaultFolder << int(ButtonHidden);
}

void TestConfiguration::parsesLines()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, imageFolder);
    QFETCH(int, button);

    const Configuration configuration = tovrin3::parseConfiguration(content, DefaultFolder);

    QCOMPARE(configuration.imageFolder, imageFolder);
    QCOMPARE(int(buttonSetting(configuration)), button);
}

void TestConfiguration::readsLatin1()
{
    const Configuration configuration =
        tovrin3::parseConfiguration(QByteArray("IMAGE_PATH=/Bilder/M\xFC"
                                               "de/"),
                                    DefaultFolder);
    QCOMPARE(configuration.imageFolder, QStringLiteral("/Bilder/M\u00FCde/"));
}

void TestConfiguration::readsFileBesideProgram_data()
{
    QTest::addColumn<bool>("asFolder");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("imageFolder"); // empty: the program folder and a separator
    QTest::addColumn<int>("button");

    QTest::newRow("no conf.ini") << false << QByteArray() << QString() << int(ButtonUnset);
    QTest::newRow("conf.ini with settings")
        << false << QByteArray("SCREENSHOT=no\nIMAGE_PATH=/shots/\n") << QStringLiteral("/shots/")
        << int(ButtonHidden);
    QTest::newRow("a folder named conf.ini")
        << true << QByteArray() << QString() << int(ButtonUnset);
}

void TestConfiguration::readsFileBesideProgram()
{
    QFETCH(bool, asFolder);
    QFETCH(QByteArray, content);
    QFETCH(QString, imageFolder);
    QFETCH(int, button);

    QTemporaryDir programFolder;
    QVERIFY(programFolder.isValid());
    const QString path = programFolder.filePath(QStringLiteral("conf.ini"));
    if (asFolder) {
        QVERIFY(QDir(programFolder.path()).mkdir(QStringLiteral("conf.ini")));
    } else if (!content.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    const Configuration configuration = tovrin3::loadConfiguration(programFolder.path());

    const QString expectedFolder =
        imageFolder.isEmpty() ? programFolder.path() + QLatin1Char('/') : imageFolder;
    QCOMPARE(configuration.imageFolder, expectedFolder);
    QCOMPARE(int(buttonSetting(configuration)), button);
}

QTEST_GUILESS_MAIN(TestConfiguration)
#include "tst_configuration.moc"
