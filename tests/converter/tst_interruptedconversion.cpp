// SPDX-License-Identifier: GPL-3.0-or-later
// The converter killed at any moment, or failing, leaves under the PNG's name either nothing or
// the complete picture, and never loses the bitmap: it goes only once its PNG is in place.
#include "processtesting.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QLocale>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>

using namespace tovrin3::testing;

namespace {

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

} // namespace

class TestInterruptedConversion : public QObject
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
        QBuffer buffer(&m_bitmap);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && m_picture.save(&buffer, "bmp"));
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
};

QTEST_GUILESS_MAIN(TestInterruptedConversion)
#include "tst_interruptedconversion.moc"
