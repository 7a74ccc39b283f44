// SPDX-License-Identifier: GPL-3.0-or-later
// The screenshot button through the window: what the user is told when the bitmap or the
// converter cannot be had. A folder named beyond ASCII is read as UTF-8 (tst_configuration) and
// reaches the converter as it was written (tst_hostilefiles).
#include "fakes.h"
#include "windowtesting.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

const QString BitmapName = QStringLiteral("tovrin3_05122026.b");

// A program folder with our converter and, unless empty, a conf.ini naming the image folder in
// UTF-8.
bool prepareWithConverter(const QString &programFolder, const QString &imageFolder = QString())
{
    return prepareProgramFolder(
        programFolder, imageFolder.isEmpty() ? QByteArray() : "IMAGE_PATH=" + imageFolder.toUtf8(),
        OurConverter);
}

} // namespace

class TestScreenshot : public QObject
{
    Q_OBJECT

    FixedClock m_clock;
    QTemporaryDir m_emptyFolder;

private slots:
    // Only a converter beside the program is found.
    void initTestCase() { qputenv("PATH", QFile::encodeName(m_emptyFolder.path())); }

    void missingConverterIsReportedAndBitmapKept()
    {
        QTemporaryDir programFolder;
        RecordingStarter starter;
        Form1 window(programFolder.path(), m_clock, starter);

        const QStringList message = clickScreenshotButton(window);

        const QString information = QString::number(QMessageBox::Information);
        QCOMPARE(message, QStringList({"Error", "nconvert.exe not found", information}));
        const QString bitmap = programFolder.filePath(BitmapName);
        auto *status = control<QLabel>(window, "Label3");
        QCOMPARE(status->text(), bitmap + " saved");
        QVERIFY(QFile::exists(bitmap));
    }

    void unwritableFolderIsReportedAndStartsNothing()
    {
        QTemporaryDir programFolder;
        QVERIFY(prepareWithConverter(programFolder.path(), programFolder.filePath("missing/")));
        RecordingStarter starter;
        Form1 window(programFolder.path(), m_clock, starter);

        const QStringList message = clickScreenshotButton(window);

        QCOMPARE(message.value(0), QString("Error"));
        QVERIFY2(message.value(1).contains(programFolder.filePath("missing/" + BitmapName)),
                 qPrintable(message.value(1)));
        QCOMPARE(starter.commandLines, QList<QStringList>());
        QCOMPARE(control<QLabel>(window, "Label3")->text(), QString());
    }
};

QTEST_MAIN(TestScreenshot)
#include "tst_screenshot.moc"
