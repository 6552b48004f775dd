// SPDX-License-Identifier: MIT
#include "ClesJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QJsonParseError>
#include <QTest>

class TestClesJson : public QObject
{
    Q_OBJECT

private slots:
    void renommerDoublons_data();
    void renommerDoublons();
    void validiteInchangee_data();
    void validiteInchangee();
    void texteRacine_data();
    void texteRacine();
};

void TestClesJson::renommerDoublons_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QByteArray>("attendu");
    // What the parser makes of the text, written without duplicates: parsing
    // the text itself would lose memory.
    QTest::addColumn<QByteArray>("equivalent");

    const QByteArray rapport = R"({"name":"hv","time":1,"vms":[{"name":"vm","uuid":"u"}]})";
    QTest::newRow("rapport sans doublon") << rapport << rapport << rapport;
    QTest::newRow("meme cle dans deux objets")
        << QByteArray(R"([{"a":1},{"a":2}])") << QByteArray(R"([{"a":1},{"a":2}])") << QByteArray(R"([{"a":1},{"a":2}])");
    QTest::newRow("valeurs egales aux cles") << QByteArray(R"({"a":"a","b":["a","a"]})")
                                             << QByteArray(R"({"a":"a","b":["a","a"]})")
                                             << QByteArray(R"({"a":"a","b":["a","a"]})");
    QTest::newRow("tableau remplace") << QByteArray(R"({"a":[1],"a":2})") << QByteArray(R"({"a\u00000":[1],"a":2})")
                                      << QByteArray(R"({"a":2})");
    QTest::newRow("trois fois") << QByteArray(R"({"a":{"b":1},"a":2, "a" :3})")
                                << QByteArray(R"({"a\u00000":{"b":1},"a\u00001":2, "a" :3})") << QByteArray(R"({"a":3})");
    QTest::newRow("nom de remplacement pris") << QByteArray(R"({"a":[1],"a\u00000":5,"a":2})")
                                              << QByteArray(R"({"a\u00001":[1],"a\u00000":5,"a":2})")
                                              << QByteArray(R"({"a":2})");
    QTest::newRow("echappement") << QByteArray(R"({"a":[1],"\u0061":2})") << QByteArray(R"({"a\u00000":[1],"\u0061":2})")
                                 << QByteArray(R"({"a":2})");
    QTest::newRow("paire de substitution") << QByteArray("{\"\\ud83d\\ude00\":[1],\"\xf0\x9f\x98\x80\":2}")
                                           << QByteArray("{\"\\ud83d\\ude00\\u00000\":[1],\"\xf0\x9f\x98\x80\":2}")
                                           << QByteArray("{\"\xf0\x9f\x98\x80\":2}");
    QTest::newRow("guillemet dans la cle") << QByteArray(R"({"a\"b":[1],"a\"b":2})")
                                           << QByteArray(R"({"a\"b\u00000":[1],"a\"b":2})") << QByteArray(R"({"a\"b":2})");
    QTest::newRow("barres obliques avant un guillemet")
        << QByteArray(R"({"x":"a\\\"b\\","a":[1],"a":2})") << QByteArray(R"({"x":"a\\\"b\\","a\u00000":[1],"a":2})")
        << QByteArray(R"({"x":"a\\\"b\\","a":2})");
    QByteArray cent;
    QByteArray centRenommees;
    QByteArray centSansDoublon;
    for (int i = 0; i < 100; ++i) {
        const QByteArray valeur = QByteArray::number(i) + ',';
        cent += "\"k" + QByteArray::number(i) + "\":" + valeur;
        centRenommees += "\"k" + QByteArray::number(i) + (i == 7 ? "\\u00000" : "") + "\":" + valeur;
        if (i != 7)
            centSansDoublon += "\"k" + QByteArray::number(i) + "\":" + valeur;
    }
    QTest::newRow("cent cles puis un doublon") << '{' + cent + R"("k7":[1]})" << '{' + centRenommees + R"("k7":[1]})"
                                               << '{' + centSansDoublon + R"("k7":[1]})";
    QTest::newRow("objets imbriques") << QByteArray(R"({"vms":[{"n":[1],"n":2}],"vms":[{"n":[3],"n":4}]})")
                                      << QByteArray(R"({"vms\u00000":[{"n\u00000":[1],"n":2}],"vms":[{"n\u00000":[3],"n":4}]})")
                                      << QByteArray(R"({"vms":[{"n":4}]})");
}

namespace {

// The value without the keys that renaming made (those holding a zero).
QJsonValue sansRenommees(const QJsonValue &valeur)
{
    if (valeur.isArray()) {
        QJsonArray tableau;
        for (const QJsonValue &element : valeur.toArray())
            tableau.append(sansRenommees(element));
        return tableau;
    }
    if (!valeur.isObject())
        return valeur;
    QJsonObject objet;
    const QJsonObject source = valeur.toObject();
    for (auto membre = source.begin(); membre != source.end(); ++membre) {
        if (!membre.key().contains(QChar(0)))
            objet.insert(membre.key(), sansRenommees(membre.value()));
    }
    return objet;
}

} // namespace

// The renamed text is what the store parses: the last value of a key must
// still win, and nothing else may change.
void TestClesJson::renommerDoublons()
{
    QFETCH(QByteArray, json);
    QFETCH(QByteArray, attendu);
    QFETCH(QByteArray, equivalent);

    const QByteArray sortie = ClesJson::renommerDoublons(json);
    QCOMPARE(sortie, attendu);
    QJsonParseError erreur;
    const QJsonDocument document = QJsonDocument::fromJson(sortie, &erreur);
    QVERIFY2(erreur.error == QJsonParseError::NoError, qPrintable(erreur.errorString()));
    const QJsonValue racine = document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
    const QJsonDocument attenduDocument = QJsonDocument::fromJson(equivalent);
    QCOMPARE(sansRenommees(racine),
             attenduDocument.isArray() ? QJsonValue(attenduDocument.array()) : QJsonValue(attenduDocument.object()));
}

// Values that the parser does not lose, so that the text can be parsed as it
// is: the renamed one must be valid exactly when it is.
void TestClesJson::validiteInchangee_data()
{
    QTest::addColumn<QByteArray>("json");

    QTest::newRow("texte non ferme apres l'objet") << QByteArray(R"([{"a":1,"a":2},"x)");
    QTest::newRow("echappement invalide") << QByteArray(R"({"a\x":1,"a\x":2})");
    QTest::newRow("echappement unicode incomplet") << QByteArray(R"({"a\u12":1,"a\u12":2})");
    QTest::newRow("UTF-8 invalide") << QByteArray("{\"\xff\":1,\"\xff\":2}");
    QTest::newRow("caractere de controle") << QByteArray("{\"a\n\":1,\"a\n\":2}");
    QTest::newRow("virgule en trop") << QByteArray(R"({"a":1,"a":2,})");
    QTest::newRow("octets apres l'objet") << QByteArray(R"({"a":1,"a":2} x)");
    QTest::newRow("valide") << QByteArray(R"({"a":1,"a":2})");
}

void TestClesJson::validiteInchangee()
{
    QFETCH(QByteArray, json);

    const QByteArray sortie = ClesJson::renommerDoublons(json);
    QVERIFY(sortie != json);
    QJsonParseError avant;
    QJsonParseError apres;
    QJsonDocument::fromJson(json, &avant);
    QJsonDocument::fromJson(sortie, &apres);
    QCOMPARE(apres.error == QJsonParseError::NoError, avant.error == QJsonParseError::NoError);
}

void TestClesJson::texteRacine_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QByteArray>("nom"); // null: the text must be parsed

    QTest::newRow("simple") << QByteArray(R"({"name":"hv-1","cpu":3})") << QByteArray("hv-1");
    QTest::newRow("apres-les-vms") << QByteArray(R"({"vms":[{"name":"vm-1","x":{"name":"y"}}], "name" : "hv-2"})")
                                   << QByteArray("hv-2");
    QTest::newRow("chaine-avec-virgules") << QByteArray(R"({"a":"x,\"name\":\"faux\",}","name":"hv-3"})") << QByteArray("hv-3");
    QTest::newRow("seulement-dans-une-vm") << QByteArray(R"({"vms":[{"name":"hv-4"}]})") << QByteArray();
    QTest::newRow("en-double") << QByteArray(R"({"name":"hv-a","name":"hv-b"})") << QByteArray();
    QTest::newRow("echappement-dans-le-nom") << QByteArray(R"({"name":"hv\u002d5"})") << QByteArray();
    QTest::newRow("echappement-dans-une-cle") << QByteArray(R"({"n\u0061me":"hv-b","name":"hv-a"})") << QByteArray();
    QTest::newRow("non-ascii") << QByteArray("{\"name\":\"hv-\xc3\xa9\"}") << QByteArray();
    QTest::newRow("pas-une-chaine") << QByteArray(R"({"name":42})") << QByteArray();
    QTest::newRow("tableau") << QByteArray(R"([{"name":"hv-6"}])") << QByteArray();
    QTest::newRow("tronque") << QByteArray(R"({"name":"hv-7)") << QByteArray();
}

void TestClesJson::texteRacine()
{
    QFETCH(QByteArray, json);
    QFETCH(QByteArray, nom);

    QByteArray lu;
    QCOMPARE(ClesJson::texteRacine(json.constData(), int(json.size()), QByteArrayLiteral("name"), lu), !nom.isNull());
    if (nom.isNull())
        return;
    QCOMPARE(lu, nom);
    // The parser's own answer.
    QCOMPARE(QJsonDocument::fromJson(json).object().value(QStringLiteral("name")).toString().toLatin1(), nom);
}

QTEST_GUILESS_MAIN(TestClesJson)
#include "tst_clesjson.moc"
