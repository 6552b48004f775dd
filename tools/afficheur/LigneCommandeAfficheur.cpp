// SPDX-License-Identifier: MIT
#include "LigneCommandeAfficheur.h"

namespace {

const char *const description =
    "Client d'affichage du collecteur : se connecte à son port TCP d'affichage, lit les trames\n"
    "(longueur sur 4 octets signés gros-boutistes, marqueur 1 sur un octet, puis le texte Latin-1)\n"
    "et affiche chaque rapport sur la sortie standard, en une ligne lisible par défaut.\n"
    "Code de sortie : 0 quand --nombre trames sont lues (ou sur Ctrl-C), 1 si la connexion\n"
    "échoue ou se perd, 2 sur option invalide, 3 sur trame invalide.";

} // namespace

AnalyseurOptions::Resultat LigneCommandeAfficheur::analyser(const QStringList &arguments)
{
    AnalyseurOptions options(QString::fromUtf8(description));
    const QString hote = QStringLiteral("hote");
    const QString port = QStringLiteral("port");
    const QString brut = QStringLiteral("brut");
    const QString silencieux = QStringLiteral("silencieux");
    const QString nombre = QStringLiteral("nombre");
    options.ajouter({
        {hote, QStringLiteral("Adresse ou nom du collecteur (127.0.0.1 par défaut)."), QStringLiteral("adresse")},
        {port, QStringLiteral("Port TCP d'affichage du collecteur (56000 par défaut)."), QStringLiteral("N")},
        {brut, QStringLiteral("Affiche le texte de chaque rapport tel quel, suivi d'une fin de ligne.")},
        {silencieux, QStringLiteral("N'affiche aucun rapport ; compte les trames et affiche le bilan à la fin.")},
        {nombre, QStringLiteral("S'arrête avec succès après N trames (0 par défaut : sans limite)."), QStringLiteral("N")},
    });
    const AnalyseurOptions::Resultat resultat = options.analyser(arguments);
    m_texte = options.texte();
    if (resultat != AnalyseurOptions::Executer)
        return resultat;

    ParametresAfficheur &p = m_parametres;
    if (options.estDonnee(hote))
        p.hote = options.valeur(hote);
    qint64 numero = p.port;
    if (!options.entier(port, 1, 65535, numero) || !options.entier(nombre, 0, Q_INT64_C(1) << 53, p.nombre)) {
        m_texte = options.texte();
        return AnalyseurOptions::Erreur;
    }
    p.port = quint16(numero);
    p.brut = options.estDonnee(brut);
    p.silencieux = options.estDonnee(silencieux);
    if (p.brut && p.silencieux) {
        m_texte = QStringLiteral("--brut et --silencieux ne vont pas ensemble.");
        return AnalyseurOptions::Erreur;
    }
    return AnalyseurOptions::Executer;
}
