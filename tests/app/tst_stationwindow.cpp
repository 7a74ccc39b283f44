// SPDX-License-Identifier: GPL-3.0-or-later
#include "audiofile.h"
#include "cwdemodulator.h"
#include "cwtesting.h"
#include "historytesting.h"
#include "sidsrequest.h"
#include "sidsserver.h"
#include "stationdialog.h"
#include "stationlink.h"
#include "stationtesting.h"
#include "windowtesting.h"

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

const QString Frame1 = u"900140010C6A00A503"_s;
const QString Frame2 = u"A00150010C6A00A502"_s;

morse::CopiedLine copied(const QString &digits, double startSeconds, bool doubtful = false)
{
    return {u"QT7XMRKT3HKD "_s + digits, startSeconds, doubtful ? 0.4 : 0.99, doubtful};
}

struct LoggedReception
{
    QString digits;
    qint64 receivedMs = 0;
    QString source;
    bool doubtful = false;
    bool operator==(const LoggedReception &) const = default;
};

// The receptions in the log, read as any SQLite tool would.
QList<LoggedReception> loggedReceptions(const QString &path)
{
    QList<LoggedReception> rows;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"reader"_s);
        database.setDatabaseName(path);
        if (database.open()) {
            QSqlQuery query(u"SELECT f.digits, r.received_ms, r.source, r.doubtful FROM receptions "
                            u"r JOIN frames f ON f.id = r.frame_id ORDER BY r.received_ms"_s,
                            database);
            while (query.next())
                rows.append({query.value(0).toString(), query.value(1).toLongLong(),
                             query.value(2).toString(), query.value(3).toBool()});
        }
    }
    QSqlDatabase::removeDatabase(u"reader"_s);
    return rows;
}

// The recording start questions on screen.
constexpr auto startQuestions = &visibleWindows<RecordingStartDialog>;

// Answers a question with a time, or with "unknown" when the time is invalid.
void answer(RecordingStartDialog &question, const QDateTime &start)
{
    if (start.isValid())
        question.findChild<QDateTimeEdit *>(u"DtpRecordingStart"_s)->setDateTime(start);
    question
        .findChild<QPushButton *>(start.isValid() ? u"CmdLogRecording"_s : u"CmdStartUnknown"_s)
        ->click();
}

QByteArray sharingConfiguration(const SidsServer &server)
{
    return "CALLSIGN=DL1ABC\nLOCATOR=JO62\nNORAD_ID=99999\nSIDS_URL=" +
           server.url().toString().toUtf8() + "\nSHARE=yes\nLOG=yes\n";
}

} // namespace

class TestStationWindow : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_home = std::make_unique<StationHome>();
        m_home->applyToThisProcess();
        QDir().mkpath(programFolder());
    }

    // A recording without a known start asks for it while logging (windowAsksPerRecording logs
    // one at the time given); "unknown" logs nothing, and with LOG=no nothing is asked.
    void asksForARecordingsStart_data()
    {
        QTest::addColumn<QByteArray>("log");
        QTest::newRow("unknown") << QByteArray("yes");
        QTest::newRow("LOG=no") << QByteArray("no");
    }

    void asksForARecordingsStart()
    {
        QFETCH(QByteArray, log);
        QVERIFY(m_home->writeConfiguration("LOG=" + log + "\n"));
        StationLink link(programFolder());
        link.takeRecording(m_home->path(u"pass.wav"_s),
                           {copied(Frame1, 2.25), copied(Frame2, 31.0)});
        link.takeRecording(m_home->path(u"noise.wav"_s), {{u"VVV DE QT7X"_s, 1.0, {}, false}});
        if (log == "no") {
            QVERIFY(startQuestions().isEmpty());
        } else {
            QCOMPARE(startQuestions().size(), 1);
            answer(*startQuestions().first(), QDateTime());
            QTRY_VERIFY(startQuestions().isEmpty());
        }
        QCOMPARE(loggedReceptions(m_home->logPath()), QList<LoggedReception>());
    }

    // Opened together, each recording without a known start is asked about by name, suggested
    // to have begun its length before it was last written.
    void windowAsksPerRecording()
    {
        const std::vector<float> signal = cwTestSignal(8000.0);
        const QString untimed = m_home->path(u"pass.wav"_s);
        const QString named = m_home->path(u"satnogs_1_2026-12-06T12-00-00.wav"_s);
        QVERIFY(cwgen::writeWav(untimed, signal, 8000));
        QVERIFY(QFile::copy(untimed, named));
        const QDateTime written = QDateTime::fromMSecsSinceEpoch(Noon, Qt::UTC).addSecs(3600);
        QFile file(untimed);
        QVERIFY(file.open(QIODevice::ReadWrite) &&
                file.setFileTime(written, QFileDevice::FileModificationTime));
        file.close();
        const morse::AudioFileCopy copy = morse::copyAudioFile(QFile::encodeName(untimed));
        QCOMPARE(copy.lines.size(), std::size_t(2));
        const qint64 offsetMs = std::llround(copy.lines.front().startSeconds * 1000.0);

        Form1 window(programFolder());
        window.show();
        QSignalSpy opened(window.fileOpener(), &FileOpener::allOpened);
        window.fileOpener()->openFiles({untimed, named});
        QVERIFY(opened.wait(30'000));
        QTRY_COMPARE(startQuestions().size(), 1);
        RecordingStartDialog *question = startQuestions().first();
        QVERIFY(question->isModal());
        const QDateTime suggested =
            question->findChild<QDateTimeEdit *>(u"DtpRecordingStart"_s)->dateTime();
        const qint64 lengthMs = qint64(signal.size()) * 1000 / 8000;
        QVERIFY2(std::abs(suggested.msecsTo(written) - lengthMs) <= 1000,
                 qPrintable(suggested.toString(Qt::ISODate)));
        answer(*question, QDateTime::fromMSecsSinceEpoch(Noon - 60'000, Qt::UTC));
        QTRY_VERIFY(startQuestions().isEmpty());
        QCOMPARE(loggedReceptions(m_home->logPath()),
                 (QList<LoggedReception>{{Frame1, Noon - 60'000 + offsetMs, u"pass.wav"_s},
                                         {Frame1, Noon + offsetMs, QFileInfo(named).fileName()}}));
    }

    // Listen's frames are logged at the capture's clock, other lines not; each sure frame reaches
    // the server once, byte for byte as the core builds it; a doubtful frame is logged flagged and
    // never sent. The counts reach the status text.
    void sharesEachSureFrameOnce()
    {
        SidsServer server;
        QVERIFY(server.listen());
        QVERIFY(m_home->writeConfiguration(sharingConfiguration(server)));
        StationLink link(programFolder());
        QVERIFY(link.isSharing());
        link.take(
            {copied(Frame1, 1.0), {u"VVV DE QT7X"_s, 10.0, {}, false}, copied(Frame2, 20.0, true)},
            Noon, u"listen"_s);
        link.take({copied(Frame1, 1.0)}, Noon, u"listen"_s);
        // Queued at once; the server in this thread cannot have answered yet. One in the queue is
        // at most one request, so no wait is needed to see that no second one comes.
        QCOMPARE(link.queuedCount(), 1);
        QTRY_COMPARE(link.acceptedCount(), 1);
        QCOMPARE(server.requests.size(), 1);
        QCOMPARE(server.requests.first().body,
                 station::sidsBody(link.settings(), Frame1, Noon + 1'000));
        QTRY_COMPARE(link.queuedCount(), 0);
        QVERIFY2(link.statusText().contains(u"1 accepted, 0 queued"_s),
                 qPrintable(link.statusText()));
        QCOMPARE(loggedReceptions(m_home->logPath()),
                 (QList<LoggedReception>{{Frame1, Noon + 1'000, u"listen"_s},
                                         {Frame2, Noon + 20'000, u"listen"_s, true}}));
    }

    // A server that fails leaves the frame queued with its error shown; going away does not wait
    // for it and the row stays in the log for the next run.
    void keepsWhatTheServerRefuses()
    {
        SidsServer server;
        QVERIFY(server.listen());
        server.script({{503, {}, "down for maintenance"}, {200, {}, {}, true}});
        QVERIFY(m_home->writeConfiguration(sharingConfiguration(server)));
        QElapsedTimer closing;
        {
            StationLink link(programFolder());
            link.setTiming({.transferTimeoutMs = 60'000, .shortestDelayMs = 10});
            link.reload();
            link.take({copied(Frame1, 1.0)}, Noon, u"listen"_s);
            QTRY_VERIFY(link.lastError().contains(u"503"_s));
            QVERIFY2(link.statusText().contains(u"down for maintenance"_s),
                     qPrintable(link.statusText()));
            QTRY_COMPARE(server.requests.size(), 2); // the second is never answered
            closing.start();
        }
        QVERIFY2(closing.elapsed() < 2'000, QByteArray::number(closing.elapsed()).constData());
        station::StationLog log;
        QVERIFY(log.open(m_home->logPath()));
        const station::QueueState state =
            log.queueState(station::SidsSender::serverKey(server.url()));
        QCOMPARE(state.queued, 1);
        QCOMPARE(state.accepted, 0);
    }

    // A log that is no database, or read-only, is told once; copying goes on.
    void damagedLogIsToldOnce_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("not a database") << false;
        QTest::newRow("read-only") << true;
    }

    void damagedLogIsToldOnce()
    {
        QFETCH(bool, readOnly);
        if (readOnly) {
            TOVRIN3_RUN_UNPRIVILEGED();
            {
                station::StationLog log;
                QVERIFY(log.open(m_home->logPath()));
            }
            QVERIFY(QFile::setPermissions(m_home->logPath(), QFileDevice::ReadOwner));
            QVERIFY(!QFileInfo(m_home->logPath()).isWritable());
        } else {
            QVERIFY(QDir().mkpath(QFileInfo(m_home->logPath()).path()));
            QVERIFY(writeFile(m_home->logPath(), QByteArray(8192, 'x')));
        }
        StationLink link(programFolder());
        QSignalSpy problems(&link, &StationLink::problem);
        link.reload();
        link.take({copied(Frame1, 1.0)}, Noon, u"listen"_s);
        link.take({copied(Frame2, 9.0)}, Noon, u"listen"_s);
        QCOMPARE(problems.count(), 1);
        QVERIFY2(problems.first().first().toString().contains(u"readonly"_s) == readOnly,
                 qPrintable(problems.first().first().toString()));
        QVERIFY(readOnly || !link.isLogging());
    }

    // The dialog names a bad value and writes nothing; good values go in, a cleared field unsets
    // its key, and turning sharing on first shows the request. Which lines a rewrite keeps and the
    // file's permissions are the settings' own (tst_station).
    void dialogChecksAndWrites_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QStringList>("fields"); // name, value, name, value...; ChkShare ticks
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QByteArray>("after"); // empty: as before

        const QByteArray mine = "# my station\nCALLSIGN=DL1ABC\n";
        const QStringList sharing{u"TxtNoradId"_s, u"99999"_s, u"ChkShare"_s, {}};
        QTest::newRow("good locator, sharing on")
            << mine << QStringList{u"TxtLocator"_s, u"JO62qm"_s} + sharing << QString()
            << mine + "LOCATOR=JO62qm\nNORAD_ID=99999\nSHARE=yes\n";
        QTest::newRow("bad locator") << mine << QStringList{u"TxtLocator"_s, u"ZZ99"_s} + sharing
                                     << u"LOCATOR"_s << QByteArray();
        QTest::newRow("cleared fields")
            << QByteArray("CALLSIGN=DL1ABC\r\nSIDS_URL=http://127.0.0.1:9/old/\r\nLOCATOR=JO62\r\n")
            << QStringList{u"TxtLocator"_s,  {},        u"TxtSidsUrl"_s,   {},
                           u"TxtLatitude"_s, u"52.5"_s, u"TxtLongitude"_s, u"13.25"_s}
            << QString()
            << QByteArray("CALLSIGN=DL1ABC\r\nSIDS_URL=\r\nLOCATOR=\r\nLATITUDE=52.5\n"
                          "LONGITUDE=13.25\n");
    }

    void dialogChecksAndWrites()
    {
        QFETCH(QByteArray, before);
        QFETCH(QStringList, fields);
        QFETCH(QString, problem);
        QFETCH(QByteArray, after);
        QVERIFY(m_home->writeConfiguration(before));
        StationDialog dialog(programFolder());
        QString shown;
        dialog.confirmSharing = [&](const QString &request) {
            shown = request;
            return true;
        };
        for (qsizetype field = 0; field + 1 < fields.size(); field += 2) {
            if (fields[field] == u"ChkShare")
                dialog.findChild<QCheckBox *>(fields[field])->setChecked(true);
            else
                dialog.findChild<QLineEdit *>(fields[field])->setText(fields[field + 1]);
        }
        dialog.accept();
        const QString problems = dialog.findChild<QLabel *>(u"LblProblems"_s)->text();
        QVERIFY2(problem.isEmpty() ? problems.isEmpty() : problems.contains(problem),
                 qPrintable(problems));
        QCOMPARE(dialog.result(), int(problem.isEmpty() ? QDialog::Accepted : QDialog::Rejected));
        QCOMPARE(fileContent(m_home->confIni()), after.isEmpty() ? before : after);
        if (fields.contains(u"ChkShare"_s) && problem.isEmpty())
            QVERIFY2(shown.contains(u"noradID=99999"_s) && shown.contains(u"source=DL1ABC"_s),
                     qPrintable(shown));
    }

private:
    QString programFolder() const { return m_home->path(u"program"_s); }

    std::unique_ptr<StationHome> m_home;
};

QTEST_MAIN(TestStationWindow)
#include "tst_stationwindow.moc"
