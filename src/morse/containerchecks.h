// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QIODevice>
#include <QString>

#include <memory>

namespace tovrin3::morse {

// The checks of a recording's container that libsndfile does not make: damage it reads past
// without a word, and content it would hand to a decoder that writes to the terminal. Each
// returns the damage as one line for the user, empty when there is none.

// From libsndfile's notes on the header it read (SFC_GET_LOG_INFO): a declared length the file
// does not reach, in any format whose header says how long it is.
QString declaredBeyondEnd(const QString &log);

// A NIST SPHERE header's "sample_count" beyond the `frames` the file holds.
QString nistDamage(QIODevice &device, qint64 frames);

// False for content that begins like MPEG audio (an ID3v2 tag or a frame header) without being
// it: libsndfile hands such content to libmpg123, which writes notes about it to standard
// error, the user's terminal.
bool passesMpegCheck(QIODevice &device);

// What a walk over an Ogg file's pages finds.
struct OggWalk
{
    QString damage;         // empty when every page is whole and every stream ends
    qint64 wholeEnd = 0;    // the end of the last whole page before any damage
    qint64 lastPageAt = -1; // where that page starts
    bool endsOpen = false;  // a stream lacks its end-of-stream page
};

// Walks every page of an Ogg file (RFC 3533): each whole, its checksum right, no page missing
// from a stream's sequence, every stream ended by its end-of-stream page. Data after every stream
// has ended (a tag some tools append) is no damage.
OggWalk walkOggPages(QIODevice &device);

// The whole pages of an Ogg file that ends open, the last of them marked as the stream's end,
// so that libsndfile gives the samples the file still holds (it gives none of a stream without
// its end); null when the walk found the ends whole.
std::unique_ptr<QIODevice> closedOggPages(QIODevice &device, const OggWalk &walk);

} // namespace tovrin3::morse
