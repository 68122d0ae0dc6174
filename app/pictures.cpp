// Draws the pictures with QPainter in the 16 colours of the classic palette,
// so they look like the small bitmaps of a dialog resource.
#include "pictures.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

#include "resource.h"

namespace {

// The 16-colour palette the bitmaps are limited to.
const QList<QRgb> kPalette = {
    qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
    qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
    qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
    qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255),
};
const QColor kNavy(0, 0, 128);
const QColor kTeal(0, 128, 128);
const QColor kYellow(255, 255, 0);
const QColor kGrey(128, 128, 128);
const QColor kSilver(192, 192, 192);

QFont PixelFont(int pixels, bool bold, bool smooth) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    if (!smooth) font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

// The maker's mark: a ring with a tail (a Q) around an envelope, the tail an
// arrow that carries the mail on.
void DrawMark(QPainter& p, const QRectF& box) {
    const double s = std::min(box.width(), box.height());
    const QRectF ring(box.left() + s * 0.06, box.top() + s * 0.06, s * 0.8, s * 0.8);
    p.setPen(QPen(kNavy, s * 0.1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(ring);

    const QRectF env(ring.left() + ring.width() * 0.24, ring.top() + ring.height() * 0.32,
                     ring.width() * 0.52, ring.height() * 0.36);
    p.setPen(QPen(Qt::black, std::max(1.0, s * 0.03)));
    p.setBrush(kYellow);
    p.drawRect(env);
    QPainterPath flap;
    flap.moveTo(env.topLeft());
    flap.lineTo(env.center().x(), env.top() + env.height() * 0.6);
    flap.lineTo(env.topRight());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);

    // The tail of the Q, ending in an arrow head.
    const QPointF from(ring.center().x() + ring.width() * 0.3,
                       ring.center().y() + ring.height() * 0.3);
    const QPointF to(box.left() + s * 0.97, box.top() + s * 0.97);
    p.setPen(QPen(kTeal, s * 0.1, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(from, to - QPointF(s * 0.06, s * 0.06));
    QPolygonF head;
    head << to << QPointF(to.x() - s * 0.2, to.y() - s * 0.04)
         << QPointF(to.x() - s * 0.04, to.y() - s * 0.2);
    p.setPen(Qt::NoPen);
    p.setBrush(kTeal);
    p.drawPolygon(head);
}

QImage To16Colours(const QImage& image) {
    return image.convertToFormat(QImage::Format_Indexed8, kPalette, Qt::ThresholdDither);
}

QImage DrawLogo() {
    QImage image(100, 50, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    DrawMark(p, QRectF(3, 5, 40, 40));
    p.setPen(kNavy);
    p.setFont(PixelFont(13, true, false));
    p.drawText(QRectF(44, 6, 56, 22), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Quirnel"));
    p.setPen(kGrey);
    p.setFont(PixelFont(9, false, false));
    p.drawText(QRectF(45, 28, 55, 14), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("store copy"));
    p.end();
    return To16Colours(image);
}

struct AboutText {
    const char* purpose;
    const char* prepare;  // null when the picture has no such request
    const char* risk;
    const char* rights;
    const char* contact;
};

const AboutText kAboutGerman{
    "Quirnel kopiert alle lesbaren Daten einer persönlichen Ordnerdatei in eine andere und "
    "überspringt, was sich nicht mehr lesen lässt. Die Standardordner wie Posteingang und "
    "Postausgang werden verknüpft, so dass die neue Datei sofort verwendet werden kann. "
    "Nicht lesbare Objekte werden am Bildschirm angezeigt und in der Protokolldatei "
    "quirnel.log vermerkt.",
    nullptr,
    "Die Benutzung erfolgt auf eigenes Risiko.",
    "© 2026 Die Quirnel-Entwickler. Alle Rechte vorbehalten.",
    "Kontakt: https://quirnel.org",
};

const AboutText kAboutEnglish{
    "Quirnel copies all readable data of one personal folder file into another and skips "
    "whatever can no longer be read. Objects that cannot be read are shown on the screen and "
    "noted in the log file quirnel.log.",
    "Before you start, add the old file with Add store and create a new, empty one with "
    "New target; then choose them here as source and target.",
    "You use this program at your own risk.",
    "© 2026 The Quirnel developers. All rights reserved.",
    "Contact: https://quirnel.org",
};

// Draws text word-wrapped from y on and returns the y below it.
int Paragraph(QPainter& p, int y, int width, const QString& text, const QFont& font,
              const QColor& colour) {
    p.setFont(font);
    p.setPen(colour);
    const QRect area(14, y, width - 28, 1000);
    const QRect used = p.boundingRect(area, Qt::TextWordWrap | Qt::AlignLeft, text);
    p.drawText(area, Qt::TextWordWrap | Qt::AlignLeft, text);
    return used.bottom() + 1;
}

QImage DrawAbout(int width, const AboutText& text) {
    QImage image(width, 323, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    // Maker's logo and the program's name.
    DrawMark(p, QRectF(14, 10, 52, 52));
    p.setPen(kNavy);
    p.setFont(PixelFont(30, true, false));
    p.drawText(QRect(78, 12, width - 90, 36), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Quirnel"));
    p.setPen(kTeal);
    p.setFont(PixelFont(11, false, false));
    p.drawText(QRect(80, 46, width - 92, 16), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Version 1.5"));
    p.fillRect(QRect(14, 70, width - 28, 2), kSilver);

    const QFont body = PixelFont(11, false, false);
    int y = Paragraph(p, 80, width, QString::fromUtf8(text.purpose), body, Qt::black);
    if (text.prepare)
        y = Paragraph(p, y + 8, width, QString::fromUtf8(text.prepare), body, Qt::black);
    y = Paragraph(p, y + 8, width, QString::fromUtf8(text.risk), PixelFont(11, true, false),
                  QColor(128, 0, 0));

    // Rights notice and contact line at the foot.
    p.fillRect(QRect(14, 280, width - 28, 1), kSilver);
    p.setFont(PixelFont(10, false, false));
    p.setPen(kGrey);
    p.drawText(QRect(14, 285, width - 28, 14), Qt::AlignLeft, QString::fromUtf8(text.rights));
    p.drawText(QRect(14, 301, width - 28, 14), Qt::AlignLeft, QString::fromUtf8(text.contact));
    p.end();
    return To16Colours(image);
}

}  // namespace

QImage DrawBitmap(int id) {
    switch (id) {
        case IDB_LOGO:
            return DrawLogo();
        case IDB_ABOUT_DE:
            return DrawAbout(371, kAboutGerman);
        case IDB_ABOUT_EN:
            return DrawAbout(373, kAboutEnglish);
        default:
            return {};
    }
}

QPixmap LoadBitmap(int id) {
    return QPixmap::fromImage(DrawBitmap(id));
}

QImage DrawIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double r = size * 0.18;
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(0.5, 0.5, size - 1.0, size - 1.0), r, r);
    DrawMark(p, QRectF(size * 0.08, size * 0.08, size * 0.84, size * 0.84));
    p.end();
    return image;
}

QIcon LoadAppIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 256}) icon.addPixmap(QPixmap::fromImage(DrawIconImage(size)));
    return icon;
}
