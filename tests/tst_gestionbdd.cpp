// SPDX-License-Identifier: MIT
#include "CaptureConsole.h"
#include "DecodeurRapports.h"
#include "FichierSauvegarde.h"
#include "FileRapports.h"
#include "GestionBDD.h"
#include "LectureSql.h"
#include "LignesAttendues.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

// The rows a query gives on the store's own connection.
Lignes lire(const QString &sql)
{
    return lire(QSqlDatabase::database(QStringLiteral("collecteur"), false), sql);
}

QVariantList colonne(const QString &sql)
{
    QVariantList resultat;
    for (const QVariantList &ligne : lire(sql))
        resultat << ligne.value(0);
    return resultat;
}

QString ligne(const QString &texte)
{
    return QLatin1Char('"') + texte + QStringLiteral("\" ");
}

const QString ligneCles = QStringLiteral("(\"name\", \"uuid\", \"state\", \"cpu\", \"ram\", \"maxram\", \"network\") ");
const QString aucunesDonnees = ligne(QStringLiteral("Erreur. Un paramètre ne contient aucunes données."));
const QString erreurJson = ligne(QStringLiteral("Une erreur est survenue dans le parsing de la chaine JSON."));

const QByteArray rapportExemple = R"({
  "name": "hv-lab-02",
  "time": 1309139574,
  "cputemp": 47.5,
  "mbtemp": 38.5,
  "cpu": 23.4,
  "ram": 61.8,
  "disk": 40.2,
  "network": 3.75,
  "vms": [
    {
      "name": "vm-web-01",
      "uuid": "11111111-2222-3333-4444-555555555555",
      "state": 1,
      "cpu": 12.5,
      "ram": 524288,
      "maxram": 1048576,
      "network": 1.25
    }
  ]
})";

} // namespace

class TestGestionBDD : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void construction();
    void schema();
    void clesEtrangeres();
    void schemaDeuxFois();
    void exemple();
    void echecs_data();
    void echecs();
    void valeurs_data();
    void valeurs();
    void json_data();
    void json();
    void deuxRapports();
    void colonnesVariables();
    void fileEtDecodeur();
    void reveilDiffere();
    void lotsCommeRapportsSeuls();
    void valeursCommeQt_data();
    void valeursCommeQt();

private:
    void ajouter(const QByteArray &rapport) { m_store->ajouterDonnees(QString::fromLatin1(rapport)); }

    std::unique_ptr<CaptureConsole> m_console;
    std::unique_ptr<GestionBDD> m_store;
};

void TestGestionBDD::init()
{
    m_console = std::make_unique<CaptureConsole>();
    m_store = std::make_unique<GestionBDD>();
    m_console->vider();
}

void TestGestionBDD::cleanup()
{
    m_console.reset();
    m_store.reset();
    QVERIFY(!QSqlDatabase::contains(QStringLiteral("collecteur")));
}

void TestGestionBDD::construction()
{
    m_store.reset();
    m_console->vider();
    m_store = std::make_unique<GestionBDD>();

    QCOMPARE(m_console->lignes(),
             QStringList({ligne(QStringLiteral("Le driver courant (QSQLITE) : ")),
                          ligne(QStringLiteral("  SUPPORTE les transactions.")),
                          ligne(QStringLiteral("  SUPPORTE les requêtes préparées.")),
                          ligne(QStringLiteral("  SUPPORTE les marques nommées.")),
                          ligne(QStringLiteral("  SUPPORTE les marques ordrées.")),
                          ligne(QStringLiteral("  SUPPORTE le renvoi de l'ID de la dernière ligne insérée."))}));

    auto *minuteur = m_store->findChild<QTimer *>(QStringLiteral("minuteurSauvegarde"));
    QVERIFY(minuteur);
    QVERIFY(minuteur->isActive());
    QVERIFY(minuteur->isSingleShot());
    QCOMPARE(minuteur->interval(), 3600000);
}

void TestGestionBDD::schema()
{
    const Lignes attendu{
        {QStringLiteral("table"), QStringLiteral("InfosHyperviseurs"),
         QStringLiteral("CREATE TABLE InfosHyperviseurs (id        INTEGER, name      VARCHAR(500)  NOT NULL, "
                        "time      INTEGER       NOT NULL, cputemp   FLOAT, mbtemp    FLOAT, cpu       FLOAT, "
                        "ram       FLOAT, disk      FLOAT, network   FLOAT, PRIMARY KEY(id))")},
        {QStringLiteral("table"), QStringLiteral("InfosVMs"),
         QStringLiteral("CREATE TABLE InfosVMs (id       INTEGER, idinfos  INTEGER        NOT NULL, "
                        "name     VARCHAR(500)   NOT NULL, uuid     VARCHAR(50), state    SMALLINT, cpu      FLOAT, "
                        "ram      INTEGER, maxram   INTEGER, network  FLOAT, PRIMARY KEY(id), FOREIGN KEY(idinfos) "
                        "REFERENCES InfosHyperviseurs(id) ON DELETE CASCADE)")},
        {QStringLiteral("index"), QStringLiteral("InfosName"),
         QStringLiteral("CREATE INDEX InfosName  ON InfosHyperviseurs(name)")},
        {QStringLiteral("index"), QStringLiteral("InfosTime"),
         QStringLiteral("CREATE INDEX InfosTime  ON InfosHyperviseurs(time)")},
        {QStringLiteral("index"), QStringLiteral("VMsIdinfos"),
         QStringLiteral("CREATE INDEX VMsIdinfos ON InfosVMs(idinfos)")},
        {QStringLiteral("index"), QStringLiteral("VMsName"),
         QStringLiteral("CREATE INDEX VMsName    ON InfosVMs(name)")},
    };
    QCOMPARE(lire(QStringLiteral("SELECT type, name, sql FROM sqlite_master WHERE sql NOT NULL ORDER BY rowid")), attendu);
    QCOMPARE(colonne(QStringLiteral("PRAGMA foreign_keys")), QVariantList{1});
}

void TestGestionBDD::clesEtrangeres()
{
    QSqlQuery requete(QSqlDatabase::database(QStringLiteral("collecteur"), false));
    QVERIFY(!requete.exec(QStringLiteral("INSERT INTO InfosVMs(idinfos, name) VALUES(99, 'orpheline')")));
    QVERIFY2(requete.lastError().text().contains(QLatin1String("FOREIGN KEY")), qPrintable(requete.lastError().text()));

    ajouter(R"({"name":"a","time":1,"vms":[{"name":"a1"},{"name":"a2"}]})");
    ajouter(R"({"name":"b","time":2,"vms":[{"name":"b1"}]})");
    QVERIFY2(requete.exec(QStringLiteral("DELETE FROM InfosHyperviseurs WHERE name = 'a'")),
             qPrintable(requete.lastError().text()));
    QCOMPARE(colonne(QStringLiteral("SELECT name FROM InfosVMs ORDER BY id")), QVariantList{QStringLiteral("b1")});
    QCOMPARE(m_console->lignes(), QStringList());
}

void TestGestionBDD::schemaDeuxFois()
{
    ajouter(rapportExemple);
    const QString schema = QStringLiteral("SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY rowid");
    const Lignes avant = lire(schema);
    // The store's own statements, run again and reported as it reports them.
    QSqlQuery requete(QSqlDatabase::database(QStringLiteral("collecteur"), false));
    const QStringList instructions = QStringList{QStringLiteral("PRAGMA foreign_keys = ON;")} + FichierSauvegarde::schema();
    for (const QString &instruction : instructions) {
        requete.exec(instruction);
        QVERIFY2(!m_store->verifierRequete(requete), qPrintable(requete.lastError().text()));
    }
    QCOMPARE(lire(schema), avant);
    QCOMPARE(lire(QStringLiteral("SELECT count(*) FROM InfosHyperviseurs UNION ALL SELECT count(*) FROM InfosVMs")),
             Lignes({{1}, {1}}));
    QCOMPARE(m_console->lignes(), QStringList());
}

void TestGestionBDD::exemple()
{
    ajouter(rapportExemple);

    QCOMPARE(lire(QStringLiteral("SELECT id, name, time, cputemp, mbtemp, cpu, ram, disk, network FROM InfosHyperviseurs")),
             Lignes({{1, QStringLiteral("hv-lab-02"), 1309139574, 47.5, 38.5, 23.4, 61.8, 40.2, 3.75}}));
    QCOMPARE(lire(QStringLiteral("SELECT typeof(name), typeof(time), typeof(cputemp), typeof(mbtemp), typeof(cpu), "
                                 "typeof(ram), typeof(disk), typeof(network) FROM InfosHyperviseurs")),
             Lignes({{QStringLiteral("text"), QStringLiteral("integer"), QStringLiteral("real"), QStringLiteral("real"),
                      QStringLiteral("real"), QStringLiteral("real"), QStringLiteral("real"), QStringLiteral("real")}}));
    QCOMPARE(lire(QStringLiteral("SELECT id, idinfos, name, uuid, state, cpu, ram, maxram, network FROM InfosVMs")),
             Lignes({{1, 1, QStringLiteral("vm-web-01"), QStringLiteral("11111111-2222-3333-4444-555555555555"), 1, 12.5,
                      524288, 1048576, 1.25}}));
    QCOMPARE(lire(QStringLiteral("SELECT typeof(idinfos), typeof(name), typeof(uuid), typeof(state), typeof(cpu), "
                                 "typeof(ram), typeof(maxram), typeof(network) FROM InfosVMs")),
             Lignes({{QStringLiteral("integer"), QStringLiteral("text"), QStringLiteral("text"), QStringLiteral("integer"),
                      QStringLiteral("real"), QStringLiteral("integer"), QStringLiteral("integer"), QStringLiteral("real")}}));
    QCOMPARE(m_console->lignes(), QStringList());
}

void TestGestionBDD::echecs_data()
{
    QTest::addColumn<QByteArray>("rapport");
    QTest::addColumn<QStringList>("console");
    QTest::addColumn<QVariantList>("hyperviseurs");
    QTest::addColumn<QVariantList>("vms");

    const QString hv = QStringLiteral("hv");
    const QVariantList aucun;

    QTest::newRow("pas du JSON") << QByteArray("abc") << QStringList{erreurJson} << aucun << aucun;
    QTest::newRow("sans vms") << QByteArray(R"({"name":"hv","time":1})") << QStringList{aucunesDonnees, ligneCles}
                              << QVariantList{hv} << aucun;
    QTest::newRow("vms vide") << QByteArray(R"({"name":"hv","time":1,"vms":[]})")
                              << QStringList{aucunesDonnees, ligneCles} << QVariantList{hv} << aucun;
    QTest::newRow("vms pas un tableau") << QByteArray(R"({"name":"hv","time":1,"vms":{"name":"vm"}})")
                                        << QStringList{aucunesDonnees, ligneCles} << QVariantList{hv} << aucun;
    QTest::newRow("name absent")
        << QByteArray(R"({"time":1,"cpu":2.5,"vms":[{"name":"a"},{"name":"b"}]})")
        << QStringList{ligne(QStringLiteral("<erreur> : INSERT INTO InfosHyperviseurs( time, cpu) VALUES( 1, 2.5)")),
                       ligne(QStringLiteral("<erreur> : INSERT INTO InfosVMs(idinfos, name) VALUES(, a)")),
                       ligne(QStringLiteral("<erreur> : INSERT INTO InfosVMs(idinfos, name) VALUES(, b)"))}
        << aucun << aucun;
    QTest::newRow("name null")
        << QByteArray(R"({"name":null,"time":1,"vms":[{"name":"a"}]})")
        << QStringList{ligne(QStringLiteral("<erreur> : INSERT INTO InfosHyperviseurs( name, time) VALUES( , 1)")),
                       ligne(QStringLiteral("<erreur> : INSERT INTO InfosVMs(idinfos, name) VALUES(, a)"))}
        << aucun << aucun;
    QTest::newRow("time absent sans vms")
        << QByteArray(R"({"name":"hv"})")
        << QStringList{ligne(QStringLiteral("<erreur> : INSERT INTO InfosHyperviseurs( name) VALUES( hv)")),
                       aucunesDonnees, ligneCles}
        << aucun << aucun;
    QTest::newRow("time null")
        << QByteArray(R"({"name":"hv","time":null,"vms":[{"name":"a"}]})")
        << QStringList{ligne(QStringLiteral("<erreur> : INSERT INTO InfosHyperviseurs( name, time) VALUES( hv, )")),
                       ligne(QStringLiteral("<erreur> : INSERT INTO InfosVMs(idinfos, name) VALUES(, a)"))}
        << aucun << aucun;
    QTest::newRow("tableau au sommet")
        << QByteArray(R"([{"name":"hv","time":1}])")
        << QStringList{ligne(QStringLiteral("<erreur> : INSERT INTO InfosHyperviseurs() VALUES()")), aucunesDonnees,
                       ligneCles}
        << aucun << aucun;
    QTest::newRow("premier VM sans name")
        << QByteArray(R"({"name":"hv","time":1,"vms":[{"uuid":"u1"},{"name":"b","uuid":"u2"}]})")
        << QStringList{ligne(QStringLiteral("<erreur> : INSERT INTO InfosVMs(idinfos, uuid) VALUES(1, u1)")),
                       ligne(QStringLiteral("<erreur> : INSERT INTO InfosVMs(idinfos, uuid) VALUES(1, u2)"))}
        << QVariantList{hv} << aucun;
    QTest::newRow("premier VM vide")
        << QByteArray(R"({"name":"hv","time":1,"vms":[{},{"name":"b"}]})")
        << QStringList{ligne(QStringLiteral("<erreur> : INSERT INTO InfosVMs(idinfos,) VALUES(1,)")),
                       ligne(QStringLiteral("<erreur> : INSERT INTO InfosVMs(idinfos,) VALUES(1,)"))}
        << QVariantList{hv} << aucun;
    QTest::newRow("premier VM pas un objet")
        << QByteArray(R"({"name":"hv","time":1,"vms":[5]})")
        << QStringList{ligne(QStringLiteral("<erreur> : INSERT INTO InfosVMs(idinfos,) VALUES(1,)"))}
        << QVariantList{hv} << aucun;
    QTest::newRow("une ligne VM fautive")
        << QByteArray(R"({"name":"hv","time":1,"vms":[{"name":"a","state":1},{"name":null,"state":2},{"name":"c","state":3}]})")
        << QStringList{ligne(QStringLiteral("<erreur> : INSERT INTO InfosVMs(idinfos, name, state) VALUES(1, , 2)"))}
        << QVariantList{hv} << QVariantList{QStringLiteral("a"), QStringLiteral("c")};

    // One datagram cannot write tens of thousands of lines: the first ten
    // failures are shown, the rest counted on one line.
    const auto vmsVides = [](int nombre) {
        QByteArray rapport = R"({"name":"hv","time":1,"vms":[)";
        for (int i = 0; i < nombre; ++i)
            rapport += i ? ",{}" : "{}";
        return rapport + "]}";
    };
    const QString vmVide = ligne(QStringLiteral("<erreur> : INSERT INTO InfosVMs(idinfos,) VALUES(1,)"));
    QStringList dix;
    for (int i = 0; i < 10; ++i)
        dix << vmVide;
    QTest::newRow("dix lignes refusees") << vmsVides(10) << dix << QVariantList{hv} << aucun;
    QTest::newRow("onze lignes refusees")
        << vmsVides(11) << dix + QStringList{ligne(QStringLiteral("1 autre(s) ligne(s) refusée(s) dans ce rapport."))}
        << QVariantList{hv} << aucun;
    QTest::newRow("21000 objets vides")
        << vmsVides(21000)
        << dix + QStringList{ligne(QStringLiteral("20990 autre(s) ligne(s) refusée(s) dans ce rapport."))}
        << QVariantList{hv} << aucun;
    QStringList sansNom{ligne(QStringLiteral("<erreur> : INSERT INTO InfosHyperviseurs( time) VALUES( 1)"))};
    QByteArray rapportSansNom = R"({"time":1,"vms":[)";
    for (int i = 0; i < 12; ++i) {
        rapportSansNom += (i ? ",{\"name\":\"v" : "{\"name\":\"v") + QByteArray::number(i) + "\"}";
        if (i < 9)
            sansNom << ligne(QStringLiteral("<erreur> : INSERT INTO InfosVMs(idinfos, name) VALUES(, v%1)").arg(i));
    }
    QTest::newRow("hyperviseur et VM refuses")
        << QByteArray(rapportSansNom + "]}")
        << sansNom + QStringList{ligne(QStringLiteral("3 autre(s) ligne(s) refusée(s) dans ce rapport."))} << aucun
        << aucun;
}

void TestGestionBDD::echecs()
{
    QFETCH(QByteArray, rapport);
    QFETCH(QStringList, console);
    QFETCH(QVariantList, hyperviseurs);
    QFETCH(QVariantList, vms);

    ajouter(rapport);

    comparerLignes(m_console->lignes(), console);
    QCOMPARE(colonne(QStringLiteral("SELECT name FROM InfosHyperviseurs ORDER BY id")), hyperviseurs);
    QCOMPARE(colonne(QStringLiteral("SELECT name FROM InfosVMs ORDER BY id")), vms);
    // A failed report never leaves its transaction open for the next one.
    ajouter(R"({"name":"suivant","time":2})");
    QCOMPARE(colonne(QStringLiteral("SELECT name FROM InfosHyperviseurs ORDER BY id")).constLast(),
             QVariant(QStringLiteral("suivant")));
}

void TestGestionBDD::valeurs_data()
{
    QTest::addColumn<QByteArray>("rapport");
    QTest::addColumn<QString>("requete");
    QTest::addColumn<Lignes>("attendu");

    const QVariant nul;
    const QString texte = QStringLiteral("text");
    const QString entier = QStringLiteral("integer");

    QTest::newRow("cles facultatives absentes")
        << QByteArray(R"({"name":"hv","time":5,"vms":[{"name":"vm"}]})")
        << QStringLiteral("SELECT h.cputemp, h.mbtemp, h.cpu, h.ram, h.disk, h.network, v.uuid, v.state, v.cpu, v.ram, "
                          "v.maxram, v.network FROM InfosHyperviseurs h JOIN InfosVMs v ON v.idinfos = h.id")
        << Lignes{{nul, nul, nul, nul, nul, nul, nul, nul, nul, nul, nul, nul}};
    QTest::newRow("cles inconnues ou mal ecrites")
        << QByteArray(R"({"name":"hv","Name":"autre","time":5,"Cpu":3,"load":5,"vms":[{"name":"vm","UUID":"x","extra":1}]})")
        << QStringLiteral("SELECT h.name, h.cpu, v.name, v.uuid FROM InfosHyperviseurs h JOIN InfosVMs v ON v.idinfos = h.id")
        << Lignes{{QStringLiteral("hv"), nul, QStringLiteral("vm"), nul}};
    QTest::newRow("valeurs null")
        << QByteArray(R"({"name":"hv","time":5,"cpu":null,"vms":[{"name":"vm","ram":null}]})")
        << QStringLiteral("SELECT typeof(h.cpu), typeof(v.ram) FROM InfosHyperviseurs h JOIN InfosVMs v ON v.idinfos = h.id")
        << Lignes{{QStringLiteral("null"), QStringLiteral("null")}};
    QTest::newRow("time en texte numerique")
        << QByteArray(R"({"name":"hv","time":"1309139574","vms":[{"name":"vm"}]})")
        << QStringLiteral("SELECT time, typeof(time) FROM InfosHyperviseurs") << Lignes{{1309139574, entier}};
    QTest::newRow("time en texte")
        << QByteArray(R"({"name":"hv","time":"hier","vms":[{"name":"vm"}]})")
        << QStringLiteral("SELECT time, typeof(time) FROM InfosHyperviseurs") << Lignes{{QStringLiteral("hier"), texte}};
    QTest::newRow("name vide") << QByteArray(R"({"name":"","time":1,"vms":[{"name":"vm"}]})")
                               << QStringLiteral("SELECT name, typeof(name) FROM InfosHyperviseurs")
                               << Lignes{{QString(QLatin1String("")), texte}};
    const QString uuid(60, QLatin1Char('u'));
    QTest::newRow("uuid long") << QByteArray(R"({"name":"hv","time":1,"vms":[{"name":"vm","uuid":")" + uuid.toLatin1() + "\"}]}")
                               << QStringLiteral("SELECT uuid FROM InfosVMs") << Lignes{{uuid}};
    QTest::newRow("cle absente d'une VM suivante")
        << QByteArray(R"({"name":"hv","time":1,"vms":[{"name":"a","uuid":"u1","state":1,"ram":10},{"name":"b"},{"name":"c","state":3}]})")
        << QStringLiteral("SELECT name, uuid, state, ram FROM InfosVMs ORDER BY id")
        << Lignes{{QStringLiteral("a"), QStringLiteral("u1"), 1, 10}, {QStringLiteral("b"), nul, nul, nul},
                  {QStringLiteral("c"), nul, 3, nul}};
    QTest::newRow("cle absente de la premiere VM")
        << QByteArray(R"({"name":"hv","time":1,"vms":[{"name":"a"},{"name":"b","uuid":"u2"}]})")
        << QStringLiteral("SELECT name, uuid FROM InfosVMs ORDER BY id")
        << Lignes{{QStringLiteral("a"), nul}, {QStringLiteral("b"), nul}};
    QTest::newRow("trois VM")
        << QByteArray(R"({"name":"hv","time":1,"vms":[{"name":"a"},{"name":"b"},{"name":"c"}]})")
        << QStringLiteral("SELECT id, idinfos, name FROM InfosVMs ORDER BY id")
        << Lignes{{1, 1, QStringLiteral("a")}, {2, 1, QStringLiteral("b")}, {3, 1, QStringLiteral("c")}};
}

void TestGestionBDD::valeurs()
{
    QFETCH(QByteArray, rapport);
    QFETCH(QString, requete);
    QFETCH(Lignes, attendu);

    ajouter(rapport);

    QCOMPARE(lire(requete), attendu);
    QCOMPARE(m_console->lignes(), QStringList());
}

// Qt 5 and Qt 6 must read report texts alike.
void TestGestionBDD::json_data()
{
    QTest::addColumn<QByteArray>("rapport");
    QTest::addColumn<bool>("accepte");
    QTest::addColumn<Lignes>("attendu");

    QTest::newRow("texte vide") << QByteArray() << false << Lignes{};
    QTest::newRow("blancs") << QByteArray(" \n") << false << Lignes{};
    QTest::newRow("nombre au sommet") << QByteArray("5") << false << Lignes{};
    QTest::newRow("texte au sommet") << QByteArray("\"hv\"") << false << Lignes{};
    QTest::newRow("objet incomplet") << QByteArray(R"({"name":"hv")") << false << Lignes{};
    QTest::newRow("octets apres l'objet") << QByteArray(R"({"name":"hv","time":1} x)") << false << Lignes{};
    QTest::newRow("octet Latin-1 hors UTF-8") << QByteArray("{\"name\":\"caf\xe9\",\"time\":1}") << true
                                              << Lignes{{QStringLiteral("caf\u00e9"), 1, QStringLiteral("integer")}};
    QTest::newRow("Latin-1 et JSON invalide") << QByteArray("{\"name\":\"caf\xe9\",\"time\":}") << false << Lignes{};
    QTest::newRow("UTF-8") << QByteArray("{\"name\":\"caf\xc3\xa9\",\"time\":1}") << true
                           << Lignes{{QStringLiteral("caf\u00e9"), 1, QStringLiteral("integer")}};
    QTest::newRow("echappement unicode") << QByteArray(R"({"name":"caf\u00e9","time":1})") << true
                                         << Lignes{{QStringLiteral("caf\u00e9"), 1, QStringLiteral("integer")}};
    QTest::newRow("grand entier") << QByteArray(R"({"name":"hv","time":9007199254740993})") << true
                                  << Lignes{{QStringLiteral("hv"), Q_INT64_C(9007199254740993), QStringLiteral("integer")}};
    QTest::newRow("entier hors 64 bits") << QByteArray(R"({"name":"hv","time":12345678901234567890})") << true
                                         << Lignes{{QStringLiteral("hv"), 12345678901234567890.0, QStringLiteral("real")}};
    QTest::newRow("nombre a virgule") << QByteArray(R"({"name":"hv","time":1.5})") << true
                                      << Lignes{{QStringLiteral("hv"), 1.5, QStringLiteral("real")}};
    QTest::newRow("cle en double") << QByteArray(R"({"name":"a","name":"b","time":1})") << true
                                   << Lignes{{QStringLiteral("b"), 1, QStringLiteral("integer")}};
    QTest::newRow("cle en double apres un tableau")
        << QByteArray(R"({"name":["a"],"name":"b","\u0074ime":{"t":1},"time":1})") << true
        << Lignes{{QStringLiteral("b"), 1, QStringLiteral("integer")}};
}

void TestGestionBDD::json()
{
    QFETCH(QByteArray, rapport);
    QFETCH(bool, accepte);
    QFETCH(Lignes, attendu);

    ajouter(rapport);

    QCOMPARE(lire(QStringLiteral("SELECT name, time, typeof(time) FROM InfosHyperviseurs")), attendu);
    const QStringList console = accepte ? QStringList{aucunesDonnees, ligneCles} : QStringList{erreurJson};
    QCOMPARE(m_console->lignes(), console);
}

void TestGestionBDD::deuxRapports()
{
    ajouter(R"({"name":"a","time":1,"vms":[{"name":"a1"},{"name":"a2"}]})");
    ajouter(R"({"name":"b","time":2,"vms":[{"name":"b1"}]})");

    QCOMPARE(lire(QStringLiteral("SELECT id, name FROM InfosHyperviseurs ORDER BY id")),
             Lignes({{1, QStringLiteral("a")}, {2, QStringLiteral("b")}}));
    QCOMPARE(lire(QStringLiteral("SELECT idinfos, name FROM InfosVMs ORDER BY id")),
             Lignes({{1, QStringLiteral("a1")}, {1, QStringLiteral("a2")}, {2, QStringLiteral("b1")}}));
    QCOMPARE(m_console->lignes(), QStringList());
}

// Statements are kept from one report to the next: reports whose keys differ,
// and a failure in between, must each get their own columns and values.
void TestGestionBDD::colonnesVariables()
{
    ajouter(R"({"name":"a","time":1,"cpu":5,"vms":[{"name":"a1","uuid":"u1"},{"name":"a2"}]})");
    ajouter(R"({"name":"b","time":2,"vms":[{"name":"b1","state":3}]})");
    ajouter(R"({"name":"c","time":3,"vms":[{"name":null,"uuid":"u3"}]})");
    ajouter(R"({"name":"d","time":4,"cpu":6,"vms":[{"name":"d1","uuid":"u4"}]})");

    QCOMPARE(lire(QStringLiteral("SELECT id, name, cpu FROM InfosHyperviseurs ORDER BY id")),
             Lignes({{1, QStringLiteral("a"), 5.0}, {2, QStringLiteral("b"), QVariant()}, {3, QStringLiteral("c"), QVariant()},
                     {4, QStringLiteral("d"), 6.0}}));
    QCOMPARE(lire(QStringLiteral("SELECT idinfos, name, uuid, state FROM InfosVMs ORDER BY id")),
             Lignes({{1, QStringLiteral("a1"), QStringLiteral("u1"), QVariant()},
                     {1, QStringLiteral("a2"), QVariant(), QVariant()},
                     {2, QStringLiteral("b1"), QVariant(), 3},
                     {4, QStringLiteral("d1"), QStringLiteral("u4"), QVariant()}}));
    comparerLignes(m_console->lignes(),
                   {ligne(QStringLiteral("<erreur> : INSERT INTO InfosVMs(idinfos, name, uuid) VALUES(3, , u3)"))});
}

void TestGestionBDD::fileEtDecodeur()
{
    FileRapports recus;
    FileRapports decodes;
    DecodeurRapports decodeur(&recus, &decodes);
    QSignalSpy arrivee(&recus, &FileRapports::rapportsEnAttente);
    QSignalSpy attente(&decodes, &FileRapports::rapportsEnAttente);

    // One wake-up each time a queue stops being empty, none while it is not.
    recus.ajouter(QStringLiteral(R"({"name":"a"})"));
    recus.ajouter(QStringLiteral("{"));
    QCOMPARE(arrivee.count(), 1);
    QTRY_COMPARE(attente.count(), 1);
    recus.ajouter(QStringLiteral("[1]"));
    QCOMPARE(arrivee.count(), 2);
    QCoreApplication::processEvents();
    QCOMPARE(attente.count(), 1);

    const QVector<RapportJson> rapports = decodes.prendre();
    QCOMPARE(rapports.size(), 3);
    QVERIFY(rapports.at(0).decode() && rapports.at(0).lisible());
    QCOMPARE(rapports.at(0).document().object().value(QLatin1String("name")).toString(), QStringLiteral("a"));
    QCOMPARE(rapports.at(0).octets(), QByteArray(R"({"name":"a"})"));
    QVERIFY(rapports.at(1).decode() && !rapports.at(1).lisible());
    QVERIFY(rapports.at(2).lisible() && rapports.at(2).document().isArray());
    QVERIFY(decodes.prendre().isEmpty());
}

// The receiver's queue wakes its taker once per burst, when told.
void TestGestionBDD::reveilDiffere()
{
    FileRapports file;
    file.differerReveil(true);
    QSignalSpy attente(&file, &FileRapports::rapportsEnAttente);

    file.publier();
    QCOMPARE(attente.count(), 0);
    file.ajouter(QStringLiteral("{}"));
    file.ajouter(QStringLiteral("[]"));
    QCOMPARE(attente.count(), 0);
    file.publier();
    file.ajouter(QStringLiteral("{}"));
    file.publier();
    QCOMPARE(attente.count(), 1);
    QCOMPARE(file.prendre().size(), 3);
    file.publier();
    QCOMPARE(attente.count(), 1);
    file.ajouter(QStringLiteral("{}"));
    file.publier();
    QCOMPARE(attente.count(), 2);
}

// Reports taken in batches from the queues, sharing transactions and bound
// through SQLite's own interface, leave the rows and print the lines that
// the same reports stored one by one do, failures included.
void TestGestionBDD::lotsCommeRapportsSeuls()
{
    QList<QByteArray> rapports;
    for (int i = 0; i < 2 * GestionBDD::rapportsParTransaction + 37; ++i) {
        const QByteArray n = QByteArray::number(i);
        switch (i % 7) {
        case 0:
            rapports << R"({"name":"hv)" + n + R"(","time":)" + n
                            + R"(,"cpu":1.5,"vms":[{"name":"a","uuid":"u","state":1,"ram":10},{"name":"b"}]})";
            break;
        case 1:
            rapports << "{";
            break;
        case 2:
            rapports << R"({"name":"hv","time":1,"vms":[{"name":"a"},{"name":null,"state":)" + n + "}]}";
            break;
        case 3:
            rapports << R"({"time":)" + n + R"(,"vms":[{"name":"orpheline"}]})";
            break;
        case 4:
            rapports << R"({"name":{"a":1},"time":"t","disk":true,"network":[1,"x"],)"
                        R"("vms":[{"name":"caf\u00e9","cpu":false,"maxram":9007199254740993}]})";
            break;
        case 5:
            rapports << R"({"name":"hv","time":1,"vms":[{},{},{},{},{},{},{},{},{},{},{},{}]})";
            break;
        default:
            rapports << "{\"name\":\"caf\xe9\",\"time\":" + n + R"(,"mbtemp":-0.0,"ram":1e300})";
            break;
        }
    }
    const QString hyperviseurs = QStringLiteral("SELECT id, quote(name), quote(time), quote(cputemp), quote(mbtemp), "
                                                "quote(cpu), quote(ram), quote(disk), quote(network) FROM InfosHyperviseurs");
    const QString vms = QStringLiteral("SELECT id, idinfos, quote(name), quote(uuid), quote(state), quote(cpu), quote(ram), "
                                       "quote(maxram), quote(network) FROM InfosVMs");

    for (const QByteArray &rapport : qAsConst(rapports))
        ajouter(rapport);
    const Lignes hyperviseursSeuls = lire(hyperviseurs);
    const Lignes vmsSeules = lire(vms);
    const QStringList consoleSeule = m_console->lignes();
    QVERIFY(hyperviseursSeuls.size() > 200);

    m_store.reset();
    m_store = std::make_unique<GestionBDD>();
    m_console->vider();
    FileRapports recus;
    FileRapports decodes;
    DecodeurRapports decodeur(&recus, &decodes);
    m_store->suivreFile(&decodes);
    for (const QByteArray &rapport : qAsConst(rapports))
        recus.ajouter(QString::fromLatin1(rapport));

    QTRY_COMPARE(lire(hyperviseurs), hyperviseursSeuls);
    QCOMPARE(lire(vms), vmsSeules);
    QCOMPARE(m_console->lignes(), consoleSeule);
    // Every batch ends with its commit: nothing is left open.
    QSqlDatabase base = QSqlDatabase::database(QStringLiteral("collecteur"), false);
    QVERIFY2(base.transaction(), qPrintable(base.lastError().text()));
    base.rollback();
}

void TestGestionBDD::valeursCommeQt_data()
{
    QTest::addColumn<QString>("colonne");
    QTest::addColumn<QByteArray>("valeur");

    const QList<QByteArray> valeurs{R"("")",
                                    R"("caf\u00e9")",
                                    R"("12")",
                                    R"(" 12")",
                                    R"("1e3")",
                                    "0",
                                    "-0",
                                    "1.5",
                                    "1e300",
                                    "-1e-300",
                                    "9007199254740993",
                                    "12345678901234567890",
                                    "true",
                                    "false",
                                    "[]",
                                    R"([1,"a"])",
                                    "{}",
                                    R"({"a":1})",
                                    "null",
                                    R"("\ud83d\ude00")",
                                    R"("a\u0000b")"};
    for (const char *colonne : {"name", "time", "cpu", "network"}) {
        for (const QByteArray &valeur : valeurs)
            QTest::addRow("%s %s", colonne, valeur.constData()) << QString::fromLatin1(colonne) << valeur;
    }
}

// Each value reaches the store as Qt's driver itself binds it.
void TestGestionBDD::valeursCommeQt()
{
    QFETCH(QString, colonne);
    QFETCH(QByteArray, valeur);

    QJsonObject rapport{{QStringLiteral("name"), QStringLiteral("hv")}, {QStringLiteral("time"), 1}};
    rapport.insert(colonne, QJsonDocument::fromJson("[" + valeur + "]").array().at(0));
    ajouter(QJsonDocument(rapport).toJson(QJsonDocument::Compact));
    const QString sql = QStringLiteral("SELECT typeof(%1), quote(%1) FROM InfosHyperviseurs").arg(colonne);
    const Lignes stockee = lire(sql);

    const QString nomReference = QStringLiteral("reference");
    {
        QSqlDatabase reference = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), nomReference);
        reference.setDatabaseName(QStringLiteral(":memory:"));
        QVERIFY(reference.open());
        QSqlQuery requete(reference);
        const Lignes schema = lire(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'InfosHyperviseurs'"));
        QVERIFY(requete.exec(schema.value(0).value(0).toString()));
        QStringList colonnes{QStringLiteral("name"), QStringLiteral("time")};
        if (!colonnes.contains(colonne))
            colonnes << colonne;
        QStringList marques;
        for (const QString &nom : colonnes)
            marques << QLatin1Char(':') + nom;
        QVERIFY(requete.prepare(QStringLiteral("INSERT INTO InfosHyperviseurs(%1) VALUES(%2)")
                                    .arg(colonnes.join(QLatin1Char(',')), marques.join(QLatin1Char(',')))));
        for (const QString &nom : colonnes) {
            const QJsonValue v = rapport.value(nom);
            requete.bindValue(QLatin1Char(':') + nom, v.isNull() || v.isUndefined() ? QVariant() : v.toVariant());
        }
        QCOMPARE(stockee, requete.exec() ? lire(reference, sql) : Lignes());
    }
    QSqlDatabase::removeDatabase(nomReference);
}

QTEST_GUILESS_MAIN(TestGestionBDD)
#include "tst_gestionbdd.moc"
