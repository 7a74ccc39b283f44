// SPDX-License-Identifier: GPL-3.0-or-later
#include "historywindow.h"

#include "configurationfile.h"
#include "historychart.h"
#include "logexport.h"
#include "stationsettings.h"
#include "telemetry.h"

#include <QComboBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace tovrin3 {

namespace {

using namespace Qt::StringLiterals;
using history::Channel;
using history::TimeRange;

constexpr qint64 HourMs = 3600 * 1000;
constexpr qint64 DayMs = 24 * HourMs;
// Frames another program commits show within a second.
constexpr int PollIntervalMs = 500;
// A pass chosen in the list is shown with this share of its length either side, and at least
// PassMarginMs: less than half the gap that separates passes, so no other pass comes into view.
constexpr double PassMarginShare = 0.02;
constexpr qint64 PassMarginMs = 5000;
// The pass list covers at most this much of the end of the chosen range.
constexpr qint64 ListedPassesMs = 31 * DayMs;
// A query waits this long for another program's write: the window polls again soon, so a busy
// log costs a late refresh, not a frozen window.
constexpr int BusyTimeoutMs = 250;
// Hovering finds the frame nearest the pointer within this many pixel columns.
constexpr int HoverColumns = 8;

QDateTime utc(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

QString shownTime(qint64 ms)
{
    return utc(ms).toString(u"yyyy-MM-dd HH:mm:ss"_s);
}

QString valueText(double value)
{
    return QString::number(value, 'g', 6);
}

QPushButton *button(const QString &text, const QString &name, QWidget *parent)
{
    auto *created = new QPushButton(text, parent);
    created->setObjectName(name);
    created->setAutoDefault(false);
    return created;
}

QDateTimeEdit *timeField(const QString &name, QWidget *parent)
{
    auto *field = new QDateTimeEdit(parent);
    field->setObjectName(name);
    field->setTimeSpec(Qt::UTC);
    field->setDisplayFormat(u"yyyy-MM-dd HH:mm:ss"_s);
    field->setCalendarPopup(true);
    return field;
}

} // namespace

HistoryWindow::HistoryWindow(QString programFolder, QString logPath, QWidget *parent)
    : QWidget(parent, Qt::Window), m_programFolder(std::move(programFolder)),
      m_logPath(std::move(logPath)), m_now([] { return QDateTime::currentMSecsSinceEpoch(); }),
      m_confirm([this](const QString &question) {
          return QMessageBox::question(this, u"Delete frames"_s, question) == QMessageBox::Yes;
      })
{
    setObjectName(u"HistoryWindow"_s);
    setWindowTitle(u"History"_s);
    createControls();
    readLimits();
    showLimitsOfChannel();
    connectControls();
    resize(1100, 600);

    m_poll = new QTimer(this);
    m_poll->setInterval(PollIntervalMs);
    connect(m_poll, &QTimer::timeout, this, &HistoryWindow::followLog);
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::createControls()
{
    m_channel = new QComboBox(this);
    m_channel->setObjectName(u"historyChannel"_s);
    for (const history::ChannelInfo &info : history::channels()) {
        const QString name = info.name.toString();
        m_channel->addItem(info.unit.isEmpty() ? name : u"%1 (%2)"_s.arg(name, info.unit),
                           static_cast<int>(info.channel));
    }
    m_channel->setAccessibleName(u"Channel"_s);

    auto *ranges = new QHBoxLayout;
    ranges->addWidget(new QLabel(u"Channel:"_s, this));
    ranges->addWidget(m_channel);
    ranges->addSpacing(12);
    const std::pair<QString, Range> rangeButtons[] = {
        {u"Last pass"_s, Range::LastPass},
        {u"24 hours"_s, Range::LastDay},
        {u"7 days"_s, Range::LastWeek},
        {u"All"_s, Range::All},
    };
    const QString rangeNames[] = {u"historyLastPass"_s, u"historyLastDay"_s, u"historyLastWeek"_s,
                                  u"historyAll"_s};
    for (std::size_t index = 0; index < std::size(rangeButtons); ++index) {
        QPushButton *rangeButton = button(rangeButtons[index].first, rangeNames[index], this);
        const Range range = rangeButtons[index].second;
        connect(rangeButton, &QPushButton::clicked, this, [this, range] { showRange(range); });
        ranges->addWidget(rangeButton);
    }
    ranges->addSpacing(12);
    m_from = timeField(u"historyFrom"_s, this);
    m_to = timeField(u"historyTo"_s, this);
    ranges->addWidget(new QLabel(u"From:"_s, this));
    ranges->addWidget(m_from);
    ranges->addWidget(new QLabel(u"To:"_s, this));
    ranges->addWidget(m_to);
    QPushButton *showButton = button(u"Show"_s, u"historyShow"_s, this);
    connect(showButton, &QPushButton::clicked, this, &HistoryWindow::showChosenRange);
    ranges->addWidget(showButton);
    m_back = button(u"Back"_s, u"historyBack"_s, this);
    m_back->setToolTip(u"Back to the range before the last zoom (Escape)"_s);
    m_back->setEnabled(false);
    ranges->addWidget(m_back);
    ranges->addStretch();

    m_chart = new HistoryChart(this);
    m_chart->setObjectName(u"historyChart"_s);
    m_chart->setAccessibleName(u"The chosen channel against UTC time"_s);

    m_passList = new QTreeWidget(this);
    m_passList->setObjectName(u"historyPasses"_s);
    m_passList->setAccessibleName(u"Passes"_s);
    m_passList->setRootIsDecorated(false);
    m_passList->setHeaderLabels(
        {u"Start (UTC)"_s, u"End"_s, u"Frames"_s, u"Min V"_s, u"Max V"_s, u"Sources"_s});
    m_passList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

    m_passesTitle = new QLabel(this);
    m_passesTitle->setObjectName(u"historyPassesTitle"_s);
    m_passesTitle->setBuddy(m_passList);
    auto *passBox = new QWidget(this);
    auto *passLayout = new QVBoxLayout(passBox);
    passLayout->setContentsMargins(0, 0, 0, 0);
    passLayout->addWidget(m_passesTitle);
    passLayout->addWidget(m_passList, 1);

    auto *splitter = new QSplitter(this);
    splitter->addWidget(m_chart);
    splitter->addWidget(passBox);
    // The plot takes most of the width; the pass list needs only its columns.
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    splitter->setSizes({720, 380});

    auto *actions = new QHBoxLayout;
    m_lowLimit = new QLineEdit(this);
    m_lowLimit->setObjectName(u"historyLowLimit"_s);
    m_lowLimit->setAccessibleName(u"Low limit"_s);
    m_lowLimit->setPlaceholderText(u"none"_s);
    m_highLimit = new QLineEdit(this);
    m_highLimit->setObjectName(u"historyHighLimit"_s);
    m_highLimit->setAccessibleName(u"High limit"_s);
    m_highLimit->setPlaceholderText(u"none"_s);
    actions->addWidget(new QLabel(u"Low limit:"_s, this));
    actions->addWidget(m_lowLimit);
    actions->addWidget(new QLabel(u"High limit:"_s, this));
    actions->addWidget(m_highLimit);
    actions->addStretch();
    QPushButton *csvButton = button(u"Export CSV..."_s, u"historyExportCsv"_s, this);
    connect(csvButton, &QPushButton::clicked, this, &HistoryWindow::chooseAndExportCsv);
    QPushButton *pngButton = button(u"Export PNG..."_s, u"historyExportPng"_s, this);
    connect(pngButton, &QPushButton::clicked, this, &HistoryWindow::chooseAndExportPng);
    QPushButton *deleteButton = button(u"Delete..."_s, u"historyDelete"_s, this);
    connect(deleteButton, &QPushButton::clicked, this, [this] { deleteShown(); });
    actions->addWidget(csvButton);
    actions->addWidget(pngButton);
    actions->addWidget(deleteButton);

    m_message = new QLabel(this);
    m_message->setObjectName(u"historyMessage"_s);
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(ranges);
    layout->addWidget(splitter, 1);
    layout->addLayout(actions);
    layout->addWidget(m_message);
}

void HistoryWindow::connectControls()
{
    connect(m_channel, &QComboBox::currentIndexChanged, this, [this] {
        showLimitsOfChannel();
        plot();
    });
    connect(m_back, &QPushButton::clicked, this, &HistoryWindow::back);
    connect(m_chart, &HistoryChart::rangeRequested, this, &HistoryWindow::zoomTo);
    connect(m_chart, &HistoryChart::hovered, this, &HistoryWindow::showToolTip);
    connect(m_chart, &HistoryChart::hoverLeft, this, [] { QToolTip::hideText(); });
    connect(m_passList, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem *item) { choosePass(m_passList->indexOfTopLevelItem(item)); });
    connect(m_passList, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem *item) { choosePass(m_passList->indexOfTopLevelItem(item)); });
    connect(m_lowLimit, &QLineEdit::editingFinished, this, &HistoryWindow::applyLimitEdits);
    connect(m_highLimit, &QLineEdit::editingFinished, this, &HistoryWindow::applyLimitEdits);
}

Channel HistoryWindow::channel() const
{
    return static_cast<Channel>(m_channel->currentData().toInt());
}

void HistoryWindow::chooseChannel(Channel chosen)
{
    m_channel->setCurrentIndex(m_channel->findData(static_cast<int>(chosen)));
}

QString HistoryWindow::message() const
{
    return m_message->text();
}

void HistoryWindow::tell(const QString &text)
{
    m_message->setText(text);
}

void HistoryWindow::readLimits()
{
    const QString path = findConfigurationFile(m_programFolder);
    if (path.isEmpty())
        return;
    if (const std::optional<QByteArray> content = readConfigurationFile(path))
        m_limits = parseChannelLimits(*content);
}

void HistoryWindow::showLimitsOfChannel()
{
    const ChannelLimits limits = m_limits.value(limitName(channel()));
    m_lowLimit->setText(limitToText(limits.low));
    m_highLimit->setText(limitToText(limits.high));
    m_chart->setLimits(limits.low, limits.high);
}

// A limit the user typed is drawn at once and kept in conf.ini, beside the other settings; a
// text that is no number clears that limit.
void HistoryWindow::applyLimitEdits()
{
    const QString key = limitName(channel());
    const ChannelLimits limits{limitFromText(m_lowLimit->text()),
                               limitFromText(m_highLimit->text())};
    m_lowLimit->setText(limitToText(limits.low));
    m_highLimit->setText(limitToText(limits.high));
    if (m_limits.value(key) == limits)
        return;
    m_limits[key] = limits;
    m_chart->setLimits(limits.low, limits.high);
    plot();
    const station::SettingsWrite written =
        station::writeStationSettings(m_programFolder, channelLimitSettings(channel(), limits));
    if (written.path.isEmpty())
        tell(u"The limits could not be kept: %1"_s.arg(written.error));
}

void HistoryWindow::showRange(Range range)
{
    m_range = range;
    m_zooms.clear();
    m_back->setEnabled(false);
    m_passList->clearSelection();
    refresh();
}

void HistoryWindow::showChosenRange()
{
    m_range = Range::Chosen;
    m_baseFromMs = m_from->dateTime().toMSecsSinceEpoch();
    m_baseToMs = m_to->dateTime().toMSecsSinceEpoch();
    if (m_baseToMs < m_baseFromMs)
        std::swap(m_baseFromMs, m_baseToMs);
    m_zooms.clear();
    m_back->setEnabled(false);
    refresh();
}

void HistoryWindow::zoomTo(qint64 fromMs, qint64 toMs)
{
    if (toMs < fromMs)
        std::swap(fromMs, toMs);
    m_zooms.append({m_fromMs, m_toMs});
    m_back->setEnabled(true);
    setShown(fromMs, toMs);
    plot();
}

bool HistoryWindow::back()
{
    if (m_zooms.isEmpty())
        return false;
    const auto [fromMs, toMs] = m_zooms.takeLast();
    m_back->setEnabled(!m_zooms.isEmpty());
    setShown(fromMs, toMs);
    plot();
    return true;
}

void HistoryWindow::choosePass(int row)
{
    if (row < 0 || std::size_t(row) >= m_passes.size())
        return;
    const history::Pass &pass = m_passes[std::size_t(row)];
    const qint64 margin =
        std::max(PassMarginMs, qint64(double(pass.endMs - pass.startMs) * PassMarginShare));
    m_passList->setCurrentItem(m_passList->topLevelItem(row));
    zoomTo(pass.startMs - margin, pass.endMs + margin);
}

void HistoryWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && back())
        return;
    QWidget::keyPressEvent(event);
}

// A closed window stays for the next Ctrl+H but reads nothing; shown again, it catches up.
void HistoryWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_poll->isActive())
        return;
    m_poll->start();
    if (m_everShown) {
        followLog();
        return;
    }
    // The first range is read once the window is on screen.
    m_everShown = true;
    QTimer::singleShot(0, this, [this] { showRange(m_range); });
}

void HistoryWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_poll->stop();
}

// The log is opened once it exists and read again whenever a program committed to it.
void HistoryWindow::followLog()
{
    if (!m_log.isOpen() || !m_readable) {
        refresh();
        return;
    }
    if (m_log.changeToken() != m_token)
        refresh();
}

bool HistoryWindow::openLog()
{
    if (m_log.isOpen())
        return true;
    if (!QFileInfo::exists(m_logPath)) {
        tell(u"The station log holds no frames yet."_s);
        return false;
    }
    if (!m_log.open(m_logPath, BusyTimeoutMs)) {
        tell(u"The station log cannot be read: %1"_s.arg(m_log.errorString()));
        return false;
    }
    return true;
}

TimeRange HistoryWindow::shownRange() const
{
    return {m_fromMs, m_toMs + 1};
}

// The range the buttons name, measured again on each refresh: the last 24 hours move on, and a
// new pass becomes the last.
void HistoryWindow::resolveRange()
{
    const qint64 now = m_now();
    switch (m_range) {
    case Range::LastDay:
        m_baseFromMs = now - DayMs;
        m_baseToMs = now;
        return;
    case Range::LastWeek:
        m_baseFromMs = now - 7 * DayMs;
        m_baseToMs = now;
        return;
    case Range::All:
        if (const std::optional<TimeRange> span = m_log.span();
            span && span->sinceMs && span->untilMs) {
            m_baseFromMs = *span->sinceMs;
            m_baseToMs = *span->untilMs - 1;
            return;
        }
        break;
    case Range::LastPass:
        if (const std::optional<history::Pass> last = m_log.lastPass()) {
            m_baseFromMs = last->startMs;
            m_baseToMs = last->endMs;
            return;
        }
        break;
    case Range::Chosen:
        return;
    }
    // An empty log: the last day, so that frames arriving now show.
    m_baseFromMs = now - DayMs;
    m_baseToMs = now;
}

void HistoryWindow::refresh()
{
    m_readable = false;
    if (!openLog()) {
        m_passes.clear();
        fillPassList();
        m_chart->setPlot({}, false);
        m_chart->setMarks({});
        return;
    }
    m_token = m_log.changeToken();
    resolveRange();
    if (m_zooms.isEmpty())
        setShown(m_baseFromMs, m_baseToMs);
    readPasses();
    plot();
}

void HistoryWindow::setShown(qint64 fromMs, qint64 toMs)
{
    m_fromMs = fromMs;
    m_toMs = toMs;
    m_chart->setTimeRange(fromMs, toMs);
    showFieldsOfShown();
}

void HistoryWindow::showFieldsOfShown()
{
    const QSignalBlocker blockFrom(m_from);
    const QSignalBlocker blockTo(m_to);
    m_from->setDateTime(utc(m_fromMs));
    m_to->setDateTime(utc(m_toMs));
}

// A list of years would hold thousands of passes and take long to read: it holds those of the
// range's last ListedPassesMs, and says so.
void HistoryWindow::readPasses()
{
    const qint64 fromMs = std::max(m_baseFromMs, m_baseToMs - ListedPassesMs);
    m_passesTitle->setText(
        fromMs > m_baseFromMs ? u"Passes of the range's last %1 days:"_s.arg(ListedPassesMs / DayMs)
                              : u"Passes of the range:"_s);
    const std::optional<std::vector<history::Pass>> passes =
        m_log.passes(TimeRange{fromMs, m_baseToMs + 1});
    m_passes = passes.value_or(std::vector<history::Pass>());
    fillPassList();
}

void HistoryWindow::fillPassList()
{
    const auto voltage = [](std::optional<double> volts) {
        return volts ? QString::number(*volts, 'f', 3) : QString();
    };
    const int chosen = m_passList->indexOfTopLevelItem(m_passList->currentItem());
    m_passList->clear();
    QList<QTreeWidgetItem *> items;
    for (const history::Pass &pass : m_passes) {
        items.append(
            new QTreeWidgetItem({shownTime(pass.startMs), utc(pass.endMs).toString(u"HH:mm:ss"_s),
                                 QString::number(pass.frames), voltage(pass.minBatteryVoltage),
                                 voltage(pass.maxBatteryVoltage), pass.sources.join(u", "_s)}));
        items.last()->setTextAlignment(2, Qt::AlignRight);
    }
    m_passList->addTopLevelItems(items);
    if (chosen >= 0 && chosen < items.size() && !m_zooms.isEmpty())
        m_passList->setCurrentItem(items[chosen]);
}

// The core gives a point per frame, or per pixel column its least and greatest value, with the
// breaks between passes; values beyond a limit are marked.
void HistoryWindow::plot()
{
    if (!m_log.isOpen())
        return;
    const std::optional<history::Series> series =
        m_log.series(channel(), shownRange(), m_chart->plotColumns());
    m_readable = series.has_value();
    if (!series) {
        m_chart->setPlot({}, false);
        m_chart->setMarks({});
        tell(u"The station log cannot be read: %1"_s.arg(m_log.errorString()));
        return;
    }
    const ChannelLimits limits = m_limits.value(limitName(channel()));
    QList<TimedRun> runs;
    QList<TimedValue> marks;
    const auto add = [&](qint64 timeMs, double value) {
        runs.last().append({timeMs, value});
        if (history::beyondLimit(value, limits.low, limits.high))
            marks.append({timeMs, value});
    };
    for (const history::SeriesPoint &point : series->points) {
        if (runs.isEmpty() || point.startsPass)
            runs.append(TimedRun());
        add(point.firstMs, point.minimum);
        if (point.lastMs != point.firstMs || point.maximum != point.minimum)
            add(point.lastMs, point.maximum);
    }
    m_chart->setPlot(runs, history::channelInfo(channel()).step);
    m_chart->setMarks(marks);

    const std::optional<qint64> count = m_log.count(shownRange());
    if (!m_log.span())
        tell(u"The station log holds no frames yet."_s);
    else if (count && *count == 0)
        tell(u"No frames from %1 to %2 UTC."_s.arg(shownTime(m_fromMs), shownTime(m_toMs)));
    else
        tell(u"%1 frames from %2 to %3 UTC."_s.arg(count.value_or(0))
                 .arg(shownTime(m_fromMs), shownTime(m_toMs)));
}

QString HistoryWindow::toolTipAt(qint64 timeMs)
{
    if (!m_log.isOpen() || timeMs < m_fromMs || timeMs > m_toMs)
        return {};
    const qint64 reach =
        std::max<qint64>(1000, (m_toMs - m_fromMs) / m_chart->plotColumns() * HoverColumns);
    const std::optional<std::vector<history::LoggedFrame>> near = m_log.frames(
        TimeRange{std::max(m_fromMs, timeMs - reach), std::min(m_toMs, timeMs + reach) + 1});
    if (!near || near->empty())
        return {};
    const auto nearest = std::min_element(
        near->cbegin(), near->cend(), [timeMs](const auto &left, const auto &right) {
            return std::abs(left.receivedMs - timeMs) < std::abs(right.receivedMs - timeMs);
        });
    const history::ChannelInfo &shown = history::channelInfo(channel());
    const std::optional<double> value =
        history::channelValue(channel(), decodeFields(nearest->digits));
    return u"%1 UTC\n%2: %3 %4\n%5\nfrom %6"_s
        .arg(utc(nearest->receivedMs).toString(u"yyyy-MM-dd HH:mm:ss.zzz"_s), shown.name.toString(),
             value ? valueText(*value) : u"none"_s, shown.unit.toString(), nearest->digits,
             nearest->sources.isEmpty() ? u"an unknown source"_s : nearest->sources.join(u", "_s))
        .trimmed();
}

void HistoryWindow::showToolTip(qint64 timeMs, QPoint globalPosition)
{
    QToolTip::showText(globalPosition, toolTipAt(timeMs), m_chart);
}

// The shown frames as `tovrin3-decode --from-log --format csv` writes the same range.
bool HistoryWindow::exportCsv(const QString &path)
{
    if (!openLog())
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        tell(u"%1 could not be written: %2"_s.arg(path, file.errorString()));
        return false;
    }
    switch (writeLoggedFrames(m_log, shownRange(), OutputFormat::Csv, false, file)) {
    case LogExportOutcome::ReadFailed:
        tell(u"The station log cannot be read: %1"_s.arg(m_log.errorString()));
        return false;
    case LogExportOutcome::WriteFailed:
        tell(u"%1 could not be written: %2"_s.arg(path, file.errorString()));
        return false;
    case LogExportOutcome::Written:
        break;
    }
    if (!file.commit()) {
        tell(u"%1 could not be written: %2"_s.arg(path, file.errorString()));
        return false;
    }
    tell(u"Written to %1."_s.arg(path));
    return true;
}

bool HistoryWindow::exportPng(const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !m_chart->image().save(&file, "PNG") ||
        !file.commit()) {
        tell(u"%1 could not be written: %2"_s.arg(path, file.errorString()));
        return false;
    }
    tell(u"Written to %1."_s.arg(path));
    return true;
}

void HistoryWindow::chooseAndExportCsv()
{
    const QString path = QFileDialog::getSaveFileName(this, u"Export CSV"_s, {},
                                                      u"CSV files (*.csv);;All files (*)"_s);
    if (!path.isEmpty())
        exportCsv(path);
}

void HistoryWindow::chooseAndExportPng()
{
    const QString path = QFileDialog::getSaveFileName(this, u"Export PNG"_s, {},
                                                      u"PNG images (*.png);;All files (*)"_s);
    if (!path.isEmpty())
        exportPng(path);
}

std::optional<int> HistoryWindow::deleteShown()
{
    if (!openLog())
        return std::nullopt;
    const int row = m_passList->indexOfTopLevelItem(m_passList->currentItem());
    const bool ofPass = row >= 0 && std::size_t(row) < m_passes.size();
    const TimeRange range = ofPass ? m_passes[std::size_t(row)].range() : shownRange();
    const qint64 fromMs = *range.sinceMs;
    const qint64 toMs = *range.untilMs - 1;
    const std::optional<qint64> count = m_log.count(range);
    if (!count) {
        tell(u"The station log cannot be read: %1"_s.arg(m_log.errorString()));
        return std::nullopt;
    }
    if (*count == 0) {
        tell(u"No frames to delete from %1 to %2 UTC."_s.arg(shownTime(fromMs), shownTime(toMs)));
        return std::nullopt;
    }
    const QString question =
        u"Delete the %1 frame(s) %2 from %3 to %4 UTC?\n\nThey leave the plots, the exports and "
        u"the send queue, and doubtful copies logged in that time go with them. Frames a server "
        u"has already accepted stay accepted there."_s.arg(*count)
            .arg(ofPass ? u"of the chosen pass"_s : u"shown"_s, shownTime(fromMs), shownTime(toMs));
    if (!m_confirm(question))
        return std::nullopt;
    const std::optional<qint64> deleted = m_log.remove(range);
    if (!deleted) {
        tell(u"The frames could not be deleted: %1"_s.arg(m_log.errorString()));
        return std::nullopt;
    }
    m_passList->setCurrentItem(nullptr);
    refresh();
    tell(u"%1 frame(s) deleted."_s.arg(*deleted));
    return int(*deleted);
}

} // namespace tovrin3
