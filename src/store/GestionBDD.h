#ifndef GESTIONBDD_H
#define GESTIONBDD_H

#include <QJsonObject>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

class QSqlQuery;
class QTimer;

// The measurement store: keeps every report as rows of an in-memory SQLite
// database and moves them into a time-stamped file once an hour and when the
// application quits.
class GestionBDD : public QObject
{
    Q_OBJECT

public:
    explicit GestionBDD(QObject *parent = nullptr);
    ~GestionBDD() override;

public slots:
    void ajouterDonnees(const QString &donnees);

private slots:
    void sauvegarderBDD();

private:
    void creerTables();
    bool verifierRequete(const QSqlQuery &requete);
    QVariant insererLignes(const QString &requete, const QStringList &cles, const QVector<QJsonObject> &lignes);
    void executer(QSqlQuery &requete, const QString &texte);
    bool ouvrir();

    QSqlDatabase bdd;
    QTimer *m_minuteurSauvegarde;

    friend class TestGestionBDD;
    friend class TestSauvegarde;
};

#endif
