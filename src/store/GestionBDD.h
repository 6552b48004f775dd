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

class FileRapports;
class JournalRapports;
class QTimer;
class RapportDecode;
struct sqlite3_stmt;

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

    // Takes its reports from `file` from now on, all that wait at once,
    // storing them in transactions of up to `rapportsParTransaction`.
    void suivreFile(FileRapports *file);
    static constexpr int rapportsParTransaction = 256;

public slots:
    void ajouterDonnees(const QString &donnees);
    void sauvegarderBDD();

private slots:
    void viderFile();

private:
    void creerTables();
    void mettreDeCoteSauvegardesInterrompues();
    bool nommerSauvegarde(const QString &enCours, const QString &fichier);
    void stocker(const RapportDecode &rapport, bool enLot = false);
    void stockerEnLots(QVector<RapportDecode> &rapports, bool journaliser);
    void terminerLot();
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
    QSqlQuery *requetePreparee(const QString &texte);

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
        // Where each column, and the id, is bound in the kept statement;
        // found once, the first time it is used.
        QVector<int> indices;
        int indiceId = 0;
    };
    bool insererVite(QSqlQuery &insertion, Instruction &instruction, const QJsonObject &ligne, const QVariant *idinfos,
                     qint64 *id);
    Instruction &instructionInsertion(const QString &requete, const QStringList &cles, const QJsonObject &premiere);
    bool commencerTransaction();
    void validerTransaction();

    QSqlDatabase bdd;
    int m_lignesRefusees = 0;
    QTimer *m_minuteurSauvegarde;
    JournalRapports *m_journal = nullptr;
    FileRapports *m_file = nullptr;
    // A transaction begun by the first report of a batch, for its others.
    bool m_lotOuvert = false;
    // Statements prepared once and reused for every report, by text; the
    // column sets a report can choose keep this small.
    QHash<QString, QSqlQuery> m_requetes;
    QHash<QPair<QString, quint64>, Instruction> m_instructions;

    friend class TestGestionBDD;
    friend class TestSauvegarde;
};

#endif
