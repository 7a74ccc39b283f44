// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

QT_BEGIN_NAMESPACE
class QLabel;
QT_END_NAMESPACE

namespace tovrin3 {

// The Info window: title, version and release date, the author's callsign, contacts, a picture
// of the satellite and the warranty disclaimer. Read-only; it closes only through its close box
// and is discarded when closed.
class Form2 : public QWidget
{
    Q_OBJECT

public:
    explicit Form2(QWidget *parent = nullptr);

    void Form_Load();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLabel *addLabel(QWidget *parent, const QString &name, const QRect &geometry,
                     const QString &text = {});
    void createTitle();
    void createVersionFrame();
    void createContacts();
    void createPicture();
    void createDisclaimer();

    QLabel *m_versionLine = nullptr; // Label2
    QLabel *m_disclaimer = nullptr;  // Label11
};

} // namespace tovrin3
