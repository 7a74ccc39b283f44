// SPDX-License-Identifier: GPL-3.0-or-later
#include "filetesting.h"
#include "processtesting.h"

#include <QFile>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace tovrin3::testing;
using namespace Qt::StringLiterals;

namespace {

const QString Program = QStringLiteral(BIN_DIR "/tovrin3-decode");
const QString SampleFile = QStringLiteral(SAMPLES_DIR "/beacon.txt");
const QString TimestampedFile = QStringLiteral(TEST_DATA_DIR "/timestamped.txt");
const QString Strict = QStringLiteral("--strict");

QByteArray testData(const char *name)
{
    return fileContent(QStringLiteral(TEST_DATA_DIR "/") + QLatin1StringView(name));
}

// The rows of one input's CSV among those of several: each begins with the input's name.
QByteArray sourced(const QByteArray &csv, const QByteArray &source, bool withHeader)
{
    const QList<QByteArray> lines = csv.split('\n');
    QByteArray rows;
    for (qsizetype index = withHeader ? 0 : 1; index + 1 < lines.size(); ++index)
        rows += (index == 0 ? QByteArray("source") : source) + ',' + lines[index] + '\n';
    return rows;
}

} // namespace

class TestDecodeCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(QFile::exists(Program));
        QVERIFY(m_dir.isValid());
        m_sample = fileContent(SampleFile);
        m_report = testData("beacon.report.txt");
        QVERIFY(m_report.startsWith("#1: "));
    }

    // Each run's whole output, diagnostics and exit status; --strict changes nothing on standard
    // output.
    void decodes_data()
    {
        addRunColumns();
        const QString missing = m_dir.filePath(QStringLiteral("missing.txt"));
        const QByteArray csv = testData("beacon.csv");
        const QString asCsv = QStringLiteral("--format=csv");
        const QString asJson = QStringLiteral("--format=json");
        const QByteArray sampleName = SampleFile.toLocal8Bit();
        const QByteArray notFound =
            "tovrin3-decode: " + missing.toLocal8Bit() + ": No such file or directory\n";
        const QByteArray tryHelp = "Try 'tovrin3-decode --help' for more information.\n";

        for (const auto &[input, format, expected] :
             {std::tuple{SampleFile, asJson, "beacon.jsonl"},
              std::tuple{TimestampedFile, asCsv, "timestamped.csv"},
              std::tuple{TimestampedFile, asJson, "timestamped.jsonl"}})
            addRun(expected, {input, format}, {}, testData(expected), {}, 0);
        addRun("unreadable inputs named, one header row, each input numbered from 1",
               {asCsv, SampleFile, missing, m_dir.path(), u"-"_s}, m_sample,
               sourced(csv, sampleName, true) + sourced(csv, "-", false),
               notFound + "tovrin3-decode: " + m_dir.path().toLocal8Bit() + ": Is a directory\n",
               1);
        QByteArray strictErrors;
        for (const char *line :
             {":1: not a frame (59 characters after cleaning): de NOCALL  KAMO TOVRIN-III pass "
              "2024-05-12 0932z, 20 wpm, copied by ear\n",
              ":7: not a frame (17 characters after cleaning): QT7XMRKT3HKD 8Z01 6E01 0C5 02 B1 "
              "03\n",
              ":10: frame 7: battery temperature 0008 has mixed sign bits: QT7XMRKT3HKD 0008 9801 "
              "0C46 04 B2 01\n",
              ":12: not a frame (19 characters after cleaning): QT7XMRKT3HKD 5001 A201 0C50 04 B3 "
              "011\n",
              ":17: not a frame (10 characters after cleaning): 73 de NOCALL\n"})
            strictErrors += sampleName + line;
        addRun("strict check of the sample", {Strict, SampleFile}, {}, m_report, strictErrors, 3);
        addRun("strict check names standard input -, an unreadable input outranks it",
               {Strict, missing, u"-"_s}, "\r\n\r\nbad\r\n", {},
               notFound + "-:3: not a frame (3 characters after cleaning): bad\n", 1);
        const QString frameFile = m_dir.filePath(u"one, frame.txt"_s);
        QVERIFY(writeFile(frameFile, "QT7XMRKT3HKD 900140010C6A00A503\n"));
        const QByteArray frameFileName = frameFile.toLocal8Bit();
        // The sample's second frame, as the first of its input.
        const QByteArray json = QByteArray(testData("beacon.jsonl").split('\n').at(1))
                                    .replace("\"frame\":2", "\"frame\":1");
        addRun("JSON rows of several inputs name their source", {asJson, frameFile, u"-"_s},
               "QT7XMRKT3HKD 900140010C6A00A503",
               "{\"source\":\"" + frameFileName + "\"," + json.sliced(1) + "\n{\"source\":\"-\"," +
                   json.sliced(1) + "\n",
               {}, 0);
        const QByteArray block = "#1: 900140010C6A00A503\n-----------------------\n"
                                 "  Battery Temperature: 25.00 C\n  COM Temperature: 20.00 C\n"
                                 "  Battery Voltage: 3.90 V\n  Mission: 00000000\n"
                                 "  Debug: 10100101\n  Kill Switch: 00000011 MAIN=OFF, SUB=OFF\n\n";
        const QByteArray heading = "==> " + frameFileName + " <==\n";
        addRun("report of several inputs: a heading before each input's blocks",
               {frameFile, u"-"_s, frameFile}, "no frame", heading + block + heading + block, {},
               0);
        const QByteArray sure = "QT7XMRKT3HKD 900140010C6A00A503\n";
        const QByteArray doubtful = "QT7XMRKT3HKD 900140010C6A00A503 [DOUBTFUL:CONFIDENCE=0.42]\n";
        addRun("--strict names a doubtful frame left out", {Strict}, sure + doubtful, block,
               "-:2: doubtful frame (confidence 0.42), left out without --keep-doubtful: " +
                   doubtful,
               3);
        const QByteArray csvHeader = csv.first(csv.indexOf('\n'));
        // The sample's second frame, "2,,900140010C6A00A503,...".
        const QByteArray secondRow = csv.split('\n').at(2);
        addRun("--keep-doubtful adds a confidence column, empty without a mark",
               {u"--keep-doubtful"_s, asCsv}, sure + doubtful,
               csvHeader + ",confidence\n1" + secondRow.sliced(1) + ",\n" + secondRow + ",0.42\n",
               {}, 0);
        addRun("UTF-16 text with a byte-order mark, little-endian", {},
               QStringEncoder(QStringConverter::Utf16LE,
                              QStringConverter::Flag::WriteBom)(QString::fromUtf8(sure)),
               block, {}, 0);
        addRun("raw samples are neither text nor a recording", {},
               QByteArray("\x00\x00\x10\x02\xF0\xFD\x00\x00", 8).repeated(64), {},
               "tovrin3-decode: -: neither text nor an audio recording (raw samples are read by "
               "tovrin3-cw --raw-rate)\n",
               1);
        addRun("unknown option after a file decodes nothing", {SampleFile, u"--frames"_s}, {}, {},
               "tovrin3-decode: unknown option '--frames'\n" + tryHelp, 2);
        addRun("unknown format", {u"--format"_s, u"xml"_s, SampleFile}, {}, {},
               "tovrin3-decode: unknown format 'xml': use report, csv or json\n" + tryHelp, 2);
        addRun("format without a value", {SampleFile, u"--format"_s}, {}, {},
               "tovrin3-decode: option '--format' needs a value: report, csv or json\n" + tryHelp,
               2);
    }

    void decodes() { checkRun(Program); }

    // A text redirected from a file, longer than the bytes read first to tell text from audio:
    // every line is decoded, the first too. Named twice, the second reads what the first left:
    // nothing.
    void readsAFileAsStandardInput_data()
    {
        QTest::addColumn<QStringList>("inputs");
        QTest::newRow("once") << QStringList{};
        QTest::newRow("named twice") << QStringList{QStringLiteral("-"), QStringLiteral("-")};
    }

    void readsAFileAsStandardInput()
    {
        QFETCH(QStringList, inputs);
        QByteArray text;
        while (text.size() <= 4 * 4096)
            text += m_sample;
        const QString path = m_dir.filePath(QStringLiteral("long.txt"));
        QVERIFY(writeFile(path, text));
        const QString csv = QStringLiteral("--format=csv");
        const ProgramRun named = runProgram(Program, {csv, path});
        QCOMPARE(named.exitCode, 0);
        const ProgramRun redirected = runWithInputFile(Program, QStringList{csv} + inputs, path);
        QCOMPARE(redirected.errors, QByteArray());
        QCOMPARE(redirected.output,
                 inputs.isEmpty() ? named.output : sourced(named.output, "-", true));
    }

    // A pipe that delivers a text line by line gets each frame decoded as its line ends, the
    // first too: telling text from audio waits for no more than the first line.
    void livePipeKeepsUp_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("firstOutput");
        QTest::newRow("report") << QStringList{} << QByteArray("#1: 900140010C6A00A503\n");
        QTest::newRow("CSV") << QStringList{QStringLiteral("--format=csv")}
                             << QByteArray("frame,timestamp,");
    }

    void livePipeKeepsUp()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, firstOutput);
        QProcess process;
        process.start(Program, arguments);
        QVERIFY(process.waitForStarted());
        process.write("QT7XMRKT3HKD 900140010C6A00A503\n");
        QByteArray output;
        while (!output.contains("900140010C6A00A503") && process.waitForReadyRead(10'000))
            output += process.readAllStandardOutput();
        QVERIFY2(output.startsWith(firstOutput), output.constData());
        QVERIFY(output.contains("900140010C6A00A503"));
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(10'000));
        QCOMPARE(process.exitCode(), 0);
    }

    // Help and version, long or short, answer alone: a file named with them is not decoded. As
    // "ls --version >/dev/full": one that cannot be written is a failure.
    void helpAndVersion_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QByteArray>("start");
        for (const char *option : {"--help", "-h"})
            QTest::newRow(option) << QString::fromLatin1(option)
                                  << QByteArray("Usage: tovrin3-decode [OPTION...] [FILE...]\n");
        for (const char *option : {"--version", "-V"})
            QTest::newRow(option) << QString::fromLatin1(option) << QByteArray("tovrin3-decode ");
    }

    void helpAndVersion()
    {
        QFETCH(QString, option);
        QFETCH(QByteArray, start);
        const ProgramRun run = runProgram(Program, {option, SampleFile});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.output.startsWith(start), run.output.constData());
        QVERIFY(!run.output.contains("#1: "));
        for (const QByteArray &line : run.output.split('\n'))
            QVERIFY2(line.size() <= 80, line.constData());
        QCOMPARE(run.output.contains("man tovrin3-decode"), start.startsWith("Usage"));
        const ProgramRun unwritable =
            runWithOutputTo(Program, {option}, QStringLiteral("/dev/full"));
        QCOMPARE(unwritable.exitCode, 2);
        QVERIFY2(unwritable.errors.startsWith("tovrin3-decode: standard output: "),
                 unwritable.errors.constData());
    }

    // After "--" even a name like an option is a file.
    void doubleDashEndsOptions()
    {
        QVERIFY(QFile::copy(SampleFile, m_dir.filePath(QStringLiteral("--strict"))));
        const ProgramRun run = runIn(m_dir.path(), Program, {QStringLiteral("--"), Strict});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.output, m_report);
        QCOMPARE(run.errors, QByteArray());
    }

    // A reader that closes the pipe ends the program quietly, without waiting for more input.
    void closedPipeEndsQuietly()
    {
        const ProgramRun run = runIntoClosedPipe(Program, {}, m_sample, false);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.errors, QByteArray());
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_sample;
    QByteArray m_report;
};

QTEST_GUILESS_MAIN(TestDecodeCommand)
#include "tst_decodecommand.moc"
