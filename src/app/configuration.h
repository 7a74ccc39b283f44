// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "configurationfile.h"

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

// Applies the lines of a conf.ini, read as UTF-8 or, where that is not valid UTF-8, as Latin-1,
// in file order so later lines win:
// - a line ends at CR, CR+LF or a bare LF;
// - a line starting with "#" in its very first column is a comment; an empty line is skipped;
// - otherwise the text before the first "=" is the key, the rest the value, both with spaces
//   (not tabs) trimmed; a line without "=" is ignored;
// - IMAGE_PATH sets the image folder as written; SCREENSHOT shows the screenshot button for
//   YES and hides it for any other value. Keys and the SCREENSHOT value ignore case.
Configuration parseConfiguration(QByteArrayView fileContent, const QString &defaultImageFolder);

// The conf.ini that applies is findConfigurationFile()'s, shared with the command-line programs.

// The image folder, with a trailing separator, when no configuration file names one: the
// program folder if the program may write there, else the user's Pictures folder, since an
// installed copy lives in a folder only the system may change.
QString defaultImageFolder(const QString &programFolder);

// The configuration for a program in programFolder: the image folder defaults to
// defaultImageFolder(), which is created if missing when it stays in use; the file that
// findConfigurationFile() names, if it can be read, changes it. A missing or unreadable file
// changes nothing and says nothing.
Configuration loadConfiguration(const QString &programFolder);

} // namespace tovrin3
