// SPDX-License-Identifier: GPL-3.0-or-later
#include "infodialog.h"

#include "appearance.h"
#include "framebox.h"
#include "twips.h"

#include <QLabel>
#include <QPixmap>

#include <algorithm>

namespace tovrin3 {

namespace {

const QString Version = QStringLiteral("Ver. 0.3");
const QString ReleaseDate = QStringLiteral("21 January 2017");

const QString Disclaimer = QStringLiteral(
    "This program is provided as is, without warranty of any kind, either expressed or implied. "
    "You use it at your own risk: the author is not liable for any damage or loss that results "
    "from its use. Decoded values are for information only and may be wrong.");

constexpr int ClientWidthTwips = 9900;
constexpr int ClientHeightTwips = 4830;

QColor linkBlue()
{
    return {0x00, 0x00, 0xFF};
}

QColor disclaimerGrey()
{
    return {0x80, 0x80, 0x80};
}

void setTextColour(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

} // namespace

Form2::Form2(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form2"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral(" Info"));
    setWindowIcon(applicationIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(pixelsFromTwips(ClientWidthTwips), pixelsFromTwips(ClientHeightTwips));
    setFont(dialogFont());
    setPalette(windowPalette(Qt::white));
    setAutoFillBackground(true);

    createTitle();
    createVersionFrame();
    createContacts();
    createPicture();
    createDisclaimer();

    Form_Load();
}

void Form2::Form_Load()
{
    m_versionLine->setText(QStringLiteral("Version ") + Version + QStringLiteral("    (") +
                           ReleaseDate + QStringLiteral(")"));
    m_disclaimer->setText(Disclaimer);
}

void Form2::showEvent(QShowEvent *event)
{
    advertiseFixedSize(this);
    QWidget::showEvent(event);
}

QLabel *Form2::addLabel(QWidget *parent, const QString &name, const QRect &geometry,
                        const QString &text)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(geometry);
    setBackground(label, Qt::white);
    return label;
}

void Form2::createTitle()
{
    QLabel *title = addLabel(this, QStringLiteral("Label1"), rectFromTwips(120, 240, 6015, 375),
                             QStringLiteral("KAMO TOVRIN-III CW  Telemetry Decoder"));
    QFont titleFont = dialogFont();
    titleFont.setPointSizeF(12.0);
    titleFont.setBold(true);
    title->setFont(titleFont);

    addLabel(this, QStringLiteral("Label3"), rectFromTwips(120, 720, 3015, 255),
             QStringLiteral("Decoder software by NOCALL"));

    QLabel *callsign = addLabel(this, QStringLiteral("Label8"), rectFromTwips(120, 1080, 735, 255),
                                QStringLiteral("NOCALL"));
    QFont callsignFont = dialogFont();
    callsignFont.setBold(true);
    callsign->setFont(callsignFont);
    setTextColour(callsign, Qt::black);
}

void Form2::createVersionFrame()
{
    auto *frame = new FrameBox(this);
    frame->setObjectName(QStringLiteral("Frame1"));
    frame->setAccessibleName(QStringLiteral("Version"));
    frame->setGeometry(rectFromTwips(120, 1440, 3495, 615));
    setBackground(frame, Qt::white);

    m_versionLine = addLabel(frame, QStringLiteral("Label2"), rectFromTwips(120, 240, 3255, 255));
    m_versionLine->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_versionLine->setWordWrap(true);
}

// The contacts look like links but do nothing when clicked. A contact is never cut short: its
// label grows to the right, over free white space, where the text needs more room.
void Form2::createContacts()
{
    addLabel(this, QStringLiteral("Label6"), rectFromTwips(360, 2280, 855, 255),
             QStringLiteral("Homepage:"));
    addLabel(this, QStringLiteral("Label7"), rectFromTwips(360, 2640, 615, 255),
             QStringLiteral("e-mail:"));

    QFont linkFont = dialogFont();
    linkFont.setUnderline(true);
    const auto addContact = [&](const QString &name, const QRect &geometry, const QString &text) {
        QLabel *contact = addLabel(this, name, geometry, text);
        contact->setFont(linkFont);
        setTextColour(contact, linkBlue());
        contact->resize(std::max(contact->width(), contact->sizeHint().width()), contact->height());
    };
    addContact(QStringLiteral("Label4"), rectFromTwips(1320, 2280, 1815, 255),
               QStringLiteral("https://example.org/tovrin3"));
    addContact(QStringLiteral("Label5"), rectFromTwips(1320, 2640, 1815, 255),
               QStringLiteral("nocall@example.org"));
}

void Form2::createPicture()
{
    QLabel *picture =
        addLabel(this, QStringLiteral("Picture1"), rectFromTwips(5160, 0, 4515, 3570));
    const QPixmap satellite(QStringLiteral(":/satellite.jpg"));
    picture->setPixmap(satellite);
    picture->setAccessibleName(QStringLiteral("Picture of the satellite"));
    if (!satellite.isNull())
        picture->resize(satellite.size());
}

void Form2::createDisclaimer()
{
    m_disclaimer = addLabel(this, QStringLiteral("Label11"), rectFromTwips(120, 3600, 9615, 1095));
    m_disclaimer->setFont(sansFont(QStringLiteral("Arial"), 8.25));
    m_disclaimer->setWordWrap(true);
    setTextColour(m_disclaimer, disclaimerGrey());
}

} // namespace tovrin3
