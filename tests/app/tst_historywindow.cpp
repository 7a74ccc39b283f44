// SPDX-License-Identifier: GPL-3.0-or-later
#include "historychart.h"
#include "historylimits.h"
#include "historytesting.h"
#include "historywindow.h"
#include "stationtesting.h"
#include "telemetry.h"
#include "windowtesting.h"

#include <QAbstractScrollArea>
#include <QWheelEvent>

using namespace tovrin3;
using namespace tovrin3::testing;
using history::Channel;

// Noon is the window's "now"; different voltage words (frameDigits) keep frames close in time
// apart in the log.
namespace {

using Rows = std::vector<station::Reception>;

// Voltage words 0C00, 0C01... at the given times.
Rows framesAt(const QList<qint64> &times)
{
    Rows rows;
    for (qsizetype index = 0; index < times.size(); ++index)
        rows.push_back(reception(times[index], frameDigits(0x0C00 + int(index))));
    return rows;
}

QList<qint64> drawnTimes(const HistoryChart &chart)
{
    QList<qint64> times;
    for (const QList<QPointF> &line : chart.drawnLines()) {
        for (const QPointF &point : line) {
            if (times.isEmpty() || times.last() != qint64(point.x()))
                times.append(qint64(point.x()));
        }
    }
    return times;
}

} // namespace

Q_DECLARE_METATYPE(HistoryWindow::Range)
Q_DECLARE_METATYPE(ChannelLimits)

class TestHistoryWindow : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_home = std::make_unique<StationHome>();
        m_home->applyToThisProcess();
        QDir().mkpath(m_home->dataHome() + u"/tovrin3"_s);
        QDir().mkpath(programFolder());
    }

    void cleanup()
    {
        m_window.reset();
        m_home.reset();
    }

    // Ctrl+H opens one History window that does not hold up the main window.
    void opensWithCtrlH()
    {
        const auto shown = showWindow();
        QTest::keyClick(&shown->window, Qt::Key_H, Qt::ControlModifier);
        auto *history = shown->window.findChild<HistoryWindow *>();
        QVERIFY(history);
        QTRY_VERIFY(history->isVisible());
        QVERIFY(!history->isModal());
        QTest::keyClick(&shown->window, Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(shown->window.findChildren<HistoryWindow *>().size(), 1);
    }

    // The chosen channel reaches the plot: one point per frame against its time, a bit as steps.
    // Where passes part and which frames have a value is the log's (tst_historylog), how lines
    // break and steps are drawn the chart's (tst_historychart).
    void plotsTheChosenChannel()
    {
        const qint64 t = Noon - DayMs;
        QVERIFY(logged({reception(t, frameDigits(0x0C00, 0)),
                        reception(t + 20 * SecondMs, frameDigits(0x0C01, 1)),
                        reception(t + 40 * SecondMs, frameDigits(0x0C02, 0))}));
        HistoryWindow &window = openWindow();
        window.chooseChannel(Channel::MissionBit0);
        window.showRange(HistoryWindow::Range::All);
        QTRY_COMPARE(window.chart()->drawnLines(),
                     (QList<QList<QPointF>>{{{double(t), 0},
                                             {double(t + 20 * SecondMs), 0},
                                             {double(t + 20 * SecondMs), 1},
                                             {double(t + 40 * SecondMs), 1},
                                             {double(t + 40 * SecondMs), 0}}}));
    }

    // Each range shows the frames from its start to its end, both included.
    void rangesEndAtTheirEdges_data()
    {
        QTest::addColumn<HistoryWindow::Range>("range");
        QTest::addColumn<QList<qint64>>("shown");

        const QList<qint64> times = edgeTimes();
        QTest::newRow("last 7 days") << HistoryWindow::Range::LastWeek << times.mid(1, 4);
        QTest::newRow("last 24 hours") << HistoryWindow::Range::LastDay << times.mid(3, 2);
        QTest::newRow("all") << HistoryWindow::Range::All << times;
        QTest::newRow("last pass") << HistoryWindow::Range::LastPass << times.mid(4, 2);
        QTest::newRow("from and to") << HistoryWindow::Range::Chosen << times.mid(2, 2);
    }

    void rangesEndAtTheirEdges()
    {
        QFETCH(HistoryWindow::Range, range);
        QFETCH(QList<qint64>, shown);
        QVERIFY(logged(framesAt(edgeTimes())));
        HistoryWindow &window = openWindow();
        if (range == HistoryWindow::Range::Chosen) {
            control<QDateTimeEdit>(window, "historyFrom")
                ->setDateTime(QDateTime::fromMSecsSinceEpoch(shown.first(), Qt::UTC));
            control<QDateTimeEdit>(window, "historyTo")
                ->setDateTime(QDateTime::fromMSecsSinceEpoch(shown.last(), Qt::UTC));
            control<QPushButton>(window, "historyShow")->click();
        } else {
            window.showRange(range);
        }
        QTRY_COMPARE(drawnTimes(*window.chart()), shown);
        QVERIFY2(window.message().startsWith(u"%1 frames"_s.arg(shown.size())),
                 qPrintable(window.message()));
    }

    // The wheel, a dragged rectangle and a chosen pass each narrow the range; Escape and the Back
    // button step back through them.
    void zoomsAndGoesBack_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("byEscape");

        // Going back is one step whatever narrowed the range: each way of going back once.
        QTest::newRow("wheel, back by Escape") << u"wheel"_s << true;
        QTest::newRow("rectangle, back by button") << u"rectangle"_s << false;
        QTest::newRow("pass, back by Escape") << u"pass"_s << true;
    }

    void zoomsAndGoesBack()
    {
        QFETCH(QString, how);
        QFETCH(bool, byEscape);
        QVERIFY(logged(threePasses()));
        HistoryWindow &window = openWindow();
        window.showRange(HistoryWindow::Range::All);
        QTRY_COMPARE(window.passes().size(), std::size_t(3));
        const qint64 from = window.shownFromMs();
        const qint64 to = window.shownToMs();
        QWidget *view =
            control<QAbstractScrollArea>(*window.chart(), "historyChartView")->viewport();
        const QPoint centre = view->rect().center();

        if (how == u"wheel") {
            QWheelEvent wheel(centre, view->mapToGlobal(centre), {}, {0, 120}, Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(view, &wheel);
            QCOMPARE(window.shownToMs() - window.shownFromMs(), (to - from) / 2);
        } else if (how == u"rectangle") {
            QTest::mousePress(view, Qt::LeftButton, {}, centre - QPoint(60, 0));
            QTest::mouseMove(view, centre + QPoint(60, 20));
            QTest::mouseRelease(view, Qt::LeftButton, {}, centre + QPoint(60, 20));
            QVERIFY(window.shownFromMs() > from);
            QVERIFY(window.shownToMs() < to);
        } else {
            window.choosePass(1);
            const history::Pass &pass = window.passes()[1];
            // Only the pass's own frames are drawn: the neighbouring passes lie outside.
            QVERIFY(window.shownFromMs() <= pass.startMs && window.shownToMs() >= pass.endMs);
            QTRY_COMPARE(drawnTimes(*window.chart()).size(), pass.frames);
        }
        if (byEscape)
            QTest::keyClick(&window, Qt::Key_Escape);
        else
            control<QPushButton>(window, "historyBack")->click();
        QCOMPARE(window.shownFromMs(), from);
        QCOMPARE(window.shownToMs(), to);
        QVERIFY(!control<QPushButton>(window, "historyBack")->isEnabled());
    }

    // Deleting asks first, naming the count and that a server keeps what it accepted; a no
    // removes nothing, then a yes exactly the chosen pass's frames.
    void deletesTheChosenPass()
    {
        QVERIFY(logged(threePasses()));
        HistoryWindow &window = openWindow();
        window.showRange(HistoryWindow::Range::All);
        QTRY_COMPARE(window.passes().size(), std::size_t(3));
        for (const bool confirmed : {false, true}) {
            QString question;
            window.setConfirmation([&](const QString &asked) {
                question = asked;
                return confirmed;
            });
            window.choosePass(1);
            const std::optional<int> deleted = window.deleteShown();
            QVERIFY2(question.contains(u"Delete the 3 frame"_s), qPrintable(question));
            QVERIFY2(question.contains(u"already accepted stay accepted"_s), qPrintable(question));
            QCOMPARE(deleted, confirmed ? std::optional<int>(3) : std::nullopt);
            // Which frames the log then holds is the log's (tst_historylog): the plot follows it.
            window.showRange(HistoryWindow::Range::All);
            QTRY_COMPARE(drawnTimes(*window.chart()).size(), confirmed ? 4 : 7);
            QCOMPARE(window.passes().size(), std::size_t(confirmed ? 2 : 3));
        }
    }

    // Frames another program commits show within a second, in a log made before or after the
    // window opened (that another connection's commit changes what the log reads: tst_historylog).
    void followsTheLog_data()
    {
        QTest::addColumn<bool>("logFirst");
        QTest::newRow("tovrin3-decode --log") << true;
        QTest::newRow("a log made after the window opened") << false;
    }

    void followsTheLog()
    {
        QFETCH(bool, logFirst);
        if (logFirst)
            QVERIFY(logged({reception(Noon - 2 * MinuteMs, frameDigits(0x0C00))}));
        HistoryWindow &window = openWindow();
        window.showRange(HistoryWindow::Range::LastDay);
        if (!logFirst) {
            QTRY_VERIFY(window.message().contains(u"no frames yet"_s));
            QVERIFY(logged({reception(Noon - 2 * MinuteMs, frameDigits(0x0C00))}));
        }
        QTRY_COMPARE_WITH_TIMEOUT(drawnTimes(*window.chart()).size(), 1, 1000);
        const ProgramRun run = runProgram(
            QStringLiteral(BIN_DIR "/tovrin3-decode"), {u"--log"_s}, m_home->environment(),
            "2026-12-06T11:59:00Z|QT7XMRKT3HKD " + frameDigits(0x0C6A).toLatin1() + "\n");
        QVERIFY2(run.exitCode == 0, run.errors.constData());
        QTRY_COMPARE_WITH_TIMEOUT(drawnTimes(*window.chart()),
                                  (QList<qint64>{Noon - 2 * MinuteMs, Noon - MinuteMs}), 1000);
    }

    // A log that is not a database is a message in the window, whatever the range (a missing
    // one: followsTheLog, "a log made after the window opened").
    void tellsWhatIsWrongWithTheLog()
    {
        QVERIFY(writeFile(m_home->logPath(),
                          QByteArray("this is no database, only a text\n").repeated(200)));
        HistoryWindow &window = openWindow();
        for (const auto range : {HistoryWindow::Range::All, HistoryWindow::Range::LastPass}) {
            window.showRange(range);
            QTRY_VERIFY2(window.message().contains(u"cannot be read"_s),
                         qPrintable(window.message()));
            QVERIFY(window.chart()->drawnLines().isEmpty());
        }
    }

    // A limit typed in is drawn, marks the values beyond it and is kept in conf.ini, every other
    // line as it was.
    void keepsLimitsInTheConfiguration()
    {
        QVERIFY(m_home->writeConfiguration("# station\r\nCALLSIGN=DL1ABC\r\n"
                                           "LIMIT_BATTERY_VOLTAGE_LOW=1\r\nLOG=yes"));
        QVERIFY(logged({reception(Noon - 3 * MinuteMs, frameDigits(0x0C00)),
                        reception(Noon - 2 * MinuteMs, frameDigits(0x0D00))}));
        HistoryWindow &window = openWindow();
        window.chooseChannel(Channel::BatteryVoltage);
        window.showRange(HistoryWindow::Range::LastDay);
        auto *low = control<QLineEdit>(window, "historyLowLimit");
        QCOMPARE(low->text(), u"1"_s);
        QTRY_COMPARE(drawnTimes(*window.chart()).size(), 2);
        QVERIFY(window.chart()->markedPoints().isEmpty());

        const double threshold =
            (batteryVoltageFromRaw(0x0C00) + batteryVoltageFromRaw(0x0D00)) / 2;
        low->setText(QString::number(threshold, 'f', 3));
        emit low->editingFinished();
        QCOMPARE(window.chart()->markedPoints(),
                 (QList<QPointF>{{double(Noon - 3 * MinuteMs), batteryVoltageFromRaw(0x0C00)}}));
        QCOMPARE(fileContent(m_home->confIni()),
                 "# station\r\nCALLSIGN=DL1ABC\r\nLIMIT_BATTERY_VOLTAGE_LOW=" +
                     QByteArray::number(threshold, 'f', 3) +
                     "\r\nLOG=yes\nLIMIT_BATTERY_VOLTAGE_HIGH=\n");
    }

    // The case of keys and the last line winning are the rules of every conf.ini key
    // (tst_station); a negative limit, an empty value and what is no number are the
    // limits'.
    void readsLimits_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<ChannelLimits>("voltage");

        QTest::newRow("low and high")
            << QByteArray("LIMIT_BATTERY_VOLTAGE_LOW=-1.5\nLIMIT_BATTERY_VOLTAGE_HIGH=4.25\n")
            << ChannelLimits{-1.5, 4.25};
        QTest::newRow("an empty value clears")
            << QByteArray("LIMIT_BATTERY_VOLTAGE_LOW=3\nLIMIT_BATTERY_VOLTAGE_LOW=\n")
            << ChannelLimits{};
        QTest::newRow("no number, no limit")
            << QByteArray("LIMIT_BATTERY_VOLTAGE_LOW=3,5\nLIMIT_BATTERY_VOLTAGE_HIGH=inf\n")
            << ChannelLimits{};
    }

    void readsLimits()
    {
        QFETCH(QByteArray, content);
        QFETCH(ChannelLimits, voltage);
        const QHash<QString, ChannelLimits> limits = parseChannelLimits(content);
        QCOMPARE(limits.value(limitName(Channel::BatteryVoltage)), voltage);
        QCOMPARE(parseChannelLimits("LIMIT__LOW=1\nLIMIT_LOW=2\n").size(), 0);
    }

    // Hovering names the nearest frame's time, value, text and sources.
    void hoveringNamesTheFrame()
    {
        QVERIFY(
            logged({reception(Noon - MinuteMs, frameDigits(0x0C6A)),
                    reception(Noon - MinuteMs + 2 * SecondMs, frameDigits(0x0C6A), u"listen"_s)}));
        HistoryWindow &window = openWindow();
        window.chooseChannel(Channel::BatteryVoltage);
        window.showRange(HistoryWindow::Range::LastDay);
        QTRY_COMPARE(drawnTimes(*window.chart()).size(), 1);
        const QString tip = window.toolTipAt(Noon - MinuteMs + 20 * SecondMs);
        for (const QString &part : {u"2026-12-06 11:59:00.000 UTC"_s, u"Battery Voltage: "_s,
                                    frameDigits(0x0C6A), u"pass.txt"_s, u"listen"_s})
            QVERIFY2(tip.contains(part), qPrintable(tip));
    }

    // The CSV of what is shown, here a chosen pass, is what `tovrin3-decode --from-log` writes
    // for the same range (ranges at their edges: tst_historylog); the PNG is of the
    // chart's size. A file that cannot be written is told, never reported as written.
    void exportsWhatTheCommandLineWrites()
    {
        Rows rows = threePasses();
        rows.push_back(reception(rows[3].receivedMs + 2 * SecondMs, rows[3].digits, u"listen"_s));
        QVERIFY(logged(rows));
        HistoryWindow &window = openWindow();
        window.showRange(HistoryWindow::Range::All);
        QTRY_COMPARE(window.passes().size(), std::size_t(3));
        window.choosePass(1);
        const QString path = m_home->path(u"shown.csv"_s);
        QVERIFY(window.exportCsv(path));

        const auto time = [](qint64 ms) {
            return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC)
                .toString(u"yyyy-MM-ddTHH:mm:ss.zzzZ"_s);
        };
        const ProgramRun run =
            runProgram(QStringLiteral(BIN_DIR "/tovrin3-decode"),
                       {u"--from-log"_s, u"--format"_s, u"csv"_s, u"--since"_s,
                        time(window.shownFromMs()), u"--until"_s, time(window.shownToMs() + 1)},
                       m_home->environment());
        QVERIFY2(run.exitCode == 0, run.errors.constData());
        QCOMPARE(fileContent(path), run.output);
        QVERIFY(run.output.contains("listen"));

        QVERIFY(window.exportPng(m_home->path(u"plot.png"_s)));
        QCOMPARE(QImage(m_home->path(u"plot.png"_s)).size(), window.chart()->image().size());
        for (const bool png : {true, false}) {
            QVERIFY(!(png ? window.exportPng(m_home->path(u"missing/plot.png"_s))
                          : window.exportCsv(m_home->path(u"missing/shown.csv"_s))));
            QVERIFY2(window.message().contains(u"could not be written"_s),
                     qPrintable(window.message()));
        }
    }

private:
    QString programFolder() const { return m_home->path(u"program"_s); }

    bool logged(const Rows &rows) const { return logReceptions(m_home->logPath(), rows); }

    HistoryWindow &openWindow()
    {
        m_window = std::make_unique<HistoryWindow>(programFolder(), m_home->logPath());
        m_window->setNow([] { return Noon; });
        return showOnScreen(*m_window);
    }

    // A week and a day back and a day back, each with a frame a millisecond before; now; and a
    // millisecond after now, in the pass that now is in.
    static QList<qint64> edgeTimes()
    {
        return {
            Noon - 7 * DayMs - 1, Noon - 7 * DayMs, Noon - DayMs - 1, Noon - DayMs, Noon, Noon + 1};
    }

    // Passes of 2, 3 and 2 frames, an hour apart.
    static Rows threePasses()
    {
        const qint64 start = Noon - 5 * 60 * MinuteMs;
        return framesAt({start, start + 30 * SecondMs, start + 60 * MinuteMs,
                         start + 60 * MinuteMs + 30 * SecondMs, start + 61 * MinuteMs,
                         start + 120 * MinuteMs, start + 121 * MinuteMs});
    }

    std::unique_ptr<StationHome> m_home;
    std::unique_ptr<HistoryWindow> m_window;
};

QTEST_MAIN(TestHistoryWindow)
#include "tst_historywindow.moc"
