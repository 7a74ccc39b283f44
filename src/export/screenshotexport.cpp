// SPDX-License-Identifier: GPL-3.0-or-later
#include "screenshotexport.h"

#include "fileconversion.h"

#include <QStandardPaths>

namespace tovrin3 {

namespace {

constexpr QLatin1StringView ConverterName{"nconvert"};

} // namespace

QStringList converterArguments(const QColor &background)
{
    return {QStringLiteral("-out"),
            QStringLiteral("png"),
            QStringLiteral("-transpcolor"),
            QString::number(background.red()),
            QString::number(background.green()),
            QString::number(background.blue()),
            QStringLiteral("-colors"),
            QStringLiteral("256"),
            QStringLiteral("-quiet"),
            QStringLiteral("-D")};
}

QString bitmapFileName(const QString &ImageFolder, const QString &ScreenshotStamp)
{
    const QString name = ScreenshotStamp.sliced(ScreenshotStamp.lastIndexOf(u'\\') + 1);
    return ImageFolder + QLatin1StringView("tovrin3_") + name.left(name.lastIndexOf(u'.') + 2);
}

ScreenshotExport::ScreenshotExport(const Clock &clock, ProcessStarter &starter,
                                   QString programFolder, const QColor &background)
    : m_clock(clock), m_starter(starter), m_programFolder(std::move(programFolder)),
      m_background(background)
{
}

ExportResult ScreenshotExport::exportImage(const QImage &image, const QString &ImageFolder)
{
    if (m_ScreenshotStamp.isEmpty())
        m_ScreenshotStamp =
            m_clock.currentDate().toString(u"ddMMyyyy") + QLatin1StringView(".bmp)");
    ExportResult result;
    result.bitmapPath = bitmapFileName(ImageFolder, m_ScreenshotStamp);
    result.reason = writeImageAtomically(image, result.bitmapPath, "bmp");
    if (!result.reason.isEmpty()) {
        result.outcome = ExportResult::BitmapNotWritten;
        return result;
    }
    const QString program = converterProgram();
    if (program.isEmpty() || !m_starter.startDetached(program, converterArguments(m_background) +
                                                                   QStringList{result.bitmapPath}))
        result.outcome = ExportResult::ConverterNotStarted;
    return result;
}

QString ScreenshotExport::converterProgram() const
{
    const QString beside = QStandardPaths::findExecutable(ConverterName, {m_programFolder});
    return beside.isEmpty() ? QStandardPaths::findExecutable(ConverterName) : beside;
}

} // namespace tovrin3
