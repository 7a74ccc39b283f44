// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QGroupBox>

namespace tovrin3 {

// A frame in the classic look: an etched border whose top line runs through the middle of the
// caption, the caption on the frame's own background and nothing else painted inside, so the
// window's background shows through. Without a caption the border keeps the same place.
class FrameBox : public QGroupBox
{
    Q_OBJECT

public:
    explicit FrameBox(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace tovrin3
