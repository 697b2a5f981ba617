#pragma once
// How far beyond its viewport a view that nobody scrolls (an exported one) must keep its content for
// its pixels to stay what they would be with everything kept.
#include <QtGlobal>

// A view pinned to one edge (the chat to its bottom, the Q&A list to its top) shows the `view`
// pixels next to that edge and the scroll bar's handle. The handle is the page's share of a track no
// longer than the view, but at least 20 pixels (the views' style sheets), so it is at its shortest
// once the content is view * view / 20 tall, and stays there as the content grows. A quarter more
// than that, plus a view, covers an entry taller than the view at the cut.
inline qreal keptExtentOfPinnedView(int view) {
    return 1.25 * (qreal(view) * view / 20.0) + view;
}
