// What a widget costs while it is left alone: its paint events, the area they asked for, and the
// process's CPU time.
#pragma once

#include <QEvent>
#include <QObject>
#include <QPaintEvent>
#include <QRegion>

#include <algorithm>

#include <time.h>

// The CPU time of the whole process so far, all threads, in seconds.
inline double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Installed as an event filter on a widget: counts its paint events and the areas they asked for.
class PaintCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            qint64 area = 0;
            for (const QRect& r : static_cast<QPaintEvent*>(event)->region()) area += qint64(r.width()) * r.height();
            paints++;
            totalArea += area;
            largestArea = std::max(largestArea, area);
        }
        return false;
    }
    int paints = 0;
    qint64 totalArea = 0;
    qint64 largestArea = 0;
};
