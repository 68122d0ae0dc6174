// Dialog-unit conversion from font metrics.
#include "dialog_units.h"

#include <QApplication>
#include <QFontMetrics>

#include <atomic>

namespace {

std::atomic<double> g_textScale{1.0};

// Rounded a * b / c, as the platform's MulDiv rounds.
int MulDivRound(int a, int b, int c) {
    const long long n = static_cast<long long>(a) * b;
    return static_cast<int>(n >= 0 ? (n + c / 2) / c : (n - c / 2) / c);
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average over the 52 Latin letters, rounded, as the dialog manager takes it.
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX_ = (width / 26 + 1) / 2;
    baseY_ = metrics.height();
    if (baseX_ < 1) baseX_ = 1;
    if (baseY_ < 1) baseY_ = 1;
}

int DialogUnits::X(int units) const {
    return MulDivRound(units, baseX_, 4);
}

int DialogUnits::Y(int units) const {
    return MulDivRound(units, baseY_, 8);
}

QRect DialogUnits::Map(const dlg::Rect& r) const {
    const int left = X(r.x);
    const int top = Y(r.y);
    // Right and bottom edges are converted on their own so that neighbours stay flush.
    return QRect(QPoint(left, top), QPoint(X(r.x + r.cx) - 1, Y(r.y + r.cy) - 1));
}

// The templates ask for an 8-point sans serif face; the desktop's own sans
// serif family stands in for the one the templates name.
QFont DialogFont() {
    QFont font = QApplication::font();
    font.setPointSizeF(8.0 * g_textScale.load());
    return font;
}

void SetDialogTextScale(double scale) {
    g_textScale.store(scale > 0 ? scale : 1.0);
}

double DialogTextScale() {
    return g_textScale.load();
}
