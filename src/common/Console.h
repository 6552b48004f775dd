#ifndef CONSOLE_H
#define CONSOLE_H

#include <QDebug>

// Console lines keep the layout operators' log filters were written for: every
// item followed by one blank, the last one included. Qt 5 and 6 drop that last
// blank in the default spacing mode, so the blanks are written by hand; QString
// items are still quoted and escaped by the debug stream, which keeps a report
// from forging console lines.
namespace Console {

template <typename... Items>
void ecrire(const Items &...items)
{
    QDebug flux = qDebug();
    flux.nospace();
    ((flux << items << ' '), ...);
}

} // namespace Console

#endif
