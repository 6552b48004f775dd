// SPDX-License-Identifier: MIT
#include "InsertionRapports.h"

#include "ClesRapport.h"
#include "Console.h"
#include "EchecRequete.h"
#include "RapportJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QSqlError>

namespace {

const QStringList &clesHyperviseur()
{
    static const QStringList cles = ClesRapport::noms(ClesRapport::hyperviseur());
    return cles;
}

const QStringList &clesVM()
{
    static const QStringList cles = ClesRapport::noms(ClesRapport::vm());
    return cles;
}

// Written as Qt writes a string list, so that the line reads the same
// whatever the Qt version's own container format.
struct ListeCles
{
    const QStringList &cles;
};

QDebug operator<<(QDebug flux, const ListeCles &liste)
{
    flux << '(';
    for (int i = 0; i < liste.cles.size(); ++i) {
        if (i > 0)
            flux << ", ";
        flux << liste.cles.at(i);
    }
    flux << ')';
    return flux;
}

} // namespace

InsertionRapports::InsertionRapports(QSqlDatabase &bdd)
    : m_bdd(bdd)
{
}

bool InsertionRapports::ouvrir()
{
    if (m_bdd.isOpen())
        return true;
    oublierRequetes();
    if (m_bdd.open())
        return true;
    Console::ecrire(tr("Connexion à la base de données impossible"));
    return false;
}

void InsertionRapports::oublierRequetes()
{
    m_requetes.clear();
}

// A report whose transaction cannot begin goes on, and ends, as a report
// alone would.
void InsertionRapports::stocker(const RapportJson &decode, bool enLot)
{
    if (!decode.lisible()) {
        Console::ecrire(tr("Une erreur est survenue dans le parsing de la chaine JSON."));
        return;
    }

    m_lignesRefusees = 0;
    const QJsonObject rapport = decode.document().object();
    const QJsonArray vms = rapport.value(QLatin1String("vms")).toArray();

    ouvrir();
    if (!enLot || !m_lotOuvert) {
        if (!commencerTransaction())
            Console::ecrire(tr("Impossible de démarrer la transaction."));
        else if (enLot)
            m_lotOuvert = true;
    }

    const QVariant id = insererLignes(QStringLiteral("INSERT INTO InfosHyperviseurs(%1) VALUES(%2)"),
                                      clesHyperviseur(), QVector<QJsonObject>{rapport});

    QVector<QJsonObject> lignes;
    lignes.reserve(vms.size());
    for (const QJsonValue &vm : vms)
        lignes.append(vm.toObject());
    insererLignes(QStringLiteral("INSERT INTO InfosVMs(idinfos,%1) VALUES(%3,%2)"), clesVM(), lignes, &id);

    if (!enLot || !m_lotOuvert)
        validerTransaction();
    if (m_lignesRefusees > lignesRefuseesAffichees)
        Console::ecrire(tr("%1 autre(s) ligne(s) refusée(s) dans ce rapport.").arg(m_lignesRefusees - lignesRefuseesAffichees));
}

void InsertionRapports::terminerLot()
{
    if (!m_lotOuvert)
        return;
    m_lotOuvert = false;
    validerTransaction();
}

// Valid until the next call.
QSqlQuery *InsertionRapports::requetePreparee(const QString &texte)
{
    auto trouvee = m_requetes.find(texte);
    if (trouvee == m_requetes.end()) {
        QSqlQuery nouvelle(m_bdd);
        if (!nouvelle.prepare(texte))
            return nullptr;
        trouvee = m_requetes.insert(texte, nouvelle);
    }
    return &*trouvee;
}

// QSqlDatabase::transaction() and commit() compile their statement anew each
// time, which costs as much as storing a small report; the outcome and the
// console lines are the same with statements prepared once.
bool InsertionRapports::commencerTransaction()
{
    if (!m_bdd.isOpen())
        return false;
    QSqlQuery *debut = requetePreparee(QStringLiteral("BEGIN"));
    return debut && debut->exec();
}

void InsertionRapports::validerTransaction()
{
    QSqlQuery *validation = m_bdd.isOpen() ? requetePreparee(QStringLiteral("COMMIT")) : nullptr;
    if (!validation) {
        if (!m_bdd.commit())
            Console::ecrire(tr("Impossible de valider la transaction: %1").arg(m_bdd.lastError().text()));
        return;
    }
    if (!validation->exec()) {
        const QSqlError erreur(QCoreApplication::translate("QSQLiteDriver", "Unable to commit transaction"),
                               validation->lastError().databaseText(), QSqlError::TransactionError);
        Console::ecrire(tr("Impossible de valider la transaction: %1").arg(erreur.text()));
    }
}

QVariant InsertionRapports::insererLignes(const QString &requete, const QStringList &cles,
                                          const QVector<QJsonObject> &lignes, const QVariant *idinfos)
{
    if (requete.isEmpty() || cles.isEmpty() || lignes.isEmpty()) {
        Console::ecrire(tr("Erreur. Un paramètre ne contient aucunes données."));
        Console::ecrire(ListeCles{cles});
        return QVariant(false);
    }

    ouvrir();

    // The first row decides the columns of every row.
    InstructionInsertion &modele = instruction(requete, cles, lignes.constFirst());

    // The hypervisor row's id (%3 of a VM template) is bound, so that one
    // prepared statement serves every report; the console still shows it
    // written in. Without an id, and whenever a statement does not prepare,
    // the text with the id written in is prepared for this call alone and
    // fails as it always did.
    // The text with the id written in is only needed to prepare a statement
    // that cannot be kept, or to show a failure: never for a stored row.
    QString texte;
    const auto texteAffiche = [&]() -> const QString & {
        if (texte.isNull())
            texte = idinfos ? modele.texte().arg(idinfos->toString()) : modele.texte();
        return texte;
    };
    const bool idLie = idinfos && idinfos->isValid();
    QSqlQuery *gardee = (!idinfos || idLie) ? requetePreparee(idLie ? modele.texteLie() : modele.texte()) : nullptr;
    const bool preparee = gardee;
    QSqlQuery insertion = preparee ? *gardee : QSqlQuery(m_bdd);
    if (!preparee)
        insertion.prepare(texteAffiche());

    QVariant dernierId;
    for (const QJsonObject &ligne : lignes) {
        qint64 id = 0;
        if (preparee && m_bdd.isOpen() && modele.insererVite(insertion, ligne, idLie ? idinfos : nullptr, &id)) {
            dernierId = id ? QVariant(id) : QVariant();
            continue;
        }
        // A row SQLite refuses (or a store whose statements are gone) takes
        // Qt's way, which fails alike, leaves the store as it was, and gives
        // the failure line its error text and values.
        if (idLie && preparee)
            insertion.bindValue(QStringLiteral(":idinfos"), *idinfos);
        modele.lier(insertion, ligne);
        insertion.exec();
        if (insertion.lastError().type() != QSqlError::NoError) {
            // One report cannot flood the operator's log: past the first
            // few, rejected rows are only counted.
            if (m_lignesRefusees++ < lignesRefuseesAffichees)
                EchecRequete::signaler(insertion, texteAffiche());
        }
        dernierId = insertion.lastInsertId();
    }
    return dernierId;
}

InstructionInsertion &InsertionRapports::instruction(const QString &requete, const QStringList &cles,
                                                      const QJsonObject &premiere)
{
    quint64 presentes = 0;
    for (int i = 0; i < cles.size(); ++i) {
        if (premiere.contains(cles.at(i)))
            presentes |= quint64(1) << (i % 64);
    }
    // Lists of more than 64 keys never occur; they are built anew each time.
    InstructionInsertion &trouvee = m_instructions[qMakePair(requete, cles.size() <= 64 ? presentes : ~quint64(0))];
    if (cles.size() > 64 || !trouvee.completeePour(cles))
        trouvee = InstructionInsertion(requete, cles, premiere);
    return trouvee;
}
