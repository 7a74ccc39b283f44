#include "decoder.h"
#include "streamdecoding.h"

#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

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

Run runDecoder(const QStringList &arguments, const QByteArray &standardInput = {},
               const QStringList &environment = {})
{
    QProcess process;
    if (!environment.isEmpty()) {
        QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
        for (const QString &variable : environment)
            variables.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
        process.setProcessEnvironment(variables);
    }
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

// The window's report of a text, with LF line ends.
QByteArray windowReport(const QByteArray &text)
{
    auto history = std::make_unique<FrameHistory>();
    const QString input =
        QString::fromUtf8(text).replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return decodeBeaconText(input, *history)
        .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .toUtf8();
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
                              << QByteArray("Usage: tovrin3-decode [OPTION...] [FILE...]\n")
                              << QByteArray();
        QTest::newRow("version") << QStringList{QStringLiteral("--version")} << 0
                                 << QByteArray("tovrin3-decode 0.3\n") << QByteArray();
        const QByteArray unknown = "tovrin3-decode: unknown option ";
        QTest::newRow("unknown short option")
            << QStringList{QStringLiteral("-x")} << 2 << QByteArray() << unknown + "'-x'\n";
        QTest::newRow("unknown option after a file, nothing decoded")
            << QStringList{SampleFile, QStringLiteral("--frames")} << 2 << QByteArray()
            << unknown + "'--frames'\n";
        const QByteArray formats = ": use report, csv or json\n";
        QTest::newRow("unknown format")
            << QStringList{QStringLiteral("--format"), QStringLiteral("xml"), SampleFile} << 2
            << QByteArray() << "tovrin3-decode: unknown format 'xml'" + formats;
        QTest::newRow("format names are lower case")
            << QStringList{QStringLiteral("--format=CSV"), SampleFile} << 2 << QByteArray()
            << "tovrin3-decode: unknown format 'CSV'" + formats;
        QTest::newRow("format without a value")
            << QStringList{SampleFile, QStringLiteral("--format")} << 2 << QByteArray()
            << QByteArray("tovrin3-decode: option '--format' needs a value: report, csv or json\n");
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

    void exports_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("standardInput");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QByteArray>("output");
        const QByteArray sampleCsv = readFile(QStringLiteral(TEST_DATA_DIR "/beacon.csv"));
        const QByteArray sampleJson = readFile(QStringLiteral(TEST_DATA_DIR "/beacon.jsonl"));
        const QString timestamped = QStringLiteral(TEST_DATA_DIR "/timestamped.txt");
        const QString csv = QStringLiteral("--format=csv");
        const QString json = QStringLiteral("--format=json");
        QVERIFY(sampleCsv.startsWith("frame,timestamp,frame_text,"));

        QTest::newRow("sample as CSV")
            << QStringList{QStringLiteral("--format"), QStringLiteral("csv"), SampleFile}
            << QByteArray() << QStringList() << sampleCsv;
        QTest::newRow("sample as JSON Lines")
            << QStringList{json, SampleFile} << QByteArray() << QStringList() << sampleJson;
        QTest::newRow("timestamped pass as CSV")
            << QStringList{csv, timestamped} << QByteArray() << QStringList()
            << readFile(QStringLiteral(TEST_DATA_DIR "/timestamped.csv"));
        QTest::newRow("timestamped pass as JSON Lines")
            << QStringList{timestamped, json} << QByteArray() << QStringList()
            << readFile(QStringLiteral(TEST_DATA_DIR "/timestamped.jsonl"));
        QTest::newRow("one header row for two files, rows numbered per file")
            << QStringList{csv, SampleFile, QStringLiteral("-")} << m_sample << QStringList()
            << sampleCsv + sampleCsv.sliced(sampleCsv.indexOf('\n') + 1);
        QTest::newRow("header row when no input could be read")
            << QStringList{csv, m_dir.filePath(QStringLiteral("missing.txt"))} << QByteArray()
            << QStringList() << sampleCsv.first(sampleCsv.indexOf('\n') + 1);
        QByteArray crLf = m_sample;
        QTest::newRow("CR+LF line ends")
            << QStringList{csv} << crLf.replace("\n", "\r\n") << QStringList() << sampleCsv;
        QTest::newRow("a locale with a decimal comma changes nothing")
            << QStringList{csv, SampleFile} << QByteArray()
            << QStringList{QStringLiteral("LC_ALL=de_DE.UTF-8"), QStringLiteral("LANG=de_DE.UTF-8")}
            << sampleCsv;
        QTest::newRow("the report reads timestamped lines as the window does")
            << QStringList{timestamped} << QByteArray() << QStringList()
            << windowReport(readFile(timestamped));
        QByteArray manyRows;
        for (int frameNumber = 1; frameNumber <= 150; ++frameNumber)
            manyRows += QByteArray::number(frameNumber) +
                        ",,900140010C6A00A503,25,20,3.8987915039062497,00000000,165,10100101,3,"
                        "00000011,OFF,OFF\n";
        QTest::newRow("more frames than the window holds")
            << QStringList{QStringLiteral("--format"), QStringLiteral("csv")}
            << (ExampleFrameLine + "\n").repeated(150) << QStringList()
            << sampleCsv.first(sampleCsv.indexOf('\n') + 1) + manyRows;
    }

    void exports()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, standardInput);
        QFETCH(QStringList, environment);
        const Run run = runDecoder(arguments, standardInput, environment);
        QTEST(run.output, "output");
    }

    void strictDiagnostics_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("standardInput");
        QTest::addColumn<QByteArray>("errors");
        QTest::addColumn<int>("exitCode");
        const QString strict = QStringLiteral("--strict");
        const QString timestamped = QStringLiteral(TEST_DATA_DIR "/timestamped.txt");
        const QString missing = m_dir.filePath(QStringLiteral("missing.txt"));
        const QByteArray sample = SampleFile.toLocal8Bit();
        const QByteArray sampleErrors =
            sample +
            ":1: not a frame (59 characters after cleaning): de NOCALL  KAMO TOVRIN-III "
            "pass 2024-05-12 0932z, 20 wpm, copied by ear\n" +
            sample +
            ":7: not a frame (17 characters after cleaning): QT7XMRKT3HKD 8Z01 6E01 0C5 "
            "02 B1 03\n" +
            sample +
            ":10: frame 7: battery temperature 0008 has mixed sign bits: QT7XMRKT3HKD 0008 "
            "9801 0C46 04 B2 01\n" +
            sample +
            ":12: not a frame (19 characters after cleaning): QT7XMRKT3HKD 5001 A201 0C50 "
            "04 B3 011\n" +
            sample + ":17: not a frame (10 characters after cleaning): 73 de NOCALL\n";
        const QByteArray name = timestamped.toLocal8Bit();
        const QByteArray badTimestamp =
            ": not a frame (text before \"|\" is not a UTC timestamp): ";

        QTest::newRow("sample") << QStringList{strict, SampleFile} << QByteArray() << sampleErrors
                                << 3;
        QTest::newRow("sample as CSV")
            << QStringList{SampleFile, QStringLiteral("--format=csv"), strict} << QByteArray()
            << sampleErrors << 3;
        QTest::newRow("timestamped pass as JSON Lines")
            << QStringList{strict, QStringLiteral("--format=json"), timestamped} << QByteArray()
            << name +
                   ":2: frame 2: kill-switch byte 04 is above 3: 2026-12-06 18:57:45Z|"
                   "QT7XMRKT3HKD 5A01B6010C7201A604\n" +
                   name +
                   ":3: frame 3: COM temperature 0008 has mixed sign bits: "
                   "2026-12-06t18:57:46.25z|qt7xmrkt3hkd f0ff 0008 ffff 00 a5 ff\n" +
                   name +
                   ":3: frame 3: kill-switch byte FF is above 3: "
                   "2026-12-06t18:57:46.25z|qt7xmrkt3hkd f0ff 0008 ffff 00 a5 ff\n" +
                   name +
                   ":6: frame 5: COM temperature ,\"40 has mixed sign bits: "
                   "2026-12-06T18:57:48.000000001Z|9001,\"40010C6A00A5\n" +
                   name +
                   ":6: frame 5: kill-switch byte A5 is above 3: "
                   "2026-12-06T18:57:48.000000001Z|9001,\"40010C6A00A5\n" +
                   name + ":7" + badTimestamp +
                   "2026-13-40T18:57:49Z|QT7XMRKT3HKD 900140010C6A00A503\n" + name + ":8" +
                   badTimestamp + "2026-12-06T18:57:50+01:00|QT7XMRKT3HKD 900140010C6A00A503\n" +
                   name + ":9" + badTimestamp +
                   "2026-12-06T18:57:51.1234567890Z|QT7XMRKT3HKD 900140010C6A00A503\n" + name +
                   ":11: frame 6: battery temperature 0080 has mixed sign bits: "
                   "2028-02-29T23:59:59Z|QT7XMRKT3HKD 0080 9001 8000 FF 00 02\n"
            << 3;
        QTest::newRow("standard input is named -")
            << QStringList{strict} << QByteArray("\r\n\r\nbad\r\n")
            << QByteArray("-:3: not a frame (3 characters after cleaning): bad\n") << 3;
        QTest::newRow("nothing to name") << QStringList{strict} << ExampleFrameLine + "\n\n \n"
                                         << QByteArray() << 0;
        QTest::newRow("nothing named without --strict")
            << QStringList{SampleFile} << QByteArray() << QByteArray() << 0;
        QTest::newRow("an unreadable input outranks the diagnostics")
            << QStringList{strict, missing, QStringLiteral("-")} << QByteArray("bad")
            << "tovrin3-decode: " + missing.toLocal8Bit() +
                   ": No such file or directory\n"
                   "-:1: not a frame (3 characters after cleaning): bad\n"
            << 1;
    }

    // The diagnostics change nothing on standard output.
    void strictDiagnostics()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, standardInput);
        const Run run = runDecoder(arguments, standardInput);
        QTEST(run.errors, "errors");
        QTEST(run.exitCode, "exitCode");
        arguments.removeAll(QStringLiteral("--strict"));
        QCOMPARE(run.output, runDecoder(arguments, standardInput).output);
    }

    void hugeLineIsCutInItsDiagnostic()
    {
        const QString path = m_dir.filePath(QStringLiteral("huge.txt"));
        QVERIFY(writeFile(path, QByteArray(20'000'000, 'x') + "\n" + ExampleFrameLine));
        const Run run =
            runDecoder({QStringLiteral("--strict"), QStringLiteral("--format=csv"), path});
        QCOMPARE(run.exitCode, 3);
        QCOMPARE(run.output.count('\n'), 2);
        QCOMPARE(run.errors, path.toLocal8Bit() +
                                 ":1: not a frame (20000000 characters after cleaning): " +
                                 QByteArray(200, 'x') + " [... 19999800 more characters]\n");
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
