// SPDX-License-Identifier: MIT
#include "LectureRrd.h"

#include <QFile>

#include <rrd.h>

QString LectureRrd::erreur()
{
    const QString texte = QString::fromLocal8Bit(rrd_get_error());
    rrd_clear_error();
    return texte;
}

qint64 LectureRrd::derniereMiseAJour(const QString &chemin)
{
    rrd_clear_error();
    const time_t derniere = rrd_last_r(QFile::encodeName(chemin).constData());
    if (derniere < 0)
        rrd_clear_error();
    return derniere < 0 ? -1 : qint64(derniere);
}

bool LectureRrd::lire(const QString &chemin, const QString &fonction, qint64 debut, qint64 fin, qint64 resolution,
                      Lecture &lecture, QString &texteErreur)
{
    time_t debutLu = time_t(debut);
    time_t finLue = time_t(fin);
    unsigned long pas = static_cast<unsigned long>(qMax<qint64>(1, resolution));
    unsigned long sources = 0;
    char **noms = nullptr;
    rrd_value_t *donnees = nullptr;
    rrd_clear_error();
    if (rrd_fetch_r(QFile::encodeName(chemin).constData(), fonction.toLatin1().constData(), &debutLu, &finLue, &pas,
                    &sources, &noms, &donnees)
        != 0) {
        texteErreur = erreur();
        return false;
    }
    lecture.debut = debutLu;
    lecture.fin = finLue;
    lecture.pas = qint64(pas);
    lecture.sources.clear();
    for (unsigned long i = 0; i < sources; ++i) {
        lecture.sources.append(QString::fromLatin1(noms[i]));
        rrd_freemem(noms[i]);
    }
    rrd_freemem(noms);
    const size_t lignes = pas > 0 ? size_t((finLue - debutLu) / time_t(pas)) : 0;
    lecture.valeurs.assign(donnees, donnees + lignes * sources);
    rrd_freemem(donnees);
    return true;
}
