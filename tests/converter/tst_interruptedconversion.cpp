// The converter killed at any moment, or failing, leaves under the PNG's name either nothing or
// the complete picture, and never loses the bitmap: it goes only once its PNG is in place. A
// bitmap whose own writing was cut short is refused, not converted into a damaged PNG.
#include "imagereading.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QLocale>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdlib>

namespace {

// Noise compresses badly, so writing the PNG takes most of a run and a kill often lands in it.
constexpr int PictureSide = 1000;
const QStringList ConvertAndDelete{"-out", "png", "-quiet", "-D"};

QImage noisePicture(int side)
{
    QImage image(side, side, QImage::Format_RGB32);
    QRandomGenerator random(20261205);
    for (int y = 0; y < side; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < side; ++x)
            line[x] = random.generate() | 0xFF000000;
    }
    return image;
}

QByteArray bitmapData(const QImage &image)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "bmp").write(image);
    return data;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A 24-bit grey bitmap with an info header of 12 or 40 bytes, rows bottom-up or, for a negative
// height, top-down: made by hand, as Qt writes only bottom-up bitmaps with 40-byte headers.
QByteArray handMadeBitmap(quint32 infoHeaderSize, qint32 width, qint32 height)
{
    const qint32 rowBytes = (width * 3 + 3) / 4 * 4;
    const qint32 pixelBytes = rowBytes * std::abs(height);
    const quint32 rowsOffset = 14 + infoHeaderSize;
    QByteArray data;
    QDataStream stream(&data, QIODevice::WriteOnly);
    stream.setByteOrder(QDataStream::LittleEndian);
    stream.writeRawData("BM", 2);
    stream << quint32(rowsOffset + quint32(pixelBytes)) << quint32(0) << rowsOffset
           << infoHeaderSize;
    if (infoHeaderSize == 12)
        stream << quint16(width) << quint16(height) << quint16(1) << quint16(24);
    else
        stream << width << height << quint16(1) << quint16(24) << quint32(0) << quint32(pixelBytes)
               << qint32(2835) << qint32(2835) << quint32(0) << quint32(0);
    return data + QByteArray(pixelBytes, '\x80');
}

// The built converter, without any display, as the export starts it on a headless machine.
void startConverter(QProcess &process, const QString &input)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(BIN_DIR "/nconvert"), ConvertAndDelete + QStringList{input});
}

// True while the process holds a file in the folder open that is not the bitmap: the PNG being
// written, under a temporary name or none at all. The kernel names open files by their canonical
// paths.
bool isWritingInto(const QProcess &process, const QString &folder, const QString &bitmapName)
{
    const QString canonicalFolder = QFileInfo(folder).canonicalFilePath() + QLatin1Char('/');
    const QDir descriptors(QStringLiteral("/proc/%1/fd").arg(process.processId()));
    const QFileInfoList links = descriptors.entryInfoList(QDir::Files | QDir::System);
    return std::any_of(links.cbegin(), links.cend(), [&](const QFileInfo &link) {
        const QString target = link.symLinkTarget();
        return target.startsWith(canonicalFolder) && target != canonicalFolder + bitmapName;
    });
}

} // namespace

class TestInterruptedConversion : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void bitmapMustHoldEveryRow_data();
    void bitmapMustHoldEveryRow();
    void failedConversionKeepsBitmap_data();
    void failedConversionKeepsBitmap();
    void killedConversionLosesNothing_data();
    void killedConversionLosesNothing();
    void killedWhileWritingLosesNothing();

private:
    // After the run, whatever its end: the PNG is absent or whole, and the bitmap is unchanged
    // unless the whole PNG stands in its place.
    void verifyNothingLost(const QString &bitmap, const QString &png);

    QImage m_picture;
    QByteArray m_bitmap;
    qint64 m_runMilliseconds = 0;
};

void TestInterruptedConversion::initTestCase()
{
    QLocale::setDefault(QLocale::c());
    m_picture = noisePicture(PictureSide);
    m_bitmap = bitmapData(m_picture);

    // One run to the end, to know when to kill the later ones.
    QTemporaryDir folder;
    const QString bitmap = folder.filePath(QStringLiteral("shot.b"));
    QVERIFY(writeFile(bitmap, m_bitmap));
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    startConverter(process, bitmap);
    QVERIFY(process.waitForFinished(60000));
    m_runMilliseconds = clock.elapsed();
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(!QFile::exists(bitmap));
    verifyNothingLost(bitmap, folder.filePath(QStringLiteral("shot.png")));
}

void TestInterruptedConversion::verifyNothingLost(const QString &bitmap, const QString &png)
{
    if (QFile::exists(png)) {
        QImageReader reader(png, "png");
        const QImage written = reader.read();
        QVERIFY2(!written.isNull(), qPrintable(reader.errorString()));
        QVERIFY(written.convertToFormat(QImage::Format_RGB32) == m_picture);
    } else {
        QVERIFY2(QFile::exists(bitmap), "bitmap deleted without its PNG");
    }
    if (QFile::exists(bitmap))
        QVERIFY(fileContent(bitmap) == m_bitmap);
}

void TestInterruptedConversion::bitmapMustHoldEveryRow_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("readable");

    const QByteArray bottomUp = handMadeBitmap(40, 5, 4);
    const QByteArray topDown = handMadeBitmap(40, 5, -4);
    const QByteArray coreHeader = handMadeBitmap(12, 5, 4);
    QTest::newRow("bottom-up, whole") << bottomUp << true;
    QTest::newRow("bottom-up, last row a byte short") << bottomUp.chopped(1) << false;
    QTest::newRow("top-down, whole") << topDown << true;
    QTest::newRow("top-down, half the rows") << topDown.chopped(2 * 16) << false;
    QTest::newRow("12-byte header, whole") << coreHeader << true;
    QTest::newRow("12-byte header, a row short") << coreHeader.chopped(16) << false;
    QTest::newRow("rows beyond the end") << bottomUp.first(54) << false;
}

// Short rows would leave pixels undefined, so the reader refuses the bitmap.
void TestInterruptedConversion::bitmapMustHoldEveryRow()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, readable);

    const tovrin3::ImageReadResult result = tovrin3::readImageData(data);

    QCOMPARE(result.succeeded(), readable);
    if (readable)
        QCOMPARE(result.image.pixel(4, 3), qRgb(0x80, 0x80, 0x80));
}

void TestInterruptedConversion::failedConversionKeepsBitmap_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("pngNameTaken");

    const QByteArray bitmap = bitmapData(noisePicture(64));
    QTest::newRow("not an image") << QByteArray("#1: 5A 3C\r\n").repeated(100) << false;
    QTest::newRow("bitmap cut short in its rows") << bitmap.first(bitmap.size() / 2) << false;
    QTest::newRow("PNG name taken by a folder") << bitmap << true;
}

void TestInterruptedConversion::failedConversionKeepsBitmap()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, pngNameTaken);
    QTemporaryDir folder;
    const QString bitmap = folder.filePath(QStringLiteral("shot.b"));
    const QString png = folder.filePath(QStringLiteral("shot.png"));
    QVERIFY(writeFile(bitmap, content));
    if (pngNameTaken)
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("shot.png")));

    QProcess process;
    startConverter(process, bitmap);
    QVERIFY(process.waitForFinished(60000));

    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(process.readAllStandardError().contains("shot.b"));
    QCOMPARE(fileContent(bitmap), content);
    QCOMPARE(QFileInfo(png).exists(), pngNameTaken);
    QCOMPARE(QFileInfo(png).isDir(), pngNameTaken);
}

void TestInterruptedConversion::killedConversionLosesNothing_data()
{
    QTest::addColumn<double>("share"); // of a full run, before the kill

    for (const double share : {0.0, 0.05, 0.15, 0.3, 0.45, 0.6, 0.75, 0.85, 0.95, 1.05})
        QTest::addRow("killed after %d%% of a run", qRound(share * 100)) << share;
}

// The kill may land while the bitmap is read, while the PNG is written, between its rename into
// place and the bitmap's deletion, or after the end: the outcome must be sound in every case.
void TestInterruptedConversion::killedConversionLosesNothing()
{
    QFETCH(double, share);
    QTemporaryDir folder;
    const QString bitmap = folder.filePath(QStringLiteral("shot.b"));
    const QString png = folder.filePath(QStringLiteral("shot.png"));
    QVERIFY(writeFile(bitmap, m_bitmap));

    QProcess process;
    startConverter(process, bitmap);
    QVERIFY(process.waitForStarted());
    if (!process.waitForFinished(qRound(share * double(m_runMilliseconds)))) {
        process.kill();
        QVERIFY(process.waitForFinished());
    }

    verifyNothingLost(bitmap, png);
}

void TestInterruptedConversion::killedWhileWritingLosesNothing()
{
    QTemporaryDir folder;
    const QString bitmap = folder.filePath(QStringLiteral("shot.b"));
    QVERIFY(writeFile(bitmap, m_bitmap));

    QProcess process;
    startConverter(process, bitmap);
    QVERIFY(process.waitForStarted());
    bool writing = false;
    while (!writing && !process.waitForFinished(1))
        writing = isWritingInto(process, folder.path(), QStringLiteral("shot.b"));
    QVERIFY2(writing, "the conversion ended before it was seen writing");
    process.kill();
    QVERIFY(process.waitForFinished());

    verifyNothingLost(bitmap, folder.filePath(QStringLiteral("shot.png")));
}

QTEST_GUILESS_MAIN(TestInterruptedConversion)
#include "tst_interruptedconversion.moc"
