// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the image assets: the satellite picture and the icon in three sizes. Run by hand when the
// artwork changes; the pictures it writes are committed.

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <QTransform>
#include <QtDebug>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace tovrin3 {
namespace {

// Pictures are painted this many times larger and scaled down, which smooths thin lines.
constexpr int supersampling = 4;

struct Vec3
{
    double x = 0;
    double y = 0;
    double z = 0;
};

Vec3 operator+(Vec3 a, Vec3 b)
{
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec3 operator*(Vec3 a, double k)
{
    return {a.x * k, a.y * k, a.z * k};
}
double dot(Vec3 a, Vec3 b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec3 normalised(Vec3 a)
{
    return a * (1.0 / std::sqrt(dot(a, a)));
}

// A flat rectangle of the model. Local coordinates (s, t) in millimetres map to
// origin + u * s + v * t, so artwork drawn in a face's own coordinates lands on it.
struct Face
{
    Vec3 origin;
    Vec3 u;
    Vec3 v;
    Vec3 normal;
    double width = 0;
    double height = 0;
};

struct Box
{
    Vec3 min;
    Vec3 max;
};

enum class Side
{
    Front,
    Back,
    Right,
    Left,
    Top,
    Bottom
};

Face boxFace(const Box &box, Side side)
{
    const Vec3 &a = box.min;
    const Vec3 &b = box.max;
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double dz = b.z - a.z;
    switch (side) {
    case Side::Front:
        return {{a.x, b.y, b.z}, {1, 0, 0}, {0, -1, 0}, {0, 0, 1}, dx, dy};
    case Side::Back:
        return {{b.x, b.y, a.z}, {-1, 0, 0}, {0, -1, 0}, {0, 0, -1}, dx, dy};
    case Side::Right:
        return {{b.x, b.y, b.z}, {0, 0, -1}, {0, -1, 0}, {1, 0, 0}, dz, dy};
    case Side::Left:
        return {{a.x, b.y, a.z}, {0, 0, 1}, {0, -1, 0}, {-1, 0, 0}, dz, dy};
    case Side::Top:
        return {{a.x, b.y, a.z}, {1, 0, 0}, {0, 0, 1}, {0, 1, 0}, dx, dz};
    case Side::Bottom:
        return {{a.x, a.y, b.z}, {1, 0, 0}, {0, 0, -1}, {0, -1, 0}, dx, dz};
    }
    return {};
}

constexpr Side allSides[] = {Side::Front, Side::Back, Side::Right,
                             Side::Left,  Side::Top,  Side::Bottom};

// Orthographic view from the front right, slightly from above.
class Camera
{
public:
    Camera(double yawDegrees, double pitchDegrees, double pixelsPerMm, QPointF centre)
        : m_cosYaw(std::cos(yawDegrees * std::numbers::pi / 180)),
          m_sinYaw(std::sin(yawDegrees * std::numbers::pi / 180)),
          m_cosPitch(std::cos(pitchDegrees * std::numbers::pi / 180)),
          m_sinPitch(std::sin(pitchDegrees * std::numbers::pi / 180)), m_scale(pixelsPerMm),
          m_centre(centre)
    {
    }

    Vec3 toView(Vec3 p) const
    {
        const double x1 = p.x * m_cosYaw - p.z * m_sinYaw;
        const double z1 = p.x * m_sinYaw + p.z * m_cosYaw;
        return {x1, p.y * m_cosPitch - z1 * m_sinPitch, p.y * m_sinPitch + z1 * m_cosPitch};
    }

    QPointF project(Vec3 p) const
    {
        const Vec3 view = toView(p);
        return m_centre + QPointF(view.x * m_scale, -view.y * m_scale);
    }

    double depth(Vec3 p) const { return toView(p).z; }

    bool sees(const Face &face) const { return toView(face.normal).z > 1e-9; }

    QTransform transformFor(const Face &face) const
    {
        const Vec3 u = toView(face.u);
        const Vec3 v = toView(face.v);
        const QPointF origin = project(face.origin);
        return {u.x * m_scale,  -u.y * m_scale, v.x * m_scale,
                -v.y * m_scale, origin.x(),     origin.y()};
    }

    // Soft key light from the upper left front, plus ambient so no face goes black.
    double brightness(Vec3 normal) const
    {
        static const Vec3 light = normalised({-0.45, 0.75, 0.55});
        return 0.62 + 0.48 * std::max(0.0, dot(toView(normal), light));
    }

private:
    double m_cosYaw;
    double m_sinYaw;
    double m_cosPitch;
    double m_sinPitch;
    double m_scale;
    QPointF m_centre;
};

QColor shaded(const QColor &base, double brightness)
{
    const auto channel = [brightness](int value) {
        return std::clamp(static_cast<int>(std::lround(value * brightness)), 0, 255);
    };
    return QColor(channel(base.red()), channel(base.green()), channel(base.blue()), base.alpha());
}

QPen hairline(const QColor &colour, double pixels)
{
    QPen pen(colour, pixels * supersampling);
    pen.setCosmetic(true);
    pen.setJoinStyle(Qt::MiterJoin);
    return pen;
}

const QColor aluminium(184, 189, 198);
const QColor railMetal(214, 218, 224);
const QColor cellBlue(22, 52, 128);
const QColor cellGap(200, 206, 216);

// Brushed metal: a little lighter at the top edge of the face than at the bottom.
void fillMetal(QPainter &painter, const QRectF &area, const QColor &base, double brightness)
{
    QLinearGradient gradient(area.topLeft(), area.bottomRight());
    gradient.setColorAt(0, shaded(base, brightness * 1.08));
    gradient.setColorAt(1, shaded(base, brightness * 0.90));
    painter.fillRect(area, gradient);
}

// One solar cell with its cropped corners, a sky reflection and two bus bars along its length.
void drawCell(QPainter &painter, const QRectF &cell, double brightness)
{
    const double cut = std::min(cell.width(), cell.height()) * 0.12;
    const QPolygonF outline{
        {cell.left() + cut, cell.top()},     {cell.right() - cut, cell.top()},
        {cell.right(), cell.top() + cut},    {cell.right(), cell.bottom() - cut},
        {cell.right() - cut, cell.bottom()}, {cell.left() + cut, cell.bottom()},
        {cell.left(), cell.bottom() - cut},  {cell.left(), cell.top() + cut}};
    QLinearGradient gradient(cell.topLeft(), cell.bottomRight());
    gradient.setColorAt(0, shaded(cellBlue, brightness * 1.45));
    gradient.setColorAt(0.55, shaded(cellBlue, brightness));
    gradient.setColorAt(1, shaded(cellBlue, brightness * 0.7));
    painter.setPen(hairline(QColor(8, 20, 60, 160), 0.4));
    painter.setBrush(gradient);
    painter.drawPolygon(outline);

    painter.setPen(hairline(QColor(210, 220, 240, 110), 0.35));
    const bool upright = cell.height() > cell.width();
    for (const double fraction : {1.0 / 3, 2.0 / 3}) {
        if (upright) {
            const double x = cell.left() + cell.width() * fraction;
            painter.drawLine(QPointF(x, cell.top() + 1), QPointF(x, cell.bottom() - 1));
        } else {
            const double y = cell.top() + cell.height() * fraction;
            painter.drawLine(QPointF(cell.left() + 1, y), QPointF(cell.right() - 1, y));
        }
    }
}

void drawPlainFace(QPainter &painter, const Camera &camera, const Face &face, const QColor &base)
{
    painter.setTransform(camera.transformFor(face));
    painter.setPen(hairline(QColor(60, 66, 76, 150), 0.4));
    painter.setBrush(shaded(base, camera.brightness(face.normal)));
    painter.drawRect(QRectF(0, 0, face.width, face.height));
}

void drawBox(QPainter &painter, const Camera &camera, const Box &box, const QColor &base)
{
    for (const Side side : allSides) {
        const Face face = boxFace(box, side);
        if (camera.sees(face))
            drawPlainFace(painter, camera, face, base);
    }
}

// Boxes drawn farthest first; fine for small parts that do not interpenetrate.
void drawBoxesByDepth(QPainter &painter, const Camera &camera, std::vector<Box> boxes,
                      const QColor &base)
{
    const auto centreDepth = [&camera](const Box &box) {
        return camera.depth((box.min + box.max) * 0.5);
    };
    std::sort(boxes.begin(), boxes.end(),
              [&](const Box &a, const Box &b) { return centreDepth(a) < centreDepth(b); });
    for (const Box &box : boxes)
        drawBox(painter, camera, box, base);
}

// The model: a 1U body of 100 mm with corner rails, two deployed wings of two panels each,
// and four whip antennas.
constexpr double bodyHalf = 50;
constexpr double railWidth = 8.5;
constexpr double footHeight = 6;
constexpr double panelLength = 100;
constexpr double panelHalfHeight = 42.5;
constexpr double panelHalfThickness = 1.6;
constexpr double yokeLength = 16;
constexpr double hingeGap = 4;
constexpr double antennaLength = 118;

// Side faces carry two upright cells between the rails.
void drawBodySide(QPainter &painter, const Camera &camera, const Face &face)
{
    const double light = camera.brightness(face.normal);
    painter.setTransform(camera.transformFor(face));
    fillMetal(painter, QRectF(0, 0, face.width, face.height), aluminium, light * 0.92);
    for (const double left : {0.0, face.width - railWidth}) {
        const QRectF rail(left, 0, railWidth, face.height);
        fillMetal(painter, rail, railMetal, light);
        painter.setPen(hairline(QColor(70, 76, 88, 170), 0.5));
        painter.drawLine(QPointF(left, 0), QPointF(left, face.height));
        painter.drawLine(QPointF(left + railWidth, 0), QPointF(left + railWidth, face.height));
    }
    const double margin = 3;
    const double cellWidth = (face.width - 2 * railWidth - 3 * margin) / 2;
    for (const int column : {0, 1}) {
        const double left = railWidth + margin + column * (cellWidth + margin);
        drawCell(painter, QRectF(left, 8, cellWidth, face.height - 16), light);
    }
    painter.setPen(hairline(QColor(60, 66, 76, 200), 0.6));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(0, 0, face.width, face.height));
}

// The top carries the GPS patch antenna and the rail ends.
void drawBodyTop(QPainter &painter, const Camera &camera, const Face &face)
{
    const double light = camera.brightness(face.normal);
    painter.setTransform(camera.transformFor(face));
    fillMetal(painter, QRectF(0, 0, face.width, face.height), aluminium, light * 0.95);

    const QPointF centre(face.width / 2, face.height / 2);
    QRectF ceramic(0, 0, 40, 40);
    ceramic.moveCenter(centre);
    painter.setPen(hairline(QColor(90, 84, 70, 200), 0.5));
    painter.setBrush(shaded(QColor(236, 230, 214), light));
    painter.drawRect(ceramic);

    QRectF patch(0, 0, 27, 27);
    patch.moveCenter(centre);
    QLinearGradient gold(patch.topLeft(), patch.bottomRight());
    gold.setColorAt(0, shaded(QColor(240, 200, 100), light));
    gold.setColorAt(1, shaded(QColor(184, 132, 40), light));
    painter.setPen(hairline(QColor(120, 84, 20, 200), 0.4));
    painter.setBrush(gold);
    painter.drawRect(patch);
    painter.setBrush(shaded(QColor(150, 100, 30), light));
    painter.drawEllipse(centre + QPointF(5, -5), 2.2, 2.2);

    painter.setPen(hairline(QColor(60, 66, 76, 200), 0.6));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(0, 0, face.width, face.height));
}

std::vector<Box> railFeet(double bottom, double top)
{
    std::vector<Box> feet;
    for (const double x : {-bodyHalf, bodyHalf - railWidth}) {
        for (const double z : {-bodyHalf, bodyHalf - railWidth})
            feet.push_back({{x, bottom, z}, {x + railWidth, top, z + railWidth}});
    }
    return feet;
}

void drawBody(QPainter &painter, const Camera &camera)
{
    const Box body{{-bodyHalf, -bodyHalf, -bodyHalf}, {bodyHalf, bodyHalf, bodyHalf}};
    for (const Side side : allSides) {
        const Face face = boxFace(body, side);
        if (!camera.sees(face))
            continue;
        if (side == Side::Top)
            drawBodyTop(painter, camera, face);
        else
            drawBodySide(painter, camera, face);
    }
}

// A panel of the wing seen on its cell side: metal frame, cells on a light substrate whose
// gaps read as the grid, and a soft sheen across it all.
void drawPanelFront(QPainter &painter, const Camera &camera, const Face &face)
{
    const double light = camera.brightness(face.normal);
    painter.setTransform(camera.transformFor(face));
    const QRectF whole(0, 0, face.width, face.height);
    fillMetal(painter, whole, QColor(196, 201, 210), light);

    const double frame = 3.2;
    const QRectF inner = whole.adjusted(frame, frame, -frame, -frame);
    painter.fillRect(inner, shaded(cellGap, light));
    constexpr int columns = 3;
    constexpr int rows = 2;
    const double gap = 1.6;
    const double cellWidth = (inner.width() - (columns + 1) * gap) / columns;
    const double cellHeight = (inner.height() - (rows + 1) * gap) / rows;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const QRectF cell(inner.left() + gap + column * (cellWidth + gap),
                              inner.top() + gap + row * (cellHeight + gap), cellWidth, cellHeight);
            drawCell(painter, cell, light);
        }
    }

    QLinearGradient sheen(whole.topLeft(), whole.bottomRight());
    sheen.setColorAt(0, QColor(255, 255, 255, 0));
    sheen.setColorAt(0.38, QColor(255, 255, 255, 0));
    sheen.setColorAt(0.5, QColor(255, 255, 255, 46));
    sheen.setColorAt(0.62, QColor(255, 255, 255, 0));
    sheen.setColorAt(1, QColor(255, 255, 255, 0));
    painter.fillRect(inner, sheen);

    painter.setPen(hairline(QColor(70, 76, 88, 220), 0.6));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(whole);
    painter.setPen(hairline(QColor(70, 76, 88, 140), 0.4));
    painter.drawRect(inner);
}

void drawPanel(QPainter &painter, const Camera &camera, const Box &panel)
{
    for (const Side side : allSides) {
        const Face face = boxFace(panel, side);
        if (!camera.sees(face))
            continue;
        if (side == Side::Front)
            drawPanelFront(painter, camera, face);
        else
            drawPlainFace(painter, camera, face, QColor(150, 156, 166));
    }
}

// One wing on the side given by direction (+1 right, -1 left): yoke struts from the body,
// two panels joined by hinges.
void drawWing(QPainter &painter, const Camera &camera, double direction)
{
    const auto spanX = [direction](double from, double to) {
        const double a = direction * (bodyHalf + from);
        const double b = direction * (bodyHalf + to);
        return std::pair{std::min(a, b), std::max(a, b)};
    };
    std::vector<Box> fittings;
    for (const double y : {-26.0, 22.0}) {
        const auto [x0, x1] = spanX(0, yokeLength + 1);
        fittings.push_back({{x0, y, -2}, {x1, y + 4, 2}});
    }
    const double secondPanel = yokeLength + panelLength + hingeGap;
    for (const double y : {-32.0, 24.0}) {
        const auto [x0, x1] = spanX(yokeLength + panelLength - 2, secondPanel + 2);
        fittings.push_back({{x0, y, -2.4}, {x1, y + 8, 2.4}});
    }
    drawBoxesByDepth(painter, camera, fittings, QColor(120, 126, 136));

    for (const double start : {yokeLength, secondPanel}) {
        const auto [x0, x1] = spanX(start, start + panelLength);
        drawPanel(painter, camera,
                  {{x0, -panelHalfHeight, -panelHalfThickness},
                   {x1, panelHalfHeight, panelHalfThickness}});
    }
}

struct Antenna
{
    Vec3 base;
    Vec3 direction;
};

void drawAntenna(QPainter &painter, const Camera &camera, const Antenna &antenna)
{
    painter.setTransform(QTransform());
    const QPointF base = camera.project(antenna.base);
    const QPointF tip =
        camera.project(antenna.base + normalised(antenna.direction) * antennaLength);
    QPen wire(QColor(62, 68, 80), 1.15 * supersampling, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(wire);
    painter.drawLine(base, tip);
    wire.setColor(QColor(190, 196, 206));
    wire.setWidthF(0.35 * supersampling);
    painter.setPen(wire);
    painter.drawLine(base, tip);

    const double mount = 4;
    const Vec3 corner = antenna.base + Vec3{-mount, antenna.direction.y > 0 ? 0.0 : -3.0, -mount};
    drawBox(painter, camera, {corner, corner + Vec3{2 * mount, 3, 2 * mount}}, QColor(70, 74, 84));
}

QImage drawSatellite()
{
    const QSize size(301, 238);
    QImage canvas(size * supersampling, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    const Camera camera(28, 20, 0.57 * supersampling,
                        QPointF(size.width() / 2.0, size.height() / 2.0 - 8) * supersampling);

    const double inset = bodyHalf - 13;
    const Antenna upFrontLeft{{-inset, bodyHalf, inset}, {-0.5, 1, 0.45}};
    const Antenna upBackRight{{inset, bodyHalf, -inset}, {0.5, 1, -0.45}};
    const Antenna downFrontRight{{inset, -bodyHalf, inset}, {0.5, -1, 0.45}};
    const Antenna downBackLeft{{-inset, -bodyHalf, -inset}, {-0.5, -1, -0.45}};

    drawWing(painter, camera, -1);
    drawAntenna(painter, camera, downBackLeft);
    drawAntenna(painter, camera, downFrontRight);
    drawBoxesByDepth(painter, camera, railFeet(-bodyHalf - footHeight, -bodyHalf), railMetal);
    drawBody(painter, camera);
    drawBoxesByDepth(painter, camera, railFeet(bodyHalf, bodyHalf + footHeight), railMetal);
    drawAntenna(painter, camera, upBackRight);
    drawAntenna(painter, camera, upFrontLeft);
    drawWing(painter, camera, 1);
    painter.end();
    return canvas.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The icon: a white satellite sending amber waves on a deep blue tile with rounded, transparent
// corners, drawn on a 64-unit grid scaled to side pixels. Shapes are bold so the motif survives
// at 16 pixels.
QImage drawIcon(int side)
{
    constexpr int grid = 64;
    QImage canvas(side * supersampling, side * supersampling, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(supersampling * side / double(grid), supersampling * side / double(grid));

    QLinearGradient tile(0, 0, 0, grid);
    tile.setColorAt(0, QColor(34, 78, 168));
    tile.setColorAt(1, QColor(14, 38, 98));
    painter.setPen(Qt::NoPen);
    painter.setBrush(tile);
    painter.drawRoundedRect(QRectF(0, 0, grid, grid), 12, 12);

    const QPointF satellite(24, 24);
    QPen wave(QColor(255, 184, 48), 4.2, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(wave);
    painter.setBrush(Qt::NoBrush);
    for (const double radius : {17.0, 27.0}) {
        const QRectF arc(satellite.x() - radius, satellite.y() - radius, 2 * radius, 2 * radius);
        painter.drawArc(arc, -5 * 16, -80 * 16);
    }

    painter.translate(satellite);
    painter.rotate(-35);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(236, 240, 248));
    painter.drawRect(QRectF(-12.5, -1.2, 25, 2.4));
    painter.setBrush(QColor(150, 196, 255));
    for (const double left : {-21.0, 9.0}) {
        painter.drawRect(QRectF(left, -5.5, 12, 11));
    }
    painter.setPen(QPen(QColor(34, 78, 168), 1.0));
    for (const double x : {-15.0, 15.0})
        painter.drawLine(QPointF(x, -5.5), QPointF(x, 5.5));
    painter.setPen(QPen(QColor(20, 40, 90), 1.2));
    painter.setBrush(QColor(250, 250, 252));
    painter.drawRect(QRectF(-6, -6, 12, 12));
    painter.end();
    return canvas.scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32);
}

bool save(const QImage &image, const QString &path, const char *format, int quality)
{
    if (image.save(path, format, quality))
        return true;
    qCritical().noquote() << "cannot write" << path;
    return false;
}

} // namespace
} // namespace tovrin3

int main(int argc, char *argv[])
{
    // The application object only lets Qt find its JPEG writer plugin; nothing is shown.
    const QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QDir output(arguments.size() > 1 ? arguments.at(1) : QStringLiteral(ASSETS_SOURCE_DIR));
    if (!output.exists()) {
        qCritical().noquote() << "no such folder:" << output.path();
        return 1;
    }
    bool written =
        tovrin3::save(tovrin3::drawSatellite(), output.filePath("satellite.jpg"), "JPG", 90) &&
        tovrin3::save(tovrin3::drawIcon(64), output.filePath("tovrin3.png"), "PNG", -1);
    // The larger sizes are for the desktop's menus and software centres.
    for (const int side : {128, 256})
        written =
            written &&
            tovrin3::save(tovrin3::drawIcon(side),
                          output.filePath(QStringLiteral("tovrin3-%1.png").arg(side)), "PNG", -1);
    return written ? 0 : 1;
}
