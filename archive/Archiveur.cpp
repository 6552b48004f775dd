// SPDX-License-Identifier: MIT
#include "Archiveur.h"

#include "Console.h"
#include "Duree.h"

#include <QDateTime>
#include <QThread>

Archiveur::Archiveur(const ParametresArchive &parametres, NettoyageSauvegardes::LectureEspace lectureEspace,
                     QObject *parent)
    : QObject(parent),
      m_parametres(parametres),
      m_passage(parametres.sauvegardes, parametres.archive, parametres.regles, std::move(lectureEspace), &m_arret,
                Console::erreur)
{
    m_minute.setInterval(60 * 1000);
    connect(&m_minute, &QTimer::timeout, this, &Archiveur::demanderPassage);
    // A burst of changes (a backup and its journal segments) makes one pass.
    m_delai.setSingleShot(true);
    m_delai.setInterval(1000);
    connect(&m_delai, &QTimer::timeout, this, &Archiveur::demanderPassage);
    connect(&m_surveillance, &QFileSystemWatcher::directoryChanged, &m_delai, qOverload<>(&QTimer::start));
}

Archiveur::~Archiveur()
{
    m_arret = true;
    if (m_fil) {
        m_fil->wait();
        delete m_fil;
    }
}

bool Archiveur::demarrer()
{
    if (!m_passage.preparer())
        return false;
    if (!m_parametres.uneFois) {
        Console::erreur(QStringLiteral("Archivage des sauvegardes de %1 dans %2 : sauvegardes archivées gardées %3, "
                                       "%4 % du disque libre au moins.")
                            .arg(m_parametres.sauvegardes, m_parametres.archive, Duree::texte(m_parametres.regles.brut))
                            .arg(m_parametres.regles.espaceLibre));
        m_surveillance.addPath(m_parametres.sauvegardes);
        m_minute.start();
    }
    lancerPassage();
    return true;
}

void Archiveur::arreter()
{
    m_arret = true;
    m_minute.stop();
    m_delai.stop();
    if (!m_fil)
        emit termine(0);
}

void Archiveur::demanderPassage()
{
    if (m_arret)
        return;
    if (m_fil)
        m_encore = true;
    else
        lancerPassage();
}

void Archiveur::lancerPassage()
{
    m_encore = false;
    m_fil = QThread::create([this]() { m_reussi = m_passage.executer(QDateTime::currentSecsSinceEpoch()); });
    connect(m_fil, &QThread::finished, this, &Archiveur::passageFini);
    m_fil->start();
}

void Archiveur::passageFini()
{
    m_fil->deleteLater();
    m_fil = nullptr;
    if (m_arret) {
        emit termine(0);
    } else if (m_parametres.uneFois) {
        emit termine(m_reussi ? 0 : 1);
    } else if (m_encore) {
        lancerPassage();
    }
}
