// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cwdemodulator.h"
#include "stationlog.h"
#include "stationsettings.h"

#include <QByteArray>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDateTime>
#include <QIODevice>
#include <QList>
#include <QString>
#include <QStringConverter>

#include <memory>
#include <optional>
#include <vector>

namespace tovrin3::station {

// The station options of tovrin3-decode; tovrin3-cw offers --log, --submit and --submit-dry-run.
struct StationOptions
{
    QCommandLineOption log;
    QCommandLineOption submit;
    QCommandLineOption dryRun;
    QCommandLineOption flush;
    QCommandLineOption start;

    StationOptions();
    QList<QCommandLineOption> all() const { return {log, submit, dryRun, flush, start}; }
};

// The UTC time a recording began, from an ISO 8601 time in its file name as ground-station
// networks write them: "satnogs_1234567_2026-12-06T18-57-44.ogg", "2026-12-06T18:57:44Z.wav",
// "20261206T185744Z.flac". None when the name holds no such time.
std::optional<QDateTime> timeInFileName(const QString &path);

// The UTC time a recording began from its own date tag (WAV, FLAC and Ogg files carry one), when
// the tag gives a date and a time ("2026-12-06T18:57:44Z", "2026-12-06 18:57:44"; a time without
// zone is UTC). None for a tag with a date alone, or none at all.
std::optional<QDateTime> recordingDateTag(const QString &path);

// What tovrin3-decode does with the station log: with --log the input's frames with a known time
// go to the log, with --submit they are also sent to the SiDS servers, --submit-dry-run prints
// the requests instead, --flush sends what is queued. The decoding itself is not changed.
class StationCommand
{
public:
    // The program's name starts each message. Only the options the parser offers are looked at.
    StationCommand(const QCommandLineParser &parser, const StationOptions &options, int inputCount,
                   const QString &program = QStringLiteral("tovrin3-decode"));
    ~StationCommand();
    StationCommand(const StationCommand &) = delete;
    StationCommand &operator=(const StationCommand &) = delete;

    // The usage error of the options, if any.
    std::optional<QString> usageError() const { return m_usageError; }
    // --flush: no input is read.
    bool flushOnly() const;

    // Reads the settings, opens the log and starts sending; the exit status when the program is
    // to end now: 2 for settings that are missing or wrong, each named on standard error.
    std::optional<int> begin();

    // A text input whose lines are logged as they pass (those with a time); unchanged without a
    // station option. The head is what was read of the input already, in the text's encoding.
    std::unique_ptr<QIODevice> watch(std::unique_ptr<QIODevice> input, const QByteArray &name,
                                     QByteArrayView head, QStringConverter::Encoding encoding);
    // The lines copied from a recording, logged at the recording's start plus their offset.
    void recordingCopied(const QByteArray &name, const std::vector<morse::CopiedLine> &lines);
    // A line copied from live audio whose first element was heard at `time`, logged at once.
    void lineHeard(const QByteArray &name, const morse::CopiedLine &line, const QDateTime &time);

    // Sends what is due, reports on standard error and returns the program's exit status: 1
    // when the log could not be written, else the decoding's.
    int finish(int decodingStatus);

    // Logs the receptions of one piece of input (a batch) and lets the sender know.
    void take(std::vector<Reception> &receptions);
    // A frame without a known time: decoded, never logged.
    void countUntimed();

private:
    void say(const QString &message) const;
    // The reception of a copied frame heard at `time`; a frame without a time is counted instead.
    void addCopied(std::vector<Reception> &receptions, const morse::CopiedLine &line,
                   const QDateTime &time, const QString &source);

    struct Run;
    std::unique_ptr<Run> m_run;
    std::optional<QString> m_usageError;
};

} // namespace tovrin3::station
