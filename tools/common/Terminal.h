// SPDX-License-Identifier: MIT
#ifndef TERMINAL_H
#define TERMINAL_H

#include <QString>

// The tools' own output: results on standard output, diagnostics on standard
// error, plain lines in the terminal's encoding (unlike the collector's quoted
// debug lines, these are meant to be read and piped).
namespace Terminal {

// Buffered: call vider() once a batch of lines is written.
void sortie(const QString &ligne);
void vider();
void erreur(const QString &ligne);

} // namespace Terminal

#endif
