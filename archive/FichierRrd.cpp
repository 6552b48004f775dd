// SPDX-License-Identifier: MIT
#include "FichierRrd.h"

#include "FichierArchive.h"
#include "LectureRrd.h"

#include <QFile>

#include <rrd.h>

#include <charconv>
#include <cmath>
#include <string>

namespace {

void ajouterNombre(std::string &texte, double valeur)
{
    if (!std::isfinite(valeur)) {
        texte += 'U';
        return;
    }
    char tampon[32];
    // The shortest text that reads back as the same double.
    const auto fin = std::to_chars(tampon, tampon + sizeof tampon, valeur).ptr;
    texte.append(tampon, fin);
}

} // namespace

bool FichierRrd::creer(const QString &chemin, const QStringList &sources, qint64 avant, QString &erreur)
{
    std::vector<QByteArray> textes;
    for (const QString &definition : FichierArchive::definitions(sources))
        textes.push_back(definition.toLatin1());
    std::vector<const char *> arguments;
    for (const QByteArray &texte : textes)
        arguments.push_back(texte.constData());
    rrd_clear_error();
    if (rrd_create_r2(QFile::encodeName(chemin).constData(), static_cast<unsigned long>(FichierArchive::pas()), time_t(avant), 1,
                      nullptr, nullptr, int(arguments.size()), arguments.data())
        != 0) {
        erreur = LectureRrd::erreur();
        return false;
    }
    return true;
}

bool FichierRrd::mettreAJour(const QString &chemin, const MesuresSerie &mesures, size_t premier, QString &erreur)
{
    if (premier >= mesures.points.size())
        return true;
    // Every "t:v:v..." in one buffer, each ended by a NUL, then pointed at.
    std::string texte;
    texte.reserve((mesures.points.size() - premier) * size_t(12 + 12 * mesures.sources));
    std::vector<size_t> debuts;
    debuts.reserve(mesures.points.size() - premier);
    char tampon[24];
    for (size_t i = premier; i < mesures.points.size(); ++i) {
        const MesuresSerie::Point &point = mesures.points[i];
        debuts.push_back(texte.size());
        texte.append(tampon, std::to_chars(tampon, tampon + sizeof tampon, point.temps).ptr);
        for (int source = 0; source < mesures.sources; ++source) {
            texte += ':';
            ajouterNombre(texte, point.valeurs[size_t(source)]);
        }
        texte += '\0';
    }
    std::vector<const char *> arguments;
    arguments.reserve(debuts.size());
    for (const size_t debut : debuts)
        arguments.push_back(texte.data() + debut);
    rrd_clear_error();
    if (rrd_update_r(QFile::encodeName(chemin).constData(), nullptr, int(arguments.size()), arguments.data()) != 0) {
        erreur = LectureRrd::erreur();
        return false;
    }
    return true;
}
