// SPDX-License-Identifier: MIT
#ifndef CONSOLE_H
#define CONSOLE_H

#include <QDebug>
#include <QString>

// The programs' console, in two styles. The collector's lines keep the
// layout operators' log filters were written for: every item followed by one
// blank, the last one included. Qt 5 and 6 drop that last
// blank in the default spacing mode, so the blanks are written by hand; QString
// items are still quoted and escaped by the debug stream, which keeps a report
// from forging console lines.
namespace Console {

inline bool &muet()
{
    static thread_local bool etat = false;
    return etat;
}

// Silences this thread's console lines while it lives: reports read back
// from the journal printed their lines when they first arrived.
class Silence
{
public:
    Silence() : m_avant(muet()) { muet() = true; }
    ~Silence() { muet() = m_avant; }
    Silence(const Silence &) = delete;
    Silence &operator=(const Silence &) = delete;

private:
    bool m_avant;
};

template <typename... Items>
void ecrire(const Items &...items)
{
    if (muet())
        return;
    QDebug flux = qDebug();
    flux.nospace();
    ((flux << items << ' '), ...);
}

// The other programs' plain lines, in the terminal's encoding, meant to be
// read and piped: results on standard output (buffered: call vider() once a
// batch is written), diagnostics on standard error.
void sortie(const QString &ligne);
void vider();
void erreur(const QString &ligne);

} // namespace Console

#endif
