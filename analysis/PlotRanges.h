#pragma once

#include <qcustomplot.h>

// Axis ranges that hold still while the data moves a little. A plot whose
// axis changes with every frame lays its tick labels out again each time,
// which costs the live analysis more than all its figures; these ranges
// change only when the data leaves them or shrinks to a small part of them.
namespace PlotRanges {

// `shown` while it holds `needed` and `needed` spans at least half of it;
// otherwise `needed` widened by `margin` times its span on either side.
QCPRange steady(const QCPRange &shown, const QCPRange &needed, double margin);

// The top of a count axis for a highest count of `needed`: `shown` while it
// lies between `needed` and `needed` x headroom squared; otherwise
// `needed` x headroom.
double steadyTop(double shown, double needed, double headroom);

} // namespace PlotRanges
