#include "panel/ui/Pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace {

QPixmap blank(QSize size, qreal dpr) {
    QPixmap pm(size * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    return pm;
}

// A small green board with one chip and a few traces.
void paintBoard(QPainter& p, QRectF r) {
    p.setPen(QPen(QColor(0x0b, 0x3d, 0x1f), 1));
    p.setBrush(QColor(0x1f, 0x7a, 0x45));
    p.drawRoundedRect(r, 3, 3);
    p.setPen(QPen(QColor(0xd9, 0xb3, 0x4a), 1.2));
    const qreal mid = r.center().y();
    p.drawLine(QPointF(r.left() + 3, mid - 6), QPointF(r.left() + 10, mid - 6));
    p.drawLine(QPointF(r.left() + 3, mid + 6), QPointF(r.left() + 10, mid + 6));
    p.drawLine(QPointF(r.right() - 10, mid), QPointF(r.right() - 3, mid));
    QRectF chip(0, 0, r.width() * 0.42, r.height() * 0.5);
    chip.moveCenter(r.center());
    for (int i = 0; i < 4; ++i) {
        const qreal x = chip.left() + chip.width() * (i + 0.5) / 4;
        p.drawLine(QPointF(x, chip.top() - 3), QPointF(x, chip.top()));
        p.drawLine(QPointF(x, chip.bottom()), QPointF(x, chip.bottom() + 3));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1c, 0x1c, 0x22));
    p.drawRect(chip);
    p.setBrush(QColor(0x9a, 0xa0, 0xaa));
    p.drawEllipse(QPointF(chip.left() + 3, chip.top() + 3), 1.2, 1.2);
    // Mounting holes.
    p.setBrush(QColor(0xe6, 0xe6, 0xe6));
    for (QPointF c : {r.topLeft() + QPointF(4, 4), r.topRight() + QPointF(-4, 4),
                      r.bottomLeft() + QPointF(4, -4), r.bottomRight() + QPointF(-4, -4)})
        p.drawEllipse(c, 1.6, 1.6);
}

} // namespace

QPixmap paintLogo(QSize size, qreal dpr) {
    QPixmap pm = blank(size, dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(0.5, 0.5, size.width() - 1, size.height() - 1);
    QLinearGradient bg(r.topLeft(), r.bottomLeft());
    bg.setColorAt(0, QColor(0x2c, 0x5f, 0xa6));
    bg.setColorAt(1, QColor(0x17, 0x36, 0x66));
    p.setPen(QPen(QColor(0x10, 0x26, 0x4a), 1));
    p.setBrush(bg);
    p.drawRoundedRect(r, 7, 7);

    const qreal h = size.height();
    const qreal boardH = h * 0.46, boardW = boardH * 1.25;
    paintBoard(p, QRectF(10, (h - boardH) / 2, boardW, boardH));

    const qreal textLeft = 16 + boardW;
    const qreal textWidth = size.width() - textLeft - 8;
    QFont big(QStringLiteral("DejaVu Sans"));
    big.setBold(true);
    big.setPixelSize(int(h * 0.34));
    big.setLetterSpacing(QFont::AbsoluteSpacing, 2);
    p.setFont(big);
    p.setPen(Qt::white);
    p.drawText(QRectF(textLeft, h * 0.14, textWidth, h * 0.44), Qt::AlignCenter,
               QStringLiteral("ZELTO"));
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(std::max(8, int(h * 0.12)));
    p.setFont(small);
    p.setPen(QColor(0xc4, 0xd8, 0xf4));
    p.drawText(QRectF(textLeft, h * 0.6, textWidth, h * 0.24), Qt::AlignCenter,
               QStringLiteral("Board Programming"));
    return pm;
}

QPixmap paintSerialPort(QSize size, qreal dpr) {
    QPixmap pm = blank(size, dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = size.width(), h = size.height();
    // The metal shell of a nine-pin connector, a trapezoid with two screw posts.
    const QRectF shell(w * 0.06, h * 0.3, w * 0.88, h * 0.4);
    p.setPen(QPen(QColor(0x55, 0x5b, 0x66), 1.2));
    p.setBrush(QColor(0xc9, 0xce, 0xd6));
    p.drawRoundedRect(shell, 4, 4);
    for (qreal x : {shell.left() + w * 0.07, shell.right() - w * 0.07}) {
        p.setBrush(QColor(0x8d, 0x94, 0xa0));
        p.drawEllipse(QPointF(x, shell.center().y()), w * 0.04, w * 0.04);
    }
    QPainterPath face;
    const qreal top = shell.top() + h * 0.07, bottom = shell.bottom() - h * 0.07;
    const qreal left = shell.left() + w * 0.17, right = shell.right() - w * 0.17;
    face.moveTo(left, top);
    face.lineTo(right, top);
    face.lineTo(right - w * 0.05, bottom);
    face.lineTo(left + w * 0.05, bottom);
    face.closeSubpath();
    p.setBrush(QColor(0x2a, 0x2e, 0x36));
    p.drawPath(face);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xd9, 0xb3, 0x4a));
    const qreal pin = w * 0.022;
    for (int i = 0; i < 5; ++i)
        p.drawEllipse(QPointF(left + w * 0.04 + i * (right - left - w * 0.08) / 4, top + h * 0.07),
                      pin, pin);
    for (int i = 0; i < 4; ++i)
        p.drawEllipse(
            QPointF(left + w * 0.09 + i * (right - left - w * 0.18) / 3, bottom - h * 0.07), pin,
            pin);
    // The cable leaving the connector.
    p.setPen(QPen(QColor(0x2c, 0x5f, 0xa6), h * 0.06, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(w * 0.5, shell.bottom()), QPointF(w * 0.5, h * 0.95));
    return pm;
}
