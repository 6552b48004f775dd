// SPDX-License-Identifier: MIT
#include "FichierCles.h"

#include "SignatureRapport.h"

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <sys/stat.h>

bool FichierCles::lireTexte(const QByteArray &texte, Cles &cles, QString &erreur)
{
    static const QRegularExpression blancs(QStringLiteral("\\s+"));
    const QList<QByteArray> lignes = texte.split('\n');
    for (int n = 0; n < lignes.size(); ++n) {
        QString ligne = QString::fromUtf8(lignes.at(n));
        const int commentaire = ligne.indexOf(QLatin1Char('#'));
        if (commentaire >= 0)
            ligne.truncate(commentaire);
        const QStringList mots = ligne.split(blancs, Qt::SkipEmptyParts);
        if (mots.isEmpty())
            continue;
        const auto refuser = [&](const QString &raison) {
            erreur = QStringLiteral("ligne %1 : %2").arg(n + 1).arg(raison);
            return false;
        };
        if (mots.size() != 2)
            return refuser(QStringLiteral("« NOM CLE » attendu"));
        const auto decodee = QByteArray::fromBase64Encoding(mots.at(1).toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decodee || decodee.decoded.size() < SignatureRapport::tailleCleMinimum)
            return refuser(QStringLiteral("clé de %1 : au moins %2 octets en base64 attendus")
                               .arg(mots.at(0))
                               .arg(SignatureRapport::tailleCleMinimum));
        QVector<QByteArray> &siennes = cles[mots.at(0)];
        if (siennes.size() >= clesParHote)
            return refuser(QStringLiteral("plus de %1 clés pour %2").arg(clesParHote).arg(mots.at(0)));
        siennes.append(decodee.decoded);
    }
    return true;
}

bool FichierCles::lire(const QString &chemin, Cles &cles, QString &erreur)
{
    QFile fichier(chemin);
    if (!fichier.open(QIODevice::ReadOnly)) {
        erreur = QStringLiteral("%1 : %2").arg(chemin, fichier.errorString());
        return false;
    }
    struct stat etat;
    if (::fstat(fichier.handle(), &etat) != 0 || (etat.st_mode & (S_IROTH | S_IWOTH | S_IWGRP)) != 0) {
        erreur = QStringLiteral("%1 : lisible ou modifiable par d'autres utilisateurs (droits %2), chmod 640 attendu")
                     .arg(chemin)
                     .arg(QString::number(etat.st_mode & 0777, 8));
        return false;
    }
    QString raison;
    if (!lireTexte(fichier.readAll(), cles, raison)) {
        erreur = QStringLiteral("%1, %2").arg(chemin, raison);
        return false;
    }
    return true;
}

QString FichierCles::nouvelleLigne(const QString &nom)
{
    QByteArray cle(SignatureRapport::tailleCleMinimum, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(cle.data()), cle.size() / int(sizeof(quint32)));
    return QStringLiteral("%1 %2").arg(nom, QString::fromLatin1(cle.toBase64()));
}
