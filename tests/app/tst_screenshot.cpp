#include "windowtesting.h"

#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

class FixedClock : public Clock
{
public:
    QDate date{2026, 12, 5};
    QDate currentDate() const override { return date; }
};

class RecordingStarter : public ProcessStarter
{
public:
    bool startDetached(const QString &program, const QStringList &arguments) override
    {
        programs.append(program);
        lastArguments = arguments;
        return true;
    }

    QStringList programs;
    QStringList lastArguments;
};

struct ShownMessage
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Clicks "S" and answers the message box that the click may show, so the test never blocks.
std::optional<ShownMessage> clickScreenshotButton(Form1 &window)
{
    std::optional<ShownMessage> shown;
    QTimer::singleShot(0, [&shown] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            shown = ShownMessage{box->windowTitle(), box->text(), box->icon()};
            box->accept();
        }
    });
    QTest::mouseClick(control<QPushButton>(window, "Command1"), Qt::LeftButton);
    QCoreApplication::processEvents();
    return shown;
}

QString label3(const Form1 &window)
{
    return control<QLabel>(window, "Label3")->text();
}

} // namespace

class TestScreenshot : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_programFolder;
    QTemporaryDir m_emptyPath;
    FixedClock m_clock;
    RecordingStarter m_starter;
    QByteArray m_savedPath;

    void writeConfiguration(const QByteArray &content)
    {
        QFile file(m_programFolder.filePath("conf.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    void placeConverter(const QString &folder)
    {
        QFile converter(folder + "/nconvert");
        QVERIFY(converter.open(QIODevice::WriteOnly));
        converter.write("#!/bin/sh\n");
        converter.close();
        QVERIFY(converter.setPermissions(converter.permissions() | QFileDevice::ExeOwner));
    }

private slots:
    void initTestCase()
    {
        m_savedPath = qgetenv("PATH");
        qputenv("PATH", m_emptyPath.path().toLocal8Bit());
    }

    void cleanupTestCase() { qputenv("PATH", m_savedPath); }

    void init()
    {
        m_starter = RecordingStarter();
        QFile::remove(m_programFolder.filePath("conf.ini"));
        QFile::remove(m_programFolder.filePath("nconvert"));
    }

    void savesTheClientAreaAsBitmapAndStartsTheConverter()
    {
        placeConverter(m_programFolder.path());
        Form1 window(m_programFolder.path(), m_clock, m_starter);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QVERIFY(!clickScreenshotButton(window).has_value());

        const QString bitmap = m_programFolder.path() + "/tovrin3_05122026.b";
        QCOMPARE(label3(window), bitmap + " saved");
        QImageReader reader(bitmap);
        reader.setDecideFormatFromContent(true);
        QCOMPARE(reader.format(), QByteArray("bmp"));
        const QImage image = reader.read();
        QCOMPARE(image.size(), QSize(550, 565));
        QCOMPARE(image.pixelColor(image.width() - 1, 0), QColor(240, 240, 240));
        QCOMPARE(m_starter.programs, QStringList{m_programFolder.filePath("nconvert")});
        QCOMPARE(m_starter.lastArguments.last(), bitmap);
    }

    void missingConverterShowsTheMessageAndKeepsTheBitmap()
    {
        Form1 window(m_programFolder.path(), m_clock, m_starter);
        const auto message = clickScreenshotButton(window);
        QVERIFY(message.has_value());
        QCOMPARE(message->title, QString("Error"));
        QCOMPARE(message->text, QString("nconvert.exe not found"));
        QCOMPARE(message->icon, QMessageBox::Information);
        const QString bitmap = m_programFolder.path() + "/tovrin3_05122026.b";
        QCOMPARE(label3(window), bitmap + " saved");
        QVERIFY(QFile::exists(bitmap));
    }

    void unwritableFolderReportsAndStartsNothing()
    {
        placeConverter(m_programFolder.path());
        writeConfiguration("IMAGE_PATH=" + m_programFolder.filePath("missing/").toUtf8() + "\n");
        Form1 window(m_programFolder.path(), m_clock, m_starter);
        const auto message = clickScreenshotButton(window);
        QVERIFY(message.has_value());
        QCOMPARE(message->title, QString("Error"));
        QVERIFY2(message->text.contains(m_programFolder.filePath("missing/tovrin3_05122026.b")),
                 qPrintable(message->text));
        QVERIFY(m_starter.programs.isEmpty());
        QCOMPARE(label3(window), QString());
    }

    // The real converter beside the program turns the bitmap into a transparent PNG.
    void endToEndWithOurConverter()
    {
        QTemporaryDir imageFolder;
        QFile::copy(QStringLiteral(BIN_DIR "/nconvert"), m_programFolder.filePath("nconvert"));
        writeConfiguration("IMAGE_PATH=" + imageFolder.path().toUtf8() + "/shots of today/\n");
        QVERIFY(QDir(imageFolder.path()).mkdir("shots of today"));
        DetachedProcessStarter starter;
        Form1 window(m_programFolder.path(), m_clock, starter);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QVERIFY(!clickScreenshotButton(window).has_value());

        const QString base = imageFolder.path() + "/shots of today/tovrin3_05122026";
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(base + ".b"), 10000);
        const QImage png(base + ".png", "png");
        QCOMPARE(png.size(), QSize(550, 565));
        QCOMPARE(png.pixelColor(png.width() - 1, 0).alpha(), 0);
    }
};

QTEST_MAIN(TestScreenshot)
#include "tst_screenshot.moc"
