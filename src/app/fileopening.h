// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

QT_BEGIN_NAMESPACE
class QFile;
class QProgressDialog;
template<typename T> class QFutureWatcher;
QT_END_NAMESPACE

namespace tovrin3 {

namespace morse {
struct AudioFileCopy;
struct CopiedLine;
} // namespace morse

// A beacon text file as the window takes it: UTF-8 (a byte order mark is dropped), every line
// end (CR+LF, LF, CR) as LF. Empty with `error` set to the reason when the file cannot be read
// or is not such a text.
std::optional<QString> readBeaconText(const QString &path, QString &error);
// The same for a file already open, read from where it stands.
std::optional<QString> readBeaconText(QFile &file, QString &error);

// Brings beacon texts and recordings into the window, one file after the other, each as one
// paste: a text as it is, a recording as the lines the demodulator copies from it. A recording is
// copied on a worker thread behind a progress dialog, which is gone before anything else is said;
// a cancelled copy pastes nothing. A file that cannot be read, and a recording without Morse
// code, is reported by name (with the reason) and pastes nothing, except that a damaged recording
// (cut short) pastes the lines copied before the damage; files opened together are reported one
// message after the other.
class FileOpener : public QObject
{
    Q_OBJECT

public:
    using Paste = std::function<void(const QString &text)>;

    // The dialogs the user answers; tests put their own in.
    struct Dialogs
    {
        std::function<QStringList()> chooseFiles;
        std::function<void(const QString &message)> reportFailure;
    };

    FileOpener(QWidget *window, Paste paste);
    ~FileOpener() override;

    void setDialogs(Dialogs dialogs);

    // Lets the user choose files and opens them.
    void chooseAndOpen();
    void openFiles(const QStringList &paths);
    // The same for files named by the bytes of their names, as the command line gives them: a
    // name need not be text.
    void openLocalFiles(const QByteArrayList &localPaths);
    bool isBusy() const;

    // Local files dropped on these widgets are opened as above instead of inserted as text.
    void acceptDropsOn(const QList<QWidget *> &widgets);

signals:
    // Every file handed over has been opened, given up or cancelled.
    void allOpened();
    // The lines copied from a recording, as the demodulator timed them, before they are pasted.
    void recordingCopied(const QString &path, const std::vector<tovrin3::morse::CopiedLine> &lines);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void openNext();
    void openText(QFile &file, const QByteArray &path);
    void startRecording(const QByteArray &path);
    void finishRecording();
    void closeProgress();

    QWidget *m_window;
    Paste m_paste;
    Dialogs m_dialogs;
    QByteArrayList m_pending;
    QByteArray m_recordingPath;
    QFutureWatcher<morse::AudioFileCopy> *m_recording = nullptr;
    QPointer<QProgressDialog> m_progress;
};

} // namespace tovrin3
