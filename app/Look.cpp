// The banner and the style sheet.
#include "Look.h"

#include <QApplication>
#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QStyleFactory>

QPixmap MakeBanner(int width, int height)
{
    QPixmap pm(width, height);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = width, h = height;

    // Glass strip: deep to light blue, a gloss over the upper half.
    QPainterPath strip;
    strip.addRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), h * 0.22, h * 0.22);
    QLinearGradient body(0, 0, w, 0);
    body.setColorAt(0, QColor(0x0b, 0x35, 0x7e));
    body.setColorAt(0.55, QColor(0x1f, 0x6f, 0xc4));
    body.setColorAt(1, QColor(0x8c, 0xc8, 0xf2));
    p.fillPath(strip, body);
    QLinearGradient gloss(0, 0, 0, h / 2);
    gloss.setColorAt(0, QColor(255, 255, 255, 150));
    gloss.setColorAt(1, QColor(255, 255, 255, 25));
    QPainterPath top;
    top.addRoundedRect(QRectF(2, 2, w - 4, h / 2 - 2), h * 0.2, h * 0.2);
    p.fillPath(top, gloss);
    p.setPen(QPen(QColor(0x06, 0x24, 0x58), 1));
    p.drawPath(strip);

    // A page with a folded corner and its text lines.
    const qreal s = h / 64.0;
    QRectF page(14 * s, 8 * s, 34 * s, 46 * s);
    const qreal fold = 10 * s;
    QPainterPath sheet;
    sheet.moveTo(page.topLeft());
    sheet.lineTo(page.right() - fold, page.top());
    sheet.lineTo(page.right(), page.top() + fold);
    sheet.lineTo(page.bottomRight());
    sheet.lineTo(page.bottomLeft());
    sheet.closeSubpath();
    p.fillPath(sheet, QColor(255, 255, 255));
    p.setPen(QPen(QColor(0x0b, 0x35, 0x7e), 1.2 * s));
    p.drawPath(sheet);
    QPainterPath corner;
    corner.moveTo(page.right() - fold, page.top());
    corner.lineTo(page.right() - fold, page.top() + fold);
    corner.lineTo(page.right(), page.top() + fold);
    p.fillPath(corner, QColor(0xc9, 0xdd, 0xf5));
    p.drawPath(corner);
    p.setPen(QPen(QColor(0x1f, 0x6f, 0xc4), 2 * s, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 5; ++i) {
        qreal y = page.top() + (18 + i * 6) * s;
        qreal right = page.right() - (i == 4 ? 14 : 6) * s;
        p.drawLine(QPointF(page.left() + 6 * s, y), QPointF(right, y));
    }

    // An arrow to a small picture: hills under a sun.
    p.setPen(QPen(QColor(255, 255, 255), 3 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(54 * s, 31 * s), QPointF(66 * s, 31 * s));
    p.drawLine(QPointF(61 * s, 26 * s), QPointF(66 * s, 31 * s));
    p.drawLine(QPointF(61 * s, 36 * s), QPointF(66 * s, 31 * s));
    QRectF photo(72 * s, 15 * s, 38 * s, 32 * s);
    p.setPen(QPen(QColor(255, 255, 255), 2 * s));
    p.setBrush(QColor(0xd8, 0xee, 0xff));
    p.drawRoundedRect(photo, 3 * s, 3 * s);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xc8, 0x3d));
    p.drawEllipse(QPointF(photo.right() - 9 * s, photo.top() + 9 * s), 4.5 * s, 4.5 * s);
    QPainterPath hills;
    hills.moveTo(photo.left() + 2 * s, photo.bottom() - 2 * s);
    hills.lineTo(photo.left() + 13 * s, photo.top() + 14 * s);
    hills.lineTo(photo.left() + 21 * s, photo.top() + 22 * s);
    hills.lineTo(photo.left() + 27 * s, photo.top() + 17 * s);
    hills.lineTo(photo.right() - 2 * s, photo.bottom() - 2 * s);
    hills.closeSubpath();
    p.fillPath(hills, QColor(0x2e, 0x8b, 0x57));

    // The product's name and what it does.
    QFont title("DejaVu Sans", 1);
    title.setPixelSize(qRound(22 * s));
    title.setBold(true);
    p.setFont(title);
    QRectF textArea(122 * s, 6 * s, w - 128 * s, 32 * s);
    p.setPen(QColor(0, 0, 0, 90));
    p.drawText(textArea.translated(1, 1), Qt::AlignLeft | Qt::AlignVCenter, "Folium Converter");
    p.setPen(Qt::white);
    p.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter, "Folium Converter");
    QFont tag("DejaVu Sans", 1);
    tag.setPixelSize(qRound(11.5 * s));
    p.setFont(tag);
    p.setPen(QColor(0xe4, 0xf1, 0xff));
    p.drawText(QRectF(123 * s, 36 * s, w - 128 * s, 20 * s), Qt::AlignLeft | Qt::AlignVCenter,
               "Word pages into pictures  \u00b7  BMP  \u00b7  JPG  \u00b7  PNG");
    return pm;
}

void ApplyLook(QApplication& app)
{
    Q_INIT_RESOURCE(Pagesnap);  // the resources live in a static library
    if (QStyle* fusion = QStyleFactory::create("Fusion"))
        app.setStyle(fusion);
    QFile qss(":/look/Pagesnap.qss");
    if (qss.open(QIODevice::ReadOnly))
        app.setStyleSheet(QString::fromUtf8(qss.readAll()));
}
