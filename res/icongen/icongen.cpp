// Draws the updater's pictures: toolbar buttons (33 x 33), menu-item bitmaps (13 x 11 and
// 10 x 13) and the application icon. The PNGs it writes are committed under res/icons; run it
// again (target orvane-icongen) after changing a drawing.
//
// Usage: orvane-icongen OUTPUT_FOLDER
#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <functional>

namespace {

const QColor kInk(0x20, 0x30, 0x50);
const QColor kGreen(0x2e, 0x9e, 0x3e);
const QColor kRed(0xc8, 0x32, 0x2a);
const QColor kBlue(0x2a, 0x6a, 0xc8);
const QColor kMetal(0x9a, 0xa4, 0xb0);

bool Draw(const QString& file, QSize size, const std::function<void(QPainter&)>& paint) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    paint(p);
    p.end();
    return image.save(file);
}

// A plug and a socket, joined or apart: the link is made or broken.
void Plug(QPainter& p, double scale, bool joined) {
    p.scale(scale, scale);
    const double gap = joined ? 0 : 5;
    p.setPen(QPen(kInk, 1.2));
    // cable on the left, plug body with two pins
    p.setBrush(kMetal);
    p.drawRoundedRect(QRectF(5 - gap / 2, 11, 9, 11), 2, 2);
    p.drawLine(QPointF(0, 16.5), QPointF(5 - gap / 2, 16.5));
    p.setBrush(kInk);
    p.drawRect(QRectF(14 - gap / 2, 13, 4, 2));
    p.drawRect(QRectF(14 - gap / 2, 18, 4, 2));
    // socket on the right with its cable
    p.setBrush(joined ? kGreen : kRed);
    p.drawRoundedRect(QRectF(18 + gap / 2, 10, 9, 13), 2, 2);
    p.drawLine(QPointF(27 + gap / 2, 16.5), QPointF(33, 16.5));
}

// A chip with an arrow pointing into it: firmware going into the receiver.
void Update(QPainter& p) {
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(kMetal);
    p.drawRect(QRectF(8, 18, 17, 11));
    for (int i = 0; i < 4; ++i) {
        p.drawLine(QPointF(10 + i * 4, 29), QPointF(10 + i * 4, 32));
        p.drawLine(QPointF(10 + i * 4, 15), QPointF(10 + i * 4, 18));
    }
    QPainterPath arrow;
    arrow.moveTo(13, 1);
    arrow.lineTo(20, 1);
    arrow.lineTo(20, 8);
    arrow.lineTo(25, 8);
    arrow.lineTo(16.5, 16);
    arrow.lineTo(8, 8);
    arrow.lineTo(13, 8);
    arrow.closeSubpath();
    p.setBrush(kBlue);
    p.drawPath(arrow);
}

void About(QPainter& p) {
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(kBlue);
    p.drawEllipse(QRectF(4, 4, 25, 25));
    p.setPen(Qt::white);
    QFont font;
    font.setPixelSize(19);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QRectF(4, 4, 25, 25), Qt::AlignCenter, QStringLiteral("?"));
}

// The application: a receiver with a satellite dish and an arrow.
void AppIcon(QPainter& p, int size) {
    p.scale(size / 64.0, size / 64.0);
    p.setPen(QPen(kInk, 2));
    p.setBrush(QColor(0xe8, 0xee, 0xf6));
    p.drawRoundedRect(QRectF(4, 26, 56, 32), 6, 6);
    p.setBrush(kGreen);
    p.drawEllipse(QRectF(10, 36, 8, 8));
    p.setBrush(kMetal);
    p.drawRect(QRectF(24, 36, 30, 12));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(8, 2, 26, 26), 200 * 16, 140 * 16);
    p.drawLine(QPointF(21, 15), QPointF(21, 26));
    QPainterPath arrow;
    arrow.moveTo(44, 2);
    arrow.lineTo(52, 2);
    arrow.lineTo(52, 12);
    arrow.lineTo(58, 12);
    arrow.lineTo(48, 23);
    arrow.lineTo(38, 12);
    arrow.lineTo(44, 12);
    arrow.closeSubpath();
    p.setBrush(kBlue);
    p.drawPath(arrow);
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: orvane-icongen OUTPUT_FOLDER\n", stderr);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    bool ok = true;
    ok &= Draw(out.filePath("toolbar_link.png"), {33, 33}, [](QPainter& p) { Plug(p, 1, true); });
    ok &= Draw(out.filePath("toolbar_break.png"), {33, 33}, [](QPainter& p) { Plug(p, 1, false); });
    ok &= Draw(out.filePath("toolbar_update.png"), {33, 33}, Update);
    ok &= Draw(out.filePath("toolbar_about.png"), {33, 33}, About);
    ok &= Draw(out.filePath("menu_link.png"), {13, 11},
               [](QPainter& p) { Plug(p, 13.0 / 33.0, true); });
    ok &= Draw(out.filePath("menu_break.png"), {13, 11},
               [](QPainter& p) { Plug(p, 13.0 / 33.0, false); });
    ok &= Draw(out.filePath("menu_165.png"), {10, 13}, [](QPainter& p) {
        p.setPen(QPen(kInk, 1));
        p.setBrush(kMetal);
        p.drawRect(QRectF(1.5, 1.5, 7, 10));
    });
    for (int size : {16, 32, 48, 64, 128})
        ok &= Draw(out.filePath(QStringLiteral("orvane-update-%1.png").arg(size)), {size, size},
                   [size](QPainter& p) { AppIcon(p, size); });
    return ok ? 0 : 1;
}
