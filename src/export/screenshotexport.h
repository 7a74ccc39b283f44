// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock.h"
#include "processstarter.h"

#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>

namespace tovrin3 {

// The converter's fixed arguments: PNG out, the window's background colour made transparent, at
// most 256 colours, no console output, the bitmap deleted once converted. The bitmap path follows.
QStringList converterArguments(const QColor &background);

// ImageFolder + "tovrin3_" + the stamp up to its last point and one character after it, so a
// stamp "05122026.bmp)" names the file tovrin3_05122026.b. Nothing is put between folder and name.
QString bitmapFileName(const QString &ImageFolder, const QString &ScreenshotStamp);

struct ExportResult
{
    enum Outcome
    {
        Saved,
        ConverterNotStarted,
        BitmapNotWritten
    };
    Outcome outcome = Saved;
    QString bitmapPath;
    QString reason; // why the bitmap could not be written
};

// Writes the captured window as a bitmap and hands it to the converter "nconvert", looked up in
// the program folder first, then on the PATH, which makes the window's background colour
// transparent. The date stamp is taken on the first export and kept for the whole run, so every
// export of a run writes the same name.
class ScreenshotExport
{
public:
    ScreenshotExport(const Clock &clock, ProcessStarter &starter, QString programFolder,
                     const QColor &background);

    ExportResult exportImage(const QImage &image, const QString &ImageFolder);
    QString ScreenshotStamp() const { return m_ScreenshotStamp; }

private:
    QString converterProgram() const;

    const Clock &m_clock;
    ProcessStarter &m_starter;
    QString m_programFolder;
    QColor m_background;
    QString m_ScreenshotStamp;
};

} // namespace tovrin3
