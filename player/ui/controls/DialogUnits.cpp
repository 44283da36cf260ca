#include "DialogUnits.h"

namespace DialogUnits {
namespace {

// n * num / den rounded to the nearest integer, halves away from zero.
int MulDivRound(int n, int num, int den) {
    const long long v = static_cast<long long>(n) * num;
    return static_cast<int>(v >= 0 ? (v + den / 2) / den : (v - den / 2) / den);
}

}  // namespace

int ToPixelsX(int nUnits) {
    return MulDivRound(nUnits, kBaseUnitX, 4);
}
int ToPixelsY(int nUnits) {
    return MulDivRound(nUnits, kBaseUnitY, 8);
}

QRect ToPixels(int x, int y, int cx, int cy) {
    const int left = ToPixelsX(x);
    const int top = ToPixelsY(y);
    // Both edges are converted, so neighbouring controls meet exactly as in the template.
    return QRect(QPoint(left, top), QPoint(ToPixelsX(x + cx) - 1, ToPixelsY(y + cy) - 1));
}

QSize ToPixels(QSize sizeUnits) {
    return QSize(ToPixelsX(sizeUnits.width()), ToPixelsY(sizeUnits.height()));
}

}  // namespace DialogUnits
