#pragma once
// How far beyond its viewport a view that nobody scrolls (an exported one) must keep its content for
// its pixels to stay what they would be with everything kept.
#include <QtGlobal>

// A view pinned to one edge (the chat to its bottom, the Q&A list to its top) shows the `view`
// pixels next to that edge and the scroll bar's handle. The handle is at its shortest (20 pixels of
// a track no longer than the view) once the content is view * view / 20 tall, and stays there as
// the content grows. Twice that, plus a view, leaves a margin for rounding and style sheets.
inline qreal keptExtentOfPinnedView(int view) {
    return 2.0 * (qreal(view) * view / 20.0 + view);
}
