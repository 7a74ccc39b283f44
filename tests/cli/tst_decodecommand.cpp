#include "streamdecoding.h"

#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace tovrin3;

namespace {

const QString Program = QStringLiteral(BIN_DIR "/tovrin3-decode");
const QString SampleFile = QStringLiteral(SAMPLES_DIR "/beacon.txt");
const QByteArray ExampleFrameLine = "QT7XMRKT3HKD 900140010C6A00A503";

struct Run
{
    int exitCode = -1;
    QByteArray output;
    QByteArray errors;
};

Run runDecoder(const QStringList &arguments, const QByteArray &standardInput = {})
{
    QProcess process;
    process.start(Program, arguments);
    process.write(standardInput);
    process.closeWriteChannel();
    if (!process.waitForFinished(60'000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray exampleBlock(int frameNumber)
{
    return "#" + QByteArray::number(frameNumber) +
           ": 900140010C6A00A503\n"
           "-----------------------\n"
           "  Battery Temperature: 25.00 C\n"
           "  COM Temperature: 20.00 C\n"
           "  Battery Voltage: 3.90 V\n"
           "  Mission: 00000000\n"
           "  Debug: 10100101\n"
           "  Kill Switch: 00000011 MAIN=OFF, SUB=OFF\n"
           "\n";
}

} // namespace

class TestDecodeCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        QVERIFY(QFile::exists(Program));
        QVERIFY(m_dir.isValid());
        m_sample = readFile(SampleFile);
        m_report = readFile(QStringLiteral(TEST_DATA_DIR "/beacon.report.txt"));
        QVERIFY(m_report.startsWith("#1: "));
    }

    void decodesEachInput_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("standardInput");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QByteArray>("errors");
        QTest::addColumn<int>("exitCode");
        const QString missing = m_dir.filePath(QStringLiteral("missing.txt"));
        QByteArray crLf = m_sample;
        QByteArray cr = m_sample;

        QTest::newRow("sample file")
            << QStringList{SampleFile} << QByteArray() << m_report << QByteArray() << 0;
        QTest::newRow("each file numbered from #1")
            << QStringList{SampleFile, SampleFile} << QByteArray() << m_report + m_report
            << QByteArray() << 0;
        QTest::newRow("missing file between readable ones")
            << QStringList{SampleFile, missing, SampleFile} << QByteArray() << m_report + m_report
            << "tovrin3-decode: " + missing.toLocal8Bit() + ": No such file or directory\n"
            << 1;
        QTest::newRow("directory")
            << QStringList{m_dir.path(), SampleFile} << QByteArray() << m_report
            << "tovrin3-decode: " + m_dir.path().toLocal8Bit() + ": Is a directory\n"
            << 1;
        QTest::newRow("standard input when no file is named")
            << QStringList() << m_sample << m_report << QByteArray() << 0;
        QTest::newRow("standard input named -")
            << QStringList{QStringLiteral("-"), SampleFile} << m_sample << m_report + m_report
            << QByteArray() << 0;
        QTest::newRow("CR+LF line ends")
            << QStringList() << crLf.replace("\n", "\r\n") << m_report << QByteArray() << 0;
        QTest::newRow("CR line ends")
            << QStringList() << cr.replace('\n', '\r') << m_report << QByteArray() << 0;
        QByteArray manyBlocks;
        for (int frameNumber = 1; frameNumber <= 150; ++frameNumber)
            manyBlocks += exampleBlock(frameNumber);
        QTest::newRow("more frames than the window holds")
            << QStringList() << (ExampleFrameLine + "\r\n").repeated(150) << manyBlocks
            << QByteArray() << 0;
    }

    void decodesEachInput()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, standardInput);
        const Run run = runDecoder(arguments, standardInput);
        QTEST(run.output, "output");
        QTEST(run.errors, "errors");
        QTEST(run.exitCode, "exitCode");
    }

    void characterAcrossTheReadBoundary()
    {
        // The first byte of "é" is the last byte of the first read.
        const QByteArray frameLine = "900140010C6A00A50\xC3\xA9\n";
        const QByteArray firstLine =
            QByteArray(DefaultChunkSize - frameLine.size() + 1, 'x') + "\n";
        const QString path = m_dir.filePath(QStringLiteral("boundary.txt"));
        QVERIFY(writeFile(path, firstLine + frameLine));
        const Run run = runDecoder({path});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.output, QByteArray("#1: 900140010C6A00A50\xC3\x89\n"
                                        "-----------------------\n"
                                        "  Battery Temperature: 25.00 C\n"
                                        "  COM Temperature: 20.00 C\n"
                                        "  Battery Voltage: 3.90 V\n"
                                        "  Mission: 00000000\n"
                                        "  Debug: 10100101\n"
                                        "  Kill Switch: 00000000 MAIN=ON, SUB=ON\n"
                                        "\n"));
    }

    void options_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("outputStart");
        QTest::addColumn<QByteArray>("errorsStart");
        QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0
                              << QByteArray("Usage: tovrin3-decode [FILE...]\n") << QByteArray();
        QTest::newRow("version") << QStringList{QStringLiteral("--version")} << 0
                                 << QByteArray("tovrin3-decode 0.3\n") << QByteArray();
        const QByteArray unknown = "tovrin3-decode: unknown option ";
        QTest::newRow("unknown short option")
            << QStringList{QStringLiteral("-x")} << 2 << QByteArray() << unknown + "'-x'\n";
        QTest::newRow("unknown option after a file, nothing decoded")
            << QStringList{SampleFile, QStringLiteral("--frames")} << 2 << QByteArray()
            << unknown + "'--frames'\n";
    }

    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, outputStart);
        QFETCH(QByteArray, errorsStart);
        const Run run = runDecoder(arguments);
        QTEST(run.exitCode, "exitCode");
        QVERIFY(run.output.startsWith(outputStart));
        QCOMPARE(run.output.isEmpty(), outputStart.isEmpty());
        QVERIFY(run.errors.startsWith(errorsStart));
        QCOMPARE(run.errors.isEmpty(), errorsStart.isEmpty());
    }

    void closedPipeEndsQuietly()
    {
        QProcess process;
        // The program's standard output becomes a pipe whose reading end is already closed.
        process.setChildProcessModifier([] {
            int pipeEnds[2];
            if (::pipe(pipeEnds) != 0)
                return;
            ::dup2(pipeEnds[1], STDOUT_FILENO);
            ::close(pipeEnds[0]);
            ::close(pipeEnds[1]);
        });
        process.start(Program, {SampleFile});
        QVERIFY(process.waitForFinished(60'000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(process.readAllStandardError(), QByteArray());
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_sample;
    QByteArray m_report;
};

QTEST_GUILESS_MAIN(TestDecodeCommand)
#include "tst_decodecommand.moc"
