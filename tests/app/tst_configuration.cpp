// SPDX-License-Identifier: GPL-3.0-or-later
// The line rules of conf.ini on the text alone: values, line ends and the encodings a hand-edited
// file comes in. Comments, the case of keys, lines ended by a bare LF and the last line of a key
// winning are the rules the station settings share (tst_stationsettings); the windows that apply
// the file are tested elsewhere, Latin-1 through to the converter in tst_hostilefiles.
#include "configuration.h"

#include <QtTest>

using namespace tovrin3;

namespace {

const QString DefaultFolder = QStringLiteral("/opt/tovrin3/");

// What conf.ini says about the screenshot button.
enum ButtonSetting
{
    Unset,
    Shown,
    Hidden
};

ButtonSetting buttonSetting(const Configuration &configuration)
{
    if (!configuration.screenshotButtonVisible)
        return Unset;
    return *configuration.screenshotButtonVisible ? Shown : Hidden;
}

} // namespace

class TestConfiguration : public QObject
{
    Q_OBJECT

private slots:
    void parsesLines_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("imageFolder");
        QTest::addColumn<ButtonSetting>("button");

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
            << QStringLiteral("/\u0421\u043D\u0438\u043C\u043A\u0438/") << Unset;
        QTest::newRow("UTF-8 with a byte order mark")
            << QByteArray("\xEF\xBB\xBFSCREENSHOT=YES\r\nIMAGE_PATH=/\xC3\xA9t\xC3\xA9/")
            << QStringLiteral("/\u00E9t\u00E9/") << Shown;
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
        QFETCH(ButtonSetting, button);

        const Configuration configuration = parseConfiguration(content, DefaultFolder);

        QCOMPARE(configuration.imageFolder, imageFolder);
        QCOMPARE(buttonSetting(configuration), button);
    }
};

QTEST_GUILESS_MAIN(TestConfiguration)
#include "tst_configuration.moc"
