#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace tovrin3 {

// The settings of conf.ini. A setting the file does not make keeps the program's default.
struct Configuration
{
    QString imageFolder;                         // prefix of the screenshot file names
    std::optional<bool> screenshotButtonVisible; // none: the button keeps its own state
};

// Only this much of conf.ini is read, so a huge or binary file cannot hold up start-up; a line
// that runs past it is not applied.
inline constexpr qint64 MaxConfigurationBytes = 1024 * 1024;

// Applies the lines of a conf.ini, read as UTF-8 or, where that is not valid UTF-8, as Latin-1,
// in file order so later lines win:
// - a line ends at CR, CR+LF or a bare LF;
// - a line starting with "#" in its very first column is a comment; an empty line is skipped;
// - otherwise the text before the first "=" is the key, the rest the value, both with spaces
//   (not tabs) trimmed; a line without "=" is ignored;
// - IMAGE_PATH sets the image folder as written; SCREENSHOT shows the screenshot button for
//   YES and hides it for any other value. Keys and the SCREENSHOT value ignore case.
Configuration parseConfiguration(QByteArrayView fileContent, const QString &defaultImageFolder);

// The configuration for a program in programFolder: the image folder defaults to the program
// folder and a separator; conf.ini beside the program, if it is a file that can be read, changes
// it. A missing or unreadable file, or one that is no regular file, changes nothing and says
// nothing.
Configuration loadConfiguration(const QString &programFolder);

} // namespace tovrin3
