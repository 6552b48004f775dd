// SPDX-License-Identifier: MIT
#ifndef GESTIONBDD_H
#define GESTIONBDD_H

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPair>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

class JournalRapports;
class QTimer;

// The measurement store: keeps every report as rows of an in-memory SQLite
// database and moves them into a time-stamped file once an hour and when the
// application quits.
class GestionBDD : public QObject
{
    Q_OBJECT

public:
    // Failure lines shown for the rows of one report; the others are counted.
    static constexpr int lignesRefuseesAffichees = 10;

    explicit GestionBDD(QObject *parent = nullptr);
    ~GestionBDD() override;

    // Keeps every report in a journal in `dossier` until a backup holds it,
    // after reading back what a run that did not stop cleanly left there.
    void activerJournal(const QString &dossier);

public slots:
    void ajouterDonnees(const QString &donnees);

private slots:
    void sauvegarderBDD();

private:
    void creerTables();
    void mettreDeCoteSauvegardesInterrompues();
    bool nommerSauvegarde(const QString &enCours, const QString &fichier);
    void stocker(const QString &donnees, const QByteArray &octets);
    void rendreMemoire(bool compacter);
    bool copierPages(const QString &enCours);
    bool copierLignes(const QString &enCours);
    void remplacerStore();
    bool verifierRequete(const QSqlQuery &requete);
    bool verifierRequete(const QSqlQuery &requete, const QString &texteAffiche);
    QVariant insererLignes(const QString &requete, const QStringList &cles, const QVector<QJsonObject> &lignes,
                           const QVariant *idinfos = nullptr);
    void executer(QSqlQuery &requete, const QString &texte);
    bool ouvrir();
    bool requetePreparee(const QString &texte, QSqlQuery &requete);

    // An INSERT template completed for the keys a first row holds: the text
    // (a VM template's %3, the hypervisor row's id, still in it), the same
    // with %3 as a placeholder, and the columns with their placeholders.
    struct Instruction
    {
        QStringList cles;
        QString texte;
        QString texteLie;
        QStringList colonnes;
        QStringList marques;
    };
    const Instruction &instructionInsertion(const QString &requete, const QStringList &cles, const QJsonObject &premiere);
    bool commencerTransaction();
    void validerTransaction();

    QSqlDatabase bdd;
    int m_lignesRefusees = 0;
    QTimer *m_minuteurSauvegarde;
    JournalRapports *m_journal = nullptr;
    // Statements prepared once and reused for every report, by text; the
    // column sets a report can choose keep this small.
    QHash<QString, QSqlQuery> m_requetes;
    QHash<QPair<QString, quint64>, Instruction> m_instructions;

    friend class TestGestionBDD;
    friend class TestSauvegarde;
};

#endif
