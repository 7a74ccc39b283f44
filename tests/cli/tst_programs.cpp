// SPDX-License-Identifier: GPL-3.0-or-later
// The programs tovrin3-decode and tovrin3-cw as a user runs them, the station options too.
#include "audiofile.h"
#include "cwsignal.h"
#include "cwstream.h"
#include "cwtesting.h"
#include "filetesting.h"
#include "historytesting.h"
#include "processtesting.h"
#include "sidsrequest.h"
#include "sidsserver.h"
#include "soundtesting.h"
#include "stationcommand.h"
#include "stationtesting.h"

#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace tovrin3;
using namespace tovrin3::testing;
using namespace Qt::StringLiterals;

namespace {

const QString Program = QStringLiteral(BIN_DIR "/tovrin3-decode");
const QString CwProgram = QStringLiteral(BIN_DIR "/tovrin3-cw");
constexpr int Rate = 8000;
const QString RawRate = QStringLiteral("--raw-rate");
const QString Timestamps = QStringLiteral("--timestamps");
const QString Start = QStringLiteral("--start");

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

QByteArray usageError(const QByteArray &message)
{
    return "tovrin3-cw: " + message + "\nTry 'tovrin3-cw --help' for more information.\n";
}

const QByteArray TimedFrameLine = "2026-12-06T18:57:44Z|QT7XMRKT3HKD 900140010C6A00A503\n";
// Requests the server got, sure frames and queued frames in the log (-1: no log).
using Counts = QList<qint64>;
const QByteArray FrameHex = "515437584D524B5433484B4420393030313430303130433641303041353033";

QByteArray expectedBody(const QByteArray &timestamp)
{
    return "noradID=99999&source=DL1ABC%2FP&timestamp=" + timestamp.toPercentEncoding() +
           "&frame=" + FrameHex + "&locator=longLat&longitude=11.000E&latitude=48.500N&version=" +
           station::softwareVersion().toUtf8().toPercentEncoding();
}

} // namespace

class TestPrograms : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        QVERIFY(QFile::exists(Program) && QFile::exists(CwProgram));
        QVERIFY(m_dir.isValid());
        m_sample = fileContent(SampleFile);
        m_report = testData("beacon.report.txt");
        QVERIFY(m_report.startsWith("#1: "));
        // Most runs copy short transmissions; the decoder's runs need a beacon frame.
        const std::vector<float> signal = cwTestSignal(Rate, CwShortTransmissions);
        m_pass = m_dir.filePath(QStringLiteral("pass.wav"));
        QVERIFY(cwgen::writeWav(m_pass, signal, Rate));
        m_beaconPass = m_dir.filePath(QStringLiteral("beacon.wav"));
        QVERIFY(cwgen::writeWav(m_beaconPass, cwTestSignal(Rate), Rate));
        m_raw = rawSamples(signal);
        m_text = CwShortTransmissions.join(u'\n').toUtf8() + '\n';
        m_copy = morse::copyAudioFile(m_pass);
        QCOMPARE(m_copy.lines.size(), size_t(2));
        m_namedRecording = m_dir.filePath(u"satnogs_8812345_2026-12-06T18-57-00.wav"_qs);
        QVERIFY(QFile::copy(m_beaconPass, m_namedRecording));
        m_taggedRecording = m_dir.filePath(u"tagged.wav"_qs);
        QVERIFY(writeSound(m_taggedRecording, cwTestSignal(Rate), Rate,
                           SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, "2026-12-06 18:56:00"));
        const morse::AudioFileCopy copy = morse::copyAudioFile(m_beaconPass);
        QVERIFY(!copy.lines.empty());
        m_headerOffsetMs = std::llround(copy.lines.front().startSeconds * 1000.0);
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
    void livePipeKeepsUp()
    {
        QProcess process;
        process.start(Program, {});
        QVERIFY(process.waitForStarted());
        process.write("QT7XMRKT3HKD 900140010C6A00A503\n");
        QByteArray output;
        while (!output.contains("900140010C6A00A503") && process.waitForReadyRead(10'000))
            output += process.readAllStandardOutput();
        QVERIFY2(output.startsWith("#1: 900140010C6A00A503\n"), output.constData());
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

    // A reader that closes the pipe ends either program quietly, the decoder without waiting for
    // more input.
    void closedPipeEndsQuietly()
    {
        for (const ProgramRun &run :
             {runIntoClosedPipe(Program, {}, m_sample, false),
              runIntoClosedPipe(CwProgram, {RawRate, QString::number(Rate)}, m_raw, true)}) {
            QCOMPARE(run.exitCode, 1);
            QCOMPARE(run.errors, QByteArray());
        }
    }

    void runs_data()
    {
        addRunColumns();
        const QString missing = m_dir.filePath(QStringLiteral("missing.wav"));
        const QString text = QStringLiteral(SAMPLES_DIR "/beacon.txt");
        QByteArray timed;
        for (const morse::CopiedLine &line : m_copy.lines)
            timed += cwOutputLine(line.text, timeInto(PassStart, line.startSeconds));

        addRun("raw samples on standard input named -", {u"-"_s, u"--raw-rate=8000"_s}, m_raw,
               m_text, {}, 0);
        addRun("a file timed from --start", {Timestamps, Start, u"2026-12-06 18:57:44z"_s, m_pass},
               {}, timed, {}, 0);
        addRun("inputs that fail are named, the others copied",
               {missing, m_pass, text, m_dir.path()}, {}, m_text,
               "tovrin3-cw: " + missing.toLocal8Bit() + ": No such file or directory\n" +
                   "tovrin3-cw: " + text.toLocal8Bit() + ": not an audio file\n" +
                   "tovrin3-cw: " + m_dir.path().toLocal8Bit() + ": not a regular file\n",
               1);
        addRun("--timestamps on a file without --start", {Timestamps, m_pass}, {}, {},
               usageError("--timestamps on a FILE needs --start TIME, the UTC time the "
                          "recording began"),
               2);
        addRun("standard input without its rate", {}, m_raw, {},
               usageError("raw samples on standard input need their rate: --raw-rate HZ"), 2);
        addRun("raw samples at 4 kHz", {RawRate, u"4000"_s},
               rawSamples(cwTestSignal(4000, CwShortTransmissions)), m_text, {}, 0);
        for (const char *rate : {"3999", "nan"})
            addRun(rate, {RawRate, QString::fromLatin1(rate)}, m_raw, {},
                   usageError("--raw-rate takes a rate from 4000 to 192000 Hz, not '" +
                              QByteArray(rate) + "'"),
                   2);
        // No such day, and past the year 9999.
        for (const char *start : {"2026-02-30T12:00:00Z", "10000-01-01T00:00:00Z"})
            addRun(start, {Timestamps, Start, QString::fromLatin1(start), m_pass}, {}, {},
                   usageError("--start takes a UTC time up to the year 9999 such as "
                              "2026-12-06T18:57:44Z, not '" +
                              QByteArray(start) + "'"),
                   2);
        addRun("line times that would run past the year 9999",
               {Timestamps, Start, u"9999-12-31T23:59:59.5Z"_s, m_pass}, {}, {},
               "tovrin3-cw: " + m_pass.toLocal8Bit() +
                   ": the line times run past the year 9999: --start is too late\n",
               1);
        addRun("--start without --timestamps", {Start, u"2026-12-06T18:57:44Z"_s, m_pass}, {}, {},
               usageError("--start only serves --timestamps, --log and --submit"), 2);
        addRun("--start for two recordings",
               {Timestamps, Start, u"2026-12-06T18:57:44Z"_s, m_pass, m_pass}, {}, {},
               usageError("--start gives the beginning of one recording; name one FILE"), 2);
        addRun("unknown option", {m_pass, u"--frames"_s}, {}, {},
               usageError("unknown option '--frames'"), 2);
    }

    void runs() { checkRun(CwProgram); }

    // The lock is reported on standard error and changes nothing on standard output.
    void reportsLockWhenVerbose_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("standardInput");
        QTest::addColumn<QString>("name");
        QTest::newRow("file") << QStringList{m_pass} << QByteArray() << m_pass;
        QTest::newRow("standard input")
            << QStringList{RawRate, QString::number(Rate)} << m_raw << QStringLiteral("-");
    }

    void reportsLockWhenVerbose()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, standardInput);
        QFETCH(QString, name);
        const ProgramRun result =
            runProgram(CwProgram, arguments << QStringLiteral("--verbose"), standardInput);
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.output, m_text);
        const QRegularExpression locked(
            QStringLiteral("^tovrin3-cw: %1: \\d+\\.\\d s: locked on (6[5-9]|7[0-4])\\d Hz, "
                           "(29|30|31) WPM$")
                .arg(QRegularExpression::escape(name)),
            QRegularExpression::MultilineOption);
        QVERIFY2(locked.match(QString::fromUtf8(result.errors)).hasMatch(),
                 result.errors.constData());
    }

    // The decoder demodulates an audio FILE first, through the same copy as tovrin3-cw (whose
    // text decodes alike: tst_streamdecoding); a recording through a pipe, redirected from the
    // file or named by bytes that are no UTF-8 is the same recording, for both programs.
    void decodeReadsAudio()
    {
        const ProgramRun direct = runProgram(Program, {m_beaconPass});
        QCOMPARE(direct.exitCode, 0);
        QVERIFY(direct.output.contains("900140010C6A00A503"));
        const ByteNamedFile file(QFile::encodeName(m_dir.path()) + "/pass\xff.wav",
                                 fileContent(m_beaconPass));
        QVERIFY(file.isWritten());
        // Standard input that is the file itself can be neither opened by name nor read again.
        for (const ProgramRun &run :
             {direct, runProgram(Program, {}, fileContent(m_beaconPass)),
              runWithInputFile(Program, {}, m_beaconPass), runWithBytes(Program, {file.path()})}) {
            QCOMPARE(run.errors, QByteArray());
            QCOMPARE(run.output, direct.output);
        }
        const ProgramRun copied = runWithBytes(CwProgram, {file.path()});
        QCOMPARE(copied.errors, QByteArray());
        QCOMPARE(copied.output, runProgram(CwProgram, {m_beaconPass}).output);
        // With audio, CSV has a confidence column, piped or not.
        const QString csv = QStringLiteral("--format=csv");
        const QByteArray header = runProgram(Program, {csv, m_beaconPass}).output.split('\n').at(0);
        QVERIFY2(header.endsWith(",confidence"), header.constData());
        const QByteArray piped = runProgram(Program, {csv}, fileContent(m_beaconPass)).output;
        QCOMPARE(piped.split('\n').at(0), header);
    }

    // A recorder that crashed after the first transmission costs the rest only; a file cut
    // before anything could be copied gets not even its heading in the decoder's report.
    void damagedFileGivesLinesBeforeDamage()
    {
        // The first transmission alone ends a second into the pause before the second one.
        const auto cut = qsizetype(cwTestSignal(Rate, {CwTestTransmissions.front()}).size());
        constexpr qsizetype WavHeaderSize = 44;
        const QString crashed = m_dir.filePath(QStringLiteral("crashed.wav"));
        QVERIFY(writeFile(crashed, fileContent(m_beaconPass).first(WavHeaderSize + 2 * cut)));
        const QString early = m_dir.filePath(QStringLiteral("cut.wav"));
        QVERIFY(writeFile(early, fileContent(m_pass).first(1000)));
        const ProgramRun copied = runProgram(CwProgram, {crashed});
        QCOMPARE(copied.exitCode, 1);
        QCOMPARE(copied.output, CwTestTransmissions.front().toUtf8() + '\n');
        QVERIFY2(copied.errors.startsWith("tovrin3-cw: " + crashed.toLocal8Bit() +
                                          ": cut short: the header declares "),
                 copied.errors.constData());
        QCOMPARE(copied.errors.count('\n'), 1);
        const ProgramRun decoded = runProgram(Program, {early, crashed});
        QCOMPARE(decoded.exitCode, 1);
        QVERIFY2(decoded.output.startsWith("==> " + crashed.toLocal8Bit() +
                                           " <==\n#1: 900140010C6A00A503\n"),
                 decoded.output.constData());
        QCOMPARE(decoded.errors.count(": cut short"), 2);
        QVERIFY(
            decoded.errors.startsWith("tovrin3-decode: " + early.toLocal8Bit() + ": cut short"));
    }

    void init()
    {
        m_home = std::make_unique<StationHome>();
        m_server = std::make_unique<SidsServer>();
        QVERIFY(m_server->listen());
        QVERIFY(m_home->writeConfiguration(configuration()));
    }

    // What the program says, sends and logs. A recording's frame is sent byte for byte at the
    // time from --start, a time in its name or its date tag (a timed line's body is the dry
    // run's). A frame with no known time (a line without one, a recording without any of these)
    // is not logged, a doubtful one is logged flagged; settings that are missing or wrong end
    // the program before anything is sent or logged, each named; a dry run shows the request
    // and logs nothing; a server that fails keeps the frame queued, and the program says why.
    // That a later try sends it, byte for byte and once, is the sender's (tst_station).
    void answers_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArrayList>("messages");
        QTest::addColumn<Counts>("counts");
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QByteArray>("sentTime"); // of the one request's body; empty: unchecked
        QTest::addColumn<bool>("serverFails");
        const auto row = [](const char *name, const QStringList &arguments, const QByteArray &input,
                            int exitCode, const QByteArrayList &messages, Counts counts,
                            const QByteArray &settings = {}, const QByteArray &sentTime = {},
                            bool serverFails = false) {
            QTest::newRow(name) << arguments << input << exitCode << messages << counts << settings
                                << sentTime << serverFails;
        };
        const auto sentAt = [this](QTime start) { // on 2026-12-06, UTC, where the frame begins
            return QDateTime(QDate(2026, 12, 6), start, Qt::UTC)
                .addMSecs(m_headerOffsetMs)
                .toString(u"yyyy-MM-dd'T'HH:mm:ss.zzz'Z'"_qs)
                .toLatin1();
        };
        const QStringList submit{u"--submit"_qs};
        const QByteArrayList accepted{"1 frames accepted, 0 stay queued"};
        row("recording with --start",
            submit + QStringList{u"--start"_qs, u"2026-12-06T18:50:00Z"_qs, u"RECORDING"_qs}, {}, 0,
            accepted, {1, 1, 0}, {}, sentAt(QTime(18, 50)));
        row("recording with its start in its name", submit + QStringList{u"NAMED"_qs}, {}, 0,
            accepted, {1, 1, 0}, {}, sentAt(QTime(18, 57)));
        row("recording with its start in its date tag", submit + QStringList{u"TAGGED"_qs}, {}, 0,
            accepted, {1, 1, 0}, {}, sentAt(QTime(18, 56)));
        const QStringList csvSubmit{u"--format"_qs, u"csv"_qs, u"--submit"_qs};
        const QByteArrayList untimed{"1 frames without a known time were not logged"};
        row("no time", csvSubmit, "QT7XMRKT3HKD 900140010C6A00A503\n", 0, untimed, {0, 0, 0});
        row("recording without a start", csvSubmit + QStringList{u"RECORDING"_qs}, {}, 0, untimed,
            {0, 0, 0});
        row("doubtful", csvSubmit,
            "2026-12-06T18:57:44Z|QT7XMRKT3HKD 900140010C6A00A503 [DOUBTFUL:CONFIDENCE=0.42]\n", 0,
            {"1 frames logged, 1 of them new"}, {0, 0, 0});
        const Counts nothing{0, -1, -1};
        for (const char *option : {"--submit", "--flush"})
            row(QByteArray("sharing off: ").append(option).constData(),
                {QString::fromLatin1(option)}, TimedFrameLine, 2, {"SHARE=yes"}, nothing,
                "SHARE=no\n");
        row("bad callsign and NORAD number", {u"--log"_qs}, TimedFrameLine, 2,
            {"CALLSIGN=DL 1", "NORAD_ID=x"}, nothing, "CALLSIGN=DL 1\nNORAD_ID=x\n");
        const QStringList dryRun{u"--submit-dry-run"_qs};
        row("nothing sharing needs for the dry run", dryRun, TimedFrameLine, 2,
            {"CALLSIGN", "NORAD_ID", "LOCATOR"}, nothing, "CALLSIGN=\nNORAD_ID=\nLOCATOR=\n");
        row("dry run", dryRun, TimedFrameLine, 0,
            {"POST SERVER", expectedBody("2026-12-06T18:57:44.000Z")}, nothing);
        row("server fails", submit, TimedFrameLine, 0,
            {"0 frames accepted, 1 stay queued", "HTTP 503", "down for maintenance"}, {1, 1, 1}, {},
            "2026-12-06T18:57:44.000Z", true);
    }

    void answers()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, settings);
        QFETCH(QByteArray, input);
        QFETCH(bool, serverFails);
        QFETCH(QByteArrayList, messages);
        QVERIFY(m_home->writeConfiguration(configuration() + settings));
        if (serverFails)
            m_server->script({{503, {}, "down for maintenance"}});
        arguments.replaceInStrings(u"RECORDING"_qs, m_beaconPass);
        arguments.replaceInStrings(u"NAMED"_qs, m_namedRecording);
        arguments.replaceInStrings(u"TAGGED"_qs, m_taggedRecording);
        const ProgramRun run = decode(arguments, input);
        QTEST(run.exitCode, "exitCode");
        for (QByteArray &message : messages)
            QVERIFY2(run.errors.contains(message.replace("SERVER", m_server->url().toEncoded())),
                     run.errors.constData());
        const Counts counts{
            m_server->requests.size(),
            logNumber(m_home->logPath(), u"SELECT count(*) FROM frames WHERE doubtful = 0"_qs),
            logNumber(m_home->logPath(), u"SELECT count(*) FROM outbox WHERE state = 'queued'"_qs)};
        QTEST(counts, "counts");
        QFETCH(QByteArray, sentTime);
        if (!sentTime.isEmpty())
            QCOMPARE(m_server->requests.first().body, expectedBody(sentTime));
    }

    // The live pipe: a frame is sent when its line arrives, before the input ends.
    void sendsAsLinesArrive()
    {
        QProcess child;
        child.setProcessEnvironment(m_home->environment());
        QSignalSpy received(m_server.get(), &SidsServer::requestReceived);
        child.start(Program, {u"--format"_qs, u"csv"_qs, u"--submit"_qs});
        child.write(TimedFrameLine);
        QVERIFY(received.wait(20'000));
        child.closeWriteChannel();
        QVERIFY(child.waitForFinished());
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(m_server->requests.size(), 1);
    }

    // Two programs logging at once lose nothing.
    void twoProgramsLogAtOnce()
    {
        QByteArray first;
        QByteArray second;
        for (int line = 0; line < 400; ++line) {
            const QByteArray time =
                QDateTime::fromSecsSinceEpoch(1'796'558'400 + line * 60, Qt::UTC)
                    .toString(Qt::ISODate)
                    .toLatin1();
            first += time + "|QT7XMRKT3HKD 900140010C6A00A503\n";
            second += time + "|QT7XMRKT3HKD 5A01B6010C7201A604\n";
        }
        QProcess one;
        QProcess two;
        for (auto [process, input] : {std::pair{&one, &first}, std::pair{&two, &second}}) {
            process->setProcessEnvironment(m_home->environment());
            process->start(Program, {u"--format"_qs, u"csv"_qs, u"--log"_qs});
            process->write(*input);
            process->closeWriteChannel();
        }
        QVERIFY(one.waitForFinished(60'000) && two.waitForFinished(60'000));
        for (QProcess *process : {&one, &two})
            QVERIFY2(process->exitCode() == 0, process->readAllStandardError().constData());
        QCOMPARE(logNumber(m_home->logPath(), u"SELECT count(*) FROM frames"_qs), 800);
        // --log sends nothing, now or later, though sharing is on.
        QCOMPARE(logNumber(m_home->logPath(), u"SELECT count(*) FROM outbox"_qs), 0);
        QCOMPARE(m_server->requests.size(), 0);
    }

    // A log that cannot be written: one message, the decoding goes on, status 1. A file that is
    // no database fails in the log's opening as the folder does; its message is tst_historylog's.
    void decodesWithoutAUsableLog_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("folder cannot be made") << u"folder"_qs;
        QTest::newRow("read-only log") << u"read-only"_qs;
    }

    void decodesWithoutAUsableLog()
    {
        QFETCH(QString, damage);
        if (damage == u"read-only")
            TOVRIN3_RUN_UNPRIVILEGED();
        if (damage == u"folder") {
            QVERIFY(writeFile(m_home->dataHome(), "a file"));
        } else {
            QCOMPARE(decode({u"--log"_qs}, TimedFrameLine).exitCode, 0);
            QVERIFY(QFile::setPermissions(m_home->logPath(), QFileDevice::ReadOwner));
            QVERIFY(!QFileInfo(m_home->logPath()).isWritable());
        }
        const ProgramRun run =
            decode({u"--format"_qs, u"csv"_qs, u"--log"_qs}, TimedFrameLine + TimedFrameLine);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.output.count('\n'), 3);
        QCOMPARE(run.errors.count("station log"), 1);
        QVERIFY2(damage != u"read-only" || run.errors.contains("readonly"), run.errors.constData());
    }

    void readsTimesInFileNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("time"); // empty: none

        QTest::newRow("ISO with colons") << "pass 2026-12-06T18:57:44Z.wav"
                                         << "2026-12-06T18:57:44.000Z";
        QTest::newRow("basic form with fraction") << "20261206T185744.5Z.flac"
                                                  << "2026-12-06T18:57:44.500Z";
        QTest::newRow("month 13") << "2026-13-06T18-57-44.wav" << QString();
    }

    void readsTimesInFileNames()
    {
        QFETCH(QString, name);
        const std::optional<QDateTime> time = station::timeInFileName(name);
        QTEST(time ? time->toString(u"yyyy-MM-dd'T'HH:mm:ss.zzz'Z'"_qs) : QString(), "time");
    }

    // tovrin3-cw logs and sends the frames it copies at the time it writes for them, and its
    // output stays as without the station options; settings count only where these need them.
    void cwSendsWhatItCopies_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("settings");
        const QStringList start{u"--timestamps"_qs, u"--start"_qs, u"2026-12-06T18:50:00Z"_qs};
        QTest::newRow("recording")
            << start + QStringList{u"RECORDING"_qs, u"--submit"_qs} << QByteArray();
        QTest::newRow("bad settings without a station option")
            << start + QStringList{u"RECORDING"_qs} << QByteArray("SHARE=no\nCALLSIGN=DL 1\n");
    }

    void cwSendsWhatItCopies()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, settings);
        const bool sent = arguments.contains(u"--submit"_qs);
        QVERIFY(m_home->writeConfiguration(configuration() + settings));
        arguments.replaceInStrings(u"RECORDING"_qs, m_beaconPass);
        const ProgramRun run = runProgram(CwProgram, arguments, m_home->environment());
        QVERIFY2(run.exitCode == 0, run.errors.constData());
        QCOMPARE(logNumber(m_home->logPath(), u"SELECT count(*) FROM receptions"_qs),
                 sent ? 1 : -1);
        QCOMPARE(m_server->requests.size(), sent ? 1 : 0);
        QStringList without = arguments;
        without.removeAll(u"--submit"_qs);
        const ProgramRun unchanged = runProgram(CwProgram, without, m_home->environment());
        QCOMPARE(run.output, unchanged.output);
        if (!sent)
            return;
        const qsizetype frame = run.output.indexOf("|QT7XMRKT3HKD");
        QVERIFY2(frame > 0, run.output.constData());
        const QByteArray lineTime = run.output.first(frame).split('\n').last();
        QCOMPARE(m_server->requests.first().body, expectedBody(lineTime));
    }

private:
    QByteArray configuration() const
    {
        return "IMAGE_PATH=/tmp/\nCALLSIGN=DL1ABC/P\nLOCATOR=JN58td\nNORAD_ID=99999\nSIDS_URL=" +
               m_server->url().toString().toLatin1() + "\nSHARE=yes\n";
    }

    ProgramRun decode(const QStringList &arguments, const QByteArray &input = {})
    {
        return runProgram(Program, arguments, m_home->environment(), input);
    }

    QTemporaryDir m_dir;
    QByteArray m_sample;
    QByteArray m_report;
    QString m_pass;
    QString m_beaconPass;
    QByteArray m_raw;
    QByteArray m_text;
    morse::AudioFileCopy m_copy;
    QString m_namedRecording;
    QString m_taggedRecording;
    qint64 m_headerOffsetMs = 0;
    std::unique_ptr<StationHome> m_home;
    std::unique_ptr<SidsServer> m_server;
};

QTEST_GUILESS_MAIN(TestPrograms)
#include "tst_programs.moc"
