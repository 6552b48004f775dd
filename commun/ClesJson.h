// SPDX-License-Identifier: MIT
#ifndef CLESJSON_H
#define CLESJSON_H

#include <QByteArray>

// Qt 5.15's JSON parser loses the memory of an array or object held by a key
// that a later key of the same name replaces: any sender could make the
// collector grow with a few bytes per datagram. Giving each earlier duplicate
// a name of its own keeps what the parser makes of the text (the last value
// of a key wins, the extra names are keys the store ignores) without the loss.
class ClesJson
{
public:
    // The text with a "\u0000" and a number added to the name of every key
    // that a later key of the same object repeats; the text itself when no
    // key repeats. Whether the text is valid JSON is left unchanged.
    static QByteArray renommerDoublons(const QByteArray &json);

    // The string value of the top-level key `cle`, found without parsing the
    // whole text, when that can be done with certainty: no key of the text
    // repeats or has an escape, the key is present, and its value is a
    // string of ASCII characters without escapes. False otherwise: the
    // caller then parses the text (the answer is then the parser's own).
    static bool texteRacine(const char *json, int taille, const QByteArray &cle, QByteArray &valeur);
};

#endif
