// SPDX-License-Identifier: MIT
#include "ClesJson.h"

#include <QHash>
#include <QPair>
#include <QVarLengthArray>
#include <QVector>

#include <algorithm>
#include <cstring>

namespace {

struct Objet
{
    // Each key as the parser compares it, with the index of its last
    // occurrence in positions.
    QHash<QByteArray, int> cles;
    // Decoded key and offset of the closing quote of every key, in order.
    QVector<QPair<QByteArray, int>> positions;
    QVector<int> doublons;
};

void ajouterUtf8(QByteArray &sortie, uint code)
{
    if (code < 0x80) {
        sortie += char(code);
    } else if (code < 0x800) {
        sortie += char(0xC0 | (code >> 6));
        sortie += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        sortie += char(0xE0 | (code >> 12));
        sortie += char(0x80 | ((code >> 6) & 0x3F));
        sortie += char(0x80 | (code & 0x3F));
    } else {
        sortie += char(0xF0 | (code >> 18));
        sortie += char(0x80 | ((code >> 12) & 0x3F));
        sortie += char(0x80 | ((code >> 6) & 0x3F));
        sortie += char(0x80 | (code & 0x3F));
    }
}

// The four hexadecimal digits of a \u escape starting at debut, or -1.
int hexa4(const char *debut, const char *fin)
{
    if (fin - debut < 4)
        return -1;
    int valeur = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = debut[i];
        int chiffre;
        if (c >= '0' && c <= '9')
            chiffre = c - '0';
        else if (c >= 'a' && c <= 'f')
            chiffre = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            chiffre = c - 'A' + 10;
        else
            return -1;
        valeur = valeur * 16 + chiffre;
    }
    return valeur;
}

// A string's content, escapes decoded into UTF-8, so that two keys the parser
// takes as equal give equal bytes. A malformed key makes the whole text
// invalid, so what it decodes to does not matter.
QByteArray decoder(const char *debut, const char *fin)
{
    QByteArray cle;
    cle.reserve(int(fin - debut));
    for (const char *p = debut; p < fin; ++p) {
        if (*p != '\\' || p + 1 == fin) {
            cle += *p;
            continue;
        }
        ++p;
        switch (*p) {
        case 'b': cle += '\b'; break;
        case 'f': cle += '\f'; break;
        case 'n': cle += '\n'; break;
        case 'r': cle += '\r'; break;
        case 't': cle += '\t'; break;
        case 'u': {
            int code = hexa4(p + 1, fin);
            if (code < 0) {
                cle += *p;
                break;
            }
            p += 4;
            if (code >= 0xD800 && code < 0xDC00 && fin - p >= 7 && p[1] == '\\' && p[2] == 'u') {
                const int bas = hexa4(p + 3, fin);
                if (bas >= 0xDC00 && bas < 0xE000) {
                    code = 0x10000 + ((code - 0xD800) << 10) + (bas - 0xDC00);
                    p += 6;
                }
            }
            ajouterUtf8(cle, uint(code));
            break;
        }
        default: cle += *p; break;
        }
    }
    return cle;
}

void renommer(Objet &objet, QVector<QPair<int, QByteArray>> &insertions)
{
    // One numbering for the whole object: thousands of duplicates of one key
    // must not each try the numbers the others took.
    int numero = 0;
    for (const int indice : qAsConst(objet.doublons)) {
        const QPair<QByteArray, int> &cle = objet.positions.at(indice);
        QByteArray suffixe;
        do {
            suffixe = QByteArray::number(numero++);
        } while (objet.cles.contains(cle.first + '\0' + suffixe));
        objet.cles.insert(cle.first + '\0' + suffixe, -1);
        insertions.append({cle.second, QByteArrayLiteral("\\u0000") + suffixe});
    }
}

// The quick look that every report gets: whether some object repeats a key
// in the same bytes, or has a key with an escape, which only the full
// decoding can compare. No allocation for ordinary reports.
bool doublonsPossibles(const char *texte, int taille)
{
    struct Cle
    {
        int debut;
        int longueur;
    };
    QVarLengthArray<char, 16> imbrication;
    QVarLengthArray<int, 16> premieresCles;
    QVarLengthArray<Cle, 64> cles;
    bool cleAttendue = false;
    for (int i = 0; i < taille; ++i) {
        switch (texte[i]) {
        case '"': {
            // The closing quote is the first one after an even number of
            // backslashes.
            const char *debut = texte + i + 1;
            const char *fin = debut;
            forever {
                fin = static_cast<const char *>(std::memchr(fin, '"', size_t(texte + taille - fin)));
                if (!fin)
                    return false;
                const char *barre = fin;
                while (barre > debut && barre[-1] == '\\')
                    --barre;
                if ((fin - barre) % 2 == 0)
                    break;
                ++fin;
            }
            if (cleAttendue) {
                if (std::memchr(debut, '\\', size_t(fin - debut)))
                    return true;
                cles.append({int(debut - texte), int(fin - debut)});
            }
            i = int(fin - texte);
            cleAttendue = false;
            break;
        }
        case '{':
            imbrication.append('{');
            premieresCles.append(cles.size());
            cleAttendue = true;
            break;
        case '[':
            imbrication.append('[');
            cleAttendue = false;
            break;
        case ',':
            cleAttendue = !imbrication.isEmpty() && imbrication.last() == '{';
            break;
        case ']':
            if (!imbrication.isEmpty() && imbrication.last() == '[')
                imbrication.removeLast();
            cleAttendue = false;
            break;
        case '}':
            if (!imbrication.isEmpty() && imbrication.last() == '{') {
                const int premiere = premieresCles.last();
                const auto avant = [texte](const Cle &a, const Cle &b) {
                    if (a.longueur != b.longueur)
                        return a.longueur < b.longueur;
                    return std::memcmp(texte + a.debut, texte + b.debut, size_t(a.longueur)) < 0;
                };
                std::sort(cles.begin() + premiere, cles.end(), avant);
                for (int k = premiere + 1; k < cles.size(); ++k) {
                    if (!avant(cles[k - 1], cles[k]))
                        return true;
                }
                cles.resize(premiere);
                premieresCles.removeLast();
                imbrication.removeLast();
            }
            cleAttendue = false;
            break;
        default:
            break;
        }
    }
    // What is left open belongs to a text the parser rejects before it
    // reaches the end of those objects.
    return false;
}

} // namespace

QByteArray ClesJson::renommerDoublons(const QByteArray &json)
{
    if (!doublonsPossibles(json.constData(), json.size()))
        return json;

    // Only strings and the four brackets matter here: inside any other token
    // none of them can appear, so the strings are found where the parser
    // finds them, up to its first error.
    const char *texte = json.constData();
    const int taille = json.size();
    QVector<char> imbrication;
    QVector<Objet> objets;
    QVector<QPair<int, QByteArray>> insertions;
    bool cleAttendue = false;
    for (int i = 0; i < taille; ++i) {
        switch (texte[i]) {
        case '"': {
            int fin = i + 1;
            while (fin < taille && texte[fin] != '"')
                fin += texte[fin] == '\\' ? 2 : 1;
            if (fin >= taille) {
                i = taille;
                break;
            }
            if (cleAttendue) {
                Objet &objet = objets.last();
                const QByteArray cle = decoder(texte + i + 1, texte + fin);
                const auto precedente = objet.cles.constFind(cle);
                if (precedente != objet.cles.constEnd())
                    objet.doublons.append(*precedente);
                objet.cles.insert(cle, objet.positions.size());
                objet.positions.append({cle, fin});
            }
            i = fin;
            cleAttendue = false;
            break;
        }
        case '{':
            imbrication.append('{');
            objets.append(Objet());
            cleAttendue = true;
            break;
        case '[':
            imbrication.append('[');
            cleAttendue = false;
            break;
        case ',':
            cleAttendue = !imbrication.isEmpty() && imbrication.last() == '{';
            break;
        case ']':
            if (!imbrication.isEmpty() && imbrication.last() == '[')
                imbrication.removeLast();
            cleAttendue = false;
            break;
        case '}':
            if (!imbrication.isEmpty() && imbrication.last() == '{') {
                renommer(objets.last(), insertions);
                objets.removeLast();
                imbrication.removeLast();
            }
            cleAttendue = false;
            break;
        default:
            break;
        }
    }
    if (insertions.isEmpty())
        return json;

    std::sort(insertions.begin(), insertions.end(),
              [](const QPair<int, QByteArray> &a, const QPair<int, QByteArray> &b) { return a.first < b.first; });
    QByteArray resultat;
    int debut = 0;
    for (const auto &insertion : qAsConst(insertions)) {
        resultat.append(texte + debut, insertion.first - debut).append(insertion.second);
        debut = insertion.first;
    }
    resultat.append(texte + debut, taille - debut);
    return resultat;
}

bool ClesJson::texteRacine(const char *json, int taille, const QByteArray &cle, QByteArray &valeur)
{
    if (doublonsPossibles(json, taille))
        return false;
    const auto blancs = [json, taille](int i) {
        while (i < taille && (json[i] == ' ' || json[i] == '\t' || json[i] == '\n' || json[i] == '\r'))
            ++i;
        return i;
    };
    int profondeur = 0;
    bool cleAttendue = false;
    for (int i = 0; i < taille; ++i) {
        switch (json[i]) {
        case '"': {
            int fin = i + 1;
            while (fin < taille && json[fin] != '"')
                fin += json[fin] == '\\' ? 2 : 1;
            if (fin >= taille)
                return false;
            if (cleAttendue && profondeur == 1 && fin - i - 1 == cle.size()
                && std::memcmp(json + i + 1, cle.constData(), size_t(cle.size())) == 0) {
                int debut = blancs(fin + 1);
                if (debut >= taille || json[debut] != ':')
                    return false;
                debut = blancs(debut + 1);
                if (debut >= taille || json[debut] != '"')
                    return false;
                int k = debut + 1;
                for (; k < taille && json[k] != '"'; ++k) {
                    if (json[k] == '\\' || uchar(json[k]) >= 0x80)
                        return false;
                }
                if (k >= taille)
                    return false;
                valeur = QByteArray(json + debut + 1, k - debut - 1);
                return true;
            }
            cleAttendue = false;
            i = fin;
            break;
        }
        case '{':
            ++profondeur;
            cleAttendue = profondeur == 1;
            break;
        case '[':
            ++profondeur;
            cleAttendue = false;
            break;
        case '}':
        case ']':
            --profondeur;
            cleAttendue = false;
            break;
        case ',':
            cleAttendue = profondeur == 1;
            break;
        default:
            break;
        }
    }
    return false;
}
