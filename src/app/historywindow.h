// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "historylimits.h"
#include "historylog.h"

#include <QHash>
#include <QList>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

QT_BEGIN_NAMESPACE
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QTreeWidget;
QT_END_NAMESPACE

namespace tovrin3 {

class HistoryChart;

// The station log over days: one channel plotted against UTC time for a chosen range, the passes
// of that range beside it, zoom by wheel and dragged rectangle with a way back, export of what is
// shown, deletion of a pass or range, and limit lines per channel kept in conf.ini. It follows the
// log: what another program commits shows within a second. A log that is missing, locked or no
// database is a message in the window.
class HistoryWindow : public QWidget
{
    Q_OBJECT

public:
    enum class Range
    {
        LastPass,
        LastDay,
        LastWeek,
        All,
        Chosen, // the from and to fields
    };

    // programFolder is where conf.ini is looked for, as the main window does; logPath the station
    // log, which the window never creates.
    HistoryWindow(QString programFolder, QString logPath, QWidget *parent = nullptr);
    ~HistoryWindow() override;

    // The time "last 24 hours" and "last 7 days" end at; the system clock unless a test sets one.
    void setNow(std::function<qint64()> now) { m_now = std::move(now); }
    // Asks the user a yes-or-no question before frames are deleted; a message box unless a test
    // answers.
    void setConfirmation(std::function<bool(const QString &question)> confirm)
    {
        m_confirm = std::move(confirm);
    }

    void showRange(Range range);
    // The from and to fields' range.
    void showChosenRange();
    void chooseChannel(history::Channel channel);
    // Zooms into part of what is shown; back() returns.
    void zoomTo(qint64 fromMs, qint64 toMs);
    // Back to the range shown before the last zoom; false when there was none.
    bool back();
    // Zooms to the pass at that row of the pass list.
    void choosePass(int row);

    // The shown range, both ends included.
    qint64 shownFromMs() const { return m_fromMs; }
    qint64 shownToMs() const { return m_toMs; }
    // The pass list: the passes of the chosen range, of its last 31 days for a longer one.
    const std::vector<history::Pass> &passes() const { return m_passes; }
    HistoryChart *chart() const { return m_chart; }
    QString message() const;

    // What hovering the plot near that time shows: the nearest shown frame's time, value, text
    // and sources; empty when none is near.
    QString toolTipAt(qint64 timeMs);

    // Write what is shown; false with the reason in message().
    bool exportCsv(const QString &path);
    bool exportPng(const QString &path);
    // Deletes the chosen pass's frames, or without one the shown range's, once confirmed. The
    // number deleted; none when there was nothing to delete, the user said no or the log refused.
    std::optional<int> deleteShown();

    // Reads the log again now, as the timer does when the log changed.
    void refresh();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void createControls();
    void connectControls();
    void readLimits();
    void showLimitsOfChannel();
    void applyLimitEdits();
    void followLog();
    void resolveRange();
    void setShown(qint64 fromMs, qint64 toMs);
    bool openLog();
    history::TimeRange shownRange() const;
    void readPasses();
    void plot();
    void fillPassList();
    void showFieldsOfShown();
    void tell(const QString &text);
    void showToolTip(qint64 timeMs, QPoint globalPosition);
    void chooseAndExportCsv();
    void chooseAndExportPng();
    history::Channel channel() const;

    const QString m_programFolder;
    const QString m_logPath;
    history::HistoryLog m_log;
    std::function<qint64()> m_now;
    std::function<bool(const QString &)> m_confirm;

    Range m_range = Range::LastWeek;
    qint64 m_baseFromMs = 0;
    qint64 m_baseToMs = 0;
    qint64 m_fromMs = 0;
    qint64 m_toMs = 0;
    QList<std::pair<qint64, qint64>> m_zooms; // the ranges to go back to
    std::vector<history::Pass> m_passes;
    history::ChangeToken m_token;
    bool m_readable = false;
    bool m_everShown = false;
    QHash<QString, ChannelLimits> m_limits;

    QComboBox *m_channel = nullptr;
    QDateTimeEdit *m_from = nullptr;
    QDateTimeEdit *m_to = nullptr;
    QPushButton *m_back = nullptr;
    HistoryChart *m_chart = nullptr;
    QLabel *m_passesTitle = nullptr;
    QTreeWidget *m_passList = nullptr;
    QLineEdit *m_lowLimit = nullptr;
    QLineEdit *m_highLimit = nullptr;
    QLabel *m_message = nullptr;
    QTimer *m_poll = nullptr;
};

} // namespace tovrin3
