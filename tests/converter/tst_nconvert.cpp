// SPDX-License-Identifier: GPL-3.0-or-later
// The converter: its palette reduction, the program as the export runs it, and the program killed
// at any moment, which leaves under the PNG's name either nothing or the complete picture and
// never loses the bitmap: it goes only once its PNG is in place.
#include "fileconversion.h"
#include "filetesting.h"
#include "processtesting.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLocale>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <cstdlib>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

constexpr QRgb ExportGrey = qRgb(240, 240, 240);

int largestChannelError(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

enum KillMoment
{
    AsItStarts,
    WhileWritingPng,
    Never
};

const QString Converter = QStringLiteral(BIN_DIR "/nconvert");

// Converts shot.b in the folder into shot.png and deletes it, as the screenshot export asks.
QStringList converterArguments(const QString &folder)
{
    return {"-out", "png", "-quiet", "-D", folder + QStringLiteral("/shot.b")};
}

// True while the process holds a file in the folder open that is not the bitmap: the PNG being
// written, under a temporary name or none at all. The kernel names open files by canonical paths.
bool isWritingInto(const QProcess &process, const QString &folder)
{
    const QString canonicalFolder = QFileInfo(folder).canonicalFilePath() + QLatin1Char('/');
    const QDir descriptors(QStringLiteral("/proc/%1/fd").arg(process.processId()));
    const QFileInfoList links = descriptors.entryInfoList(QDir::Files | QDir::System);
    return std::any_of(links.cbegin(), links.cend(), [&](const QFileInfo &link) {
        const QString target = link.symLinkTarget();
        return target.startsWith(canonicalFolder) && target != canonicalFolder + "shot.b";
    });
}

// Runs the built program without any display, as the export does on a headless machine.
ProgramRun runConverter(const QString &workingFolder, const QStringList &arguments)
{
    return runIn(workingFolder, Converter, arguments, environmentWithoutDisplay());
}

QByteArray bmpBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes;
}

// A screenshot stand-in as BMP data: export grey around a red, a blue and an almost grey pixel.
QByteArray screenshotBmp()
{
    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(ExportGrey);
    image.setPixel(1, 1, qRgb(255, 0, 0));
    image.setPixel(2, 1, qRgb(0, 0, 255));
    image.setPixel(3, 2, qRgb(240, 240, 241));
    return bmpBytes(image);
}

QStringList filesIn(const QTemporaryDir &dir)
{
    return QDir(dir.path()).entryList(QDir::Files);
}

} // namespace

class TestNconvert : public QObject
{
    Q_OBJECT

    QImage m_picture;
    QByteArray m_bitmap;

private slots:
    // Noise compresses badly, so writing the PNG takes most of a run and a kill can land in it.
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        m_picture = QImage(1000, 1000, QImage::Format_RGB888); // its rows are whole 32-bit words
        QRandomGenerator(20261205).fillRange(reinterpret_cast<quint32 *>(m_picture.bits()),
                                             m_picture.sizeInBytes() / 4);
        m_bitmap = bmpBytes(m_picture);
        QVERIFY(!m_bitmap.isEmpty());
    }

    void convertsBesideInput_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("output");
        QTest::newRow("read by content, not name") << QString("shot.jpg") << QString("shot.png");
        QTest::newRow("same name replaced, not deleted")
            << QString("shot.png") << QString("shot.png");
    }

    void convertsBesideInput()
    {
        QFETCH(QString, input);
        QFETCH(QString, output);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(input), screenshotBmp()));

        const ProgramRun run =
            runConverter(dir.path(), {"-out", "png", "-transpcolor", "240", "240", "240", "-colors",
                                      "256", "-quiet", "-D", input});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.output.isEmpty() && run.errors.isEmpty());
        QCOMPARE(filesIn(dir), QStringList{output});
        const QImage written(dir.filePath(output));
        QCOMPARE(written.format(), QImage::Format_Indexed8); // a palette PNG
        QCOMPARE(written.size(), QSize(4, 3));
        QCOMPARE(qAlpha(written.pixel(0, 0)), 0);
        QCOMPARE(written.pixel(1, 1), qRgb(255, 0, 0));
        QCOMPARE(written.pixel(2, 1), qRgb(0, 0, 255));
        QCOMPARE(written.pixel(3, 2), qRgb(240, 240, 241));
    }

    void failedInputIsReportedAndKept_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("exists");
        QByteArray hugeBmp = screenshotBmp();
        hugeBmp.replace(18, 8, QByteArray::fromHex("ffffff7fffffff7f"));
        QTest::newRow("not an image") << QByteArray("#1: 5A 3C\n") << true;
        QTest::newRow("BMP header only") << screenshotBmp().left(30) << true;
        QTest::newRow("BMP claiming a huge size") << hugeBmp << true;
        QTest::newRow("missing file") << QByteArray() << false;
    }

    void failedInputIsReportedAndKept()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, exists);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("good.b"), screenshotBmp()));
        if (exists)
            QVERIFY(writeFile(dir.filePath("bad.b"), content));

        const ProgramRun run = runConverter(dir.path(), {"-out", "png", "-D", "bad.b", "good.b"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.errors.contains("bad.b"));
        const QStringList kept = exists ? QStringList{"bad.b"} : QStringList();
        QCOMPARE(filesIn(dir), kept + QStringList{"good.png"}); // the next input still converts
    }

    // Each run asks for -D, so a refused command line must not lose the input either.
    void badCommandLineConvertsNothing_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("unknown option") << QStringList{"-out", "png", "-ratio", "2", "a.b"};
        QTest::newRow("other output format") << QStringList{"-out", "jpg", "a.b"};
        QTest::newRow("no output format") << QStringList{"-colors", "256", "a.b"};
        QTest::newRow("no input file") << QStringList{"-out", "png"};
        QTest::newRow("colour above 255")
            << QStringList{"-out", "png", "-transpcolor", "240", "256", "240", "a.b"};
        QTest::newRow("two colour values")
            << QStringList{"-out", "png", "a.b", "-transpcolor", "240", "240"};
        QTest::newRow("too many colours") << QStringList{"-out", "png", "-colors", "257", "a.b"};
    }

    void badCommandLineConvertsNothing()
    {
        QFETCH(QStringList, arguments);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("a.b"), screenshotBmp()));
        const ProgramRun run = runConverter(dir.path(), QStringList{"-D"} + arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.errors.contains("Usage"));
        QCOMPARE(filesIn(dir), QStringList{"a.b"});
    }
    void conversionLosesNothing_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("pngNameTaken");
        QTest::addColumn<int>("moment");
        QTest::addColumn<QStringList>("filesAfterRun"); // when not killed

        const QByteArray cutShort = m_bitmap.first(m_bitmap.size() / 2);
        QByteArray topDown = cutShort;
        // A negative height: rows stored top-down.
        qToLittleEndian<qint32>(-m_picture.height(), topDown.data() + 22);
        const QStringList none;
        const QStringList png{"shot.png"};
        const QStringList bitmap{"shot.b"};
        QTest::newRow("killed as it starts") << m_bitmap << false << int(AsItStarts) << none;
        QTest::newRow("killed while it writes the PNG")
            << m_bitmap << false << int(WhileWritingPng) << none;
        QTest::newRow("run to the end") << m_bitmap << false << int(Never) << png;
        // Converted, they would give a PNG with undefined pixels and the bitmap would go.
        QTest::newRow("bitmap cut short in its rows") << cutShort << false << int(Never) << bitmap;
        QTest::newRow("top-down bitmap cut short") << topDown << false << int(Never) << bitmap;
        QTest::newRow("PNG name taken by a folder")
            << m_bitmap << true << int(Never) << bitmap + png;
    }

    // Under the PNG's name nothing or the whole picture, and the bitmap unchanged unless the whole
    // PNG stands in its place. A failed conversion exits with 1.
    void conversionLosesNothing()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, pngNameTaken);
        QFETCH(int, moment);
        QFETCH(QStringList, filesAfterRun);
        QTemporaryDir folder;
        const QString bitmap = folder.filePath(QStringLiteral("shot.b"));
        const QString png = folder.filePath(QStringLiteral("shot.png"));
        QVERIFY(writeFile(bitmap, content));
        if (pngNameTaken)
            QVERIFY(QDir().mkdir(png));

        if (moment == Never) {
            const ProgramRun run = runProgram(Converter, converterArguments(folder.path()));
            QCOMPARE(run.exitCode, filesAfterRun.contains("shot.b") ? 1 : 0);
            const auto allEntries = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden;
            QCOMPARE(QDir(folder.path()).entryList(allEntries), filesAfterRun);
        } else {
            QProcess process;
            process.start(Converter, converterArguments(folder.path()));
            QVERIFY(process.waitForStarted());
            bool writing = moment == AsItStarts;
            while (!writing && !process.waitForFinished(1))
                writing = isWritingInto(process, folder.path());
            QVERIFY2(writing, "the conversion ended before it was seen writing");
            process.kill();
            process.waitForFinished();
        }

        if (QFileInfo(png).isFile())
            QCOMPARE(QImage(png, "png").convertToFormat(m_picture.format()), m_picture);
        else
            QVERIFY2(QFile::exists(bitmap), "bitmap deleted without its PNG");
        if (QFile::exists(bitmap))
            QVERIFY(fileContent(bitmap) == content);
    }

    // 64 colours a row and one grey pixel that turns transparent, as the export asks for.
    void coloursFitOrStayClose_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("maxColours");
        QTest::addColumn<int>("largestAverageError");
        QTest::newRow("255 colours and transparent kept exactly") << 4 << 256 << 0;
        QTest::newRow("3071 colours and transparent into 256") << 48 << 256 << 6;
    }

    void coloursFitOrStayClose()
    {
        QFETCH(int, rows);
        QFETCH(int, maxColours);
        QFETCH(int, largestAverageError);
        QImage image(64, rows, QImage::Format_RGB32);
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgb(x * 4, y * 4, 255 - (x + y) * 2));
        }
        image.setPixel(0, 0, ExportGrey);

        const QImage reduced = convertImage(image, {ExportGrey, maxColours, false});
        QCOMPARE(reduced.format(), QImage::Format_Indexed8);
        QVERIFY(reduced.colorCount() <= maxColours);
        QSet<uchar> used;
        qint64 errorSum = 0;
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < image.width(); ++x) {
                used.insert(reduced.constScanLine(y)[x]);
                QCOMPARE(qAlpha(reduced.pixel(x, y)), x + y == 0 ? 0 : 255);
                errorSum += largestChannelError(reduced.pixel(x, y), image.pixel(x, y));
            }
        }
        QCOMPARE(used.size(), maxColours); // the whole palette is put to use
        QCOMPARE_LE(errorSum, qint64{largestAverageError} * (image.width() * rows - 1));
    }

    void pngNames_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("output");
        QTest::newRow("last extension only") << QString("shot.tar.bmp") << QString("shot.tar.png");
        QTest::newRow("dot in folder only") << QString("/a.b/shot") << QString("/a.b/shot.png");
        QTest::newRow("hidden file") << QString("/tmp/.shot") << QString("/tmp/.shot.png");
    }

    void pngNames()
    {
        QFETCH(QString, input);
        QFETCH(QString, output);
        QCOMPARE(pngPathFor(input), output);
    }
};

QTEST_GUILESS_MAIN(TestNconvert)
#include "tst_nconvert.moc"
