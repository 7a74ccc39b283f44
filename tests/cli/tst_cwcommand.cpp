// SPDX-License-Identifier: GPL-3.0-or-later
#include "audiofile.h"
#include "cwstream.h"
#include "cwtesting.h"
#include "filetesting.h"
#include "processtesting.h"
#include "soundtesting.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace tovrin3;

namespace {

const QString CwProgram = QStringLiteral(BIN_DIR "/tovrin3-cw");
const QString DecodeProgram = QStringLiteral(BIN_DIR "/tovrin3-decode");
constexpr int Rate = 8000;
const QString RawRate = QStringLiteral("--raw-rate");
const QString Timestamps = QStringLiteral("--timestamps");
const QString Start = QStringLiteral("--start");
const QDateTime PassStart(QDate(2026, 12, 6), QTime(18, 57, 44), Qt::UTC);

using testing::ProgramRun;
using testing::runProgram;
using testing::runWithBytes;

// The WAV file of the signal, cut short in the pause after its first transmission.
QByteArray cutInFirstPause(const std::vector<float> &signal)
{
    constexpr qsizetype WavHeaderSize = 44;
    const auto keyed = [](float sample) { return sample != 0.0F; };
    const auto firstKeyed = std::ranges::find_if(signal, keyed);
    // The first run of silence longer than a second after the keying began.
    auto pauseStart = firstKeyed;
    for (auto at = firstKeyed; at != signal.end(); ++at) {
        if (keyed(*at))
            pauseStart = at + 1;
        else if (at - pauseStart > Rate)
            break;
    }
    const qsizetype cut = std::distance(signal.begin(), pauseStart) + Rate / 2;
    return testing::soundBytes(signal, Rate, SF_FORMAT_WAV | SF_FORMAT_PCM_16)
        .first(WavHeaderSize + 2 * cut);
}

QByteArray usageError(const QByteArray &message)
{
    return "tovrin3-cw: " + message + "\nTry 'tovrin3-cw --help' for more information.\n";
}

} // namespace

class TestCwCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        QVERIFY(QFile::exists(CwProgram));
        QVERIFY(m_dir.isValid());
        // Most runs copy short transmissions; the decoder's runs need a beacon frame.
        const std::vector<float> signal =
            testing::cwTestSignal(Rate, testing::CwShortTransmissions);
        m_pass = m_dir.filePath(QStringLiteral("pass.wav"));
        QVERIFY(cwgen::writeWav(m_pass, signal, Rate));
        m_beaconPass = m_dir.filePath(QStringLiteral("beacon.wav"));
        QVERIFY(cwgen::writeWav(m_beaconPass, testing::cwTestSignal(Rate), Rate));
        m_raw = testing::rawSamples(signal);
        m_text = testing::CwShortTransmissions.join(u'\n').toUtf8() + '\n';
        m_copy = morse::copyAudioFile(m_pass);
        QCOMPARE(m_copy.lines.size(), size_t(2));
    }

    void runs_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("standardInput");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QByteArray>("errors");
        QTest::addColumn<int>("exitCode");
        const QString missing = m_dir.filePath(QStringLiteral("missing.wav"));
        const QString text = QStringLiteral(SAMPLES_DIR "/beacon.txt");
        QByteArray timed;
        for (const morse::CopiedLine &line : m_copy.lines)
            timed += cwOutputLine(line.text, timeInto(PassStart, line.startSeconds));

        QTest::newRow("raw samples on standard input named -")
            << QStringList{QStringLiteral("-"), QStringLiteral("--raw-rate=8000")} << m_raw
            << m_text << QByteArray() << 0;
        QTest::newRow("a file timed from --start")
            << QStringList{Timestamps, Start, QStringLiteral("2026-12-06 18:57:44z"), m_pass}
            << QByteArray() << timed << QByteArray() << 0;
        QTest::newRow("inputs that fail are named, the others copied")
            << QStringList{missing, m_pass, text, m_dir.path()} << QByteArray() << m_text
            << "tovrin3-cw: " + missing.toLocal8Bit() + ": No such file or directory\n" +
                   "tovrin3-cw: " + text.toLocal8Bit() + ": not an audio file\n" +
                   "tovrin3-cw: " + m_dir.path().toLocal8Bit() + ": not a regular file\n"
            << 1;
        QTest::newRow("--timestamps on a file without --start")
            << QStringList{Timestamps, m_pass} << QByteArray() << QByteArray()
            << usageError("--timestamps on a FILE needs --start TIME, the UTC time the "
                          "recording began")
            << 2;
        QTest::newRow("standard input without its rate")
            << QStringList{} << m_raw << QByteArray()
            << usageError("raw samples on standard input need their rate: --raw-rate HZ") << 2;
        QTest::newRow("raw samples at 4 kHz")
            << QStringList{RawRate, QStringLiteral("4000")}
            << testing::rawSamples(testing::cwTestSignal(4000, testing::CwShortTransmissions))
            << m_text << QByteArray() << 0;
        QTest::newRow("a rate below 4 kHz")
            << QStringList{RawRate, QStringLiteral("3999")} << m_raw << QByteArray()
            << usageError("--raw-rate takes a rate from 4000 to 192000 Hz, not '3999'") << 2;
        QTest::newRow("a rate that is nan")
            << QStringList{RawRate, QStringLiteral("nan")} << m_raw << QByteArray()
            << usageError("--raw-rate takes a rate from 4000 to 192000 Hz, not 'nan'") << 2;
        const QByteArray noTime = "--start takes a UTC time up to the year 9999 such as "
                                  "2026-12-06T18:57:44Z, not ";
        QTest::newRow("a start that is no time")
            << QStringList{Timestamps, Start, QStringLiteral("2026-02-30T12:00:00Z"), m_pass}
            << QByteArray() << QByteArray() << usageError(noTime + "'2026-02-30T12:00:00Z'") << 2;
        QTest::newRow("a start past the year 9999")
            << QStringList{Timestamps, Start, QStringLiteral("10000-01-01T00:00:00Z"), m_pass}
            << QByteArray() << QByteArray() << usageError(noTime + "'10000-01-01T00:00:00Z'") << 2;
        QTest::newRow("line times that would run past the year 9999")
            << QStringList{Timestamps, Start, QStringLiteral("9999-12-31T23:59:59.5Z"), m_pass}
            << QByteArray() << QByteArray()
            << "tovrin3-cw: " + m_pass.toLocal8Bit() +
                   ": the line times run past the year 9999: --start is too late\n"
            << 1;
        QTest::newRow("--start without --timestamps")
            << QStringList{Start, QStringLiteral("2026-12-06T18:57:44Z"), m_pass} << QByteArray()
            << QByteArray() << usageError("--start only serves --timestamps, --log and --submit")
            << 2;
        QTest::newRow("--start for two recordings")
            << QStringList{Timestamps, Start, QStringLiteral("2026-12-06T18:57:44Z"), m_pass,
                           m_pass}
            << QByteArray() << QByteArray()
            << usageError("--start gives the beginning of one recording; name one FILE") << 2;
        QTest::newRow("unknown option")
            << QStringList{m_pass, QStringLiteral("--frames")} << QByteArray() << QByteArray()
            << usageError("unknown option '--frames'") << 2;
    }

    void runs()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, standardInput);
        const ProgramRun result = runProgram(CwProgram, arguments, standardInput);
        QTEST(result.output, "output");
        QTEST(result.errors, "errors");
        QTEST(result.exitCode, "exitCode");
    }

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

    // A reader that stops reading ends the program without a message.
    void closedOutputEndsQuietly()
    {
        const ProgramRun result =
            testing::runIntoClosedPipe(CwProgram, {RawRate, QString::number(Rate)}, m_raw, true);
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.errors, QByteArray());
    }

    // The decoder demodulates an audio FILE first, through the same copy as tovrin3-cw (whose
    // text decodes alike: tst_streamdecoding); a recording through a pipe, redirected from the
    // file or named by bytes that are no UTF-8 is the same recording, for both programs.
    void decodeReadsAudio()
    {
        const ProgramRun direct = runProgram(DecodeProgram, {m_beaconPass});
        QCOMPARE(direct.exitCode, 0);
        QCOMPARE(direct.errors, QByteArray());
        QVERIFY(direct.output.contains("900140010C6A00A503"));
        QCOMPARE(runProgram(DecodeProgram, {}, testing::fileContent(m_beaconPass)).output,
                 direct.output);
        // Standard input that is the file itself can be neither opened by name nor read again.
        const ProgramRun redirected = testing::runWithInputFile(DecodeProgram, {}, m_beaconPass);
        QCOMPARE(redirected.errors, QByteArray());
        QCOMPARE(redirected.output, direct.output);
        const testing::ByteNamedFile file(QFile::encodeName(m_dir.path()) + "/pass\xff.wav",
                                          testing::fileContent(m_beaconPass));
        QVERIFY(file.isWritten());
        const ProgramRun decoded = runWithBytes(DecodeProgram, {file.path()});
        QCOMPARE(decoded.errors, QByteArray());
        QCOMPARE(decoded.output, direct.output);
        const ProgramRun copied = runWithBytes(CwProgram, {file.path()});
        QCOMPARE(copied.errors, QByteArray());
        QCOMPARE(copied.output, runProgram(CwProgram, {m_beaconPass}).output);
        // With audio, CSV has a confidence column, piped or not.
        const QString csv = QStringLiteral("--format=csv");
        const QByteArray header =
            runProgram(DecodeProgram, {csv, m_beaconPass}).output.split('\n').at(0);
        QVERIFY2(header.endsWith(",confidence"), header.constData());
        const QByteArray piped =
            runProgram(DecodeProgram, {csv}, testing::fileContent(m_beaconPass)).output;
        QCOMPARE(piped.split('\n').at(0), header);
    }

    // A recorder that crashed after the first transmission costs the rest only; a file cut
    // before anything could be copied gets not even its heading in the decoder's report.
    void damagedFileGivesLinesBeforeDamage()
    {
        const QString crashed = m_dir.filePath(QStringLiteral("crashed.wav"));
        QVERIFY(testing::writeFile(crashed, cutInFirstPause(testing::cwTestSignal(Rate))));
        const QString early = m_dir.filePath(QStringLiteral("cut.wav"));
        QVERIFY(testing::writeFile(early, testing::fileContent(m_pass).first(1000)));
        const ProgramRun copied = runProgram(CwProgram, {crashed});
        QCOMPARE(copied.exitCode, 1);
        QCOMPARE(copied.output, testing::CwTestTransmissions.front().toUtf8() + '\n');
        QVERIFY2(copied.errors.startsWith("tovrin3-cw: " + crashed.toLocal8Bit() +
                                          ": cut short: the header declares "),
                 copied.errors.constData());
        QCOMPARE(copied.errors.count('\n'), 1);
        const ProgramRun decoded = runProgram(DecodeProgram, {early, crashed});
        QCOMPARE(decoded.exitCode, 1);
        QVERIFY2(decoded.output.startsWith("==> " + crashed.toLocal8Bit() +
                                           " <==\n#1: 900140010C6A00A503\n"),
                 decoded.output.constData());
        QCOMPARE(decoded.errors.count(": cut short"), 2);
        QVERIFY(
            decoded.errors.startsWith("tovrin3-decode: " + early.toLocal8Bit() + ": cut short"));
    }

private:
    QTemporaryDir m_dir;
    QString m_pass;
    QString m_beaconPass;
    QByteArray m_raw;
    QByteArray m_text;
    morse::AudioFileCopy m_copy;
};

QTEST_GUILESS_MAIN(TestCwCommand)
#include "tst_cwcommand.moc"
