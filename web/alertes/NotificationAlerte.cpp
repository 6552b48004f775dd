// SPDX-License-Identifier: MIT
#include "NotificationAlerte.h"

#include <QCryptographicHash>
#include <QDateTime>

#include <cmath>

namespace {

const QChar separateur(0x1f);

QString nombre(double valeur)
{
    return QString::number(valeur, 'f', std::abs(valeur - std::round(valeur)) < 1e-9 ? 0 : 1);
}

QString decrire(const Alerte &alerte)
{
    if (alerte.alertname == QLatin1String("HyperviseurInjoignable"))
        return QStringLiteral("Aucun rapport depuis %1 s (limite %2 s).").arg(nombre(alerte.valeur), nombre(alerte.seuil));
    if (alerte.alertname == QLatin1String("VmArretee")) {
        if (!std::isfinite(alerte.valeur))
            return QStringLiteral("La VM, vue en marche, a disparu du rapport.");
        return QStringLiteral("La VM, vue en marche, est dans l'état libvirt %1 (%2).")
            .arg(nombre(alerte.valeur),
                 alerte.etat == EtatAlerte::Critique ? QStringLiteral("plantée") : QStringLiteral("arrêtée"));
    }
    QString texte = std::isfinite(alerte.valeur) ? QStringLiteral("Valeur %1").arg(nombre(alerte.valeur))
                                                 : QStringLiteral("Valeur inconnue");
    if (std::isfinite(alerte.seuil))
        texte += QStringLiteral(", seuil %1").arg(nombre(alerte.seuil));
    texte += QStringLiteral(", depuis le %1.")
                 .arg(QDateTime::fromMSecsSinceEpoch(alerte.depuis, Qt::UTC).toString(QStringLiteral("dd/MM/yyyy HH:mm:ss 'UTC'")));
    if (alerte.instable)
        texte += QStringLiteral(" Instable : change d'état trop souvent pour être notifiée à chaque fois.");
    return texte;
}

} // namespace

NotificationAlerte NotificationAlerte::depuis(const Alerte &alerte)
{
    NotificationAlerte n;
    n.alertname = alerte.alertname;
    n.severity = alerte.declenchee() ? alerte.severity() : Alerte::nomEtat(EtatAlerte::Avertissement);
    n.hyperviseur = alerte.hyperviseur;
    n.vm = alerte.vm;
    n.summary = alerte.vm.isEmpty()
                    ? QStringLiteral("%1 (%2) sur %3").arg(n.alertname, n.severity, n.hyperviseur)
                    : QStringLiteral("%1 (%2) : VM %3 sur %4").arg(n.alertname, n.severity, n.vm, n.hyperviseur);
    n.description = decrire(alerte);
    n.debut = alerte.depuis;
    return n;
}

QString NotificationAlerte::cle(const Alerte &alerte)
{
    return alerte.alertname + separateur + alerte.hyperviseur + separateur + alerte.vm;
}

QString NotificationAlerte::cle() const
{
    return alertname + separateur + hyperviseur + separateur + vm;
}

QString NotificationAlerte::empreinte() const
{
    const QByteArray etiquettes = (cle() + separateur + severity).toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(etiquettes, QCryptographicHash::Sha256).toHex().left(16));
}

QJsonObject NotificationAlerte::etiquettes() const
{
    QJsonObject objet{{QStringLiteral("alertname"), alertname},
                      {QStringLiteral("severity"), severity},
                      {QStringLiteral("hyperviseur"), hyperviseur}};
    if (!vm.isEmpty())
        objet.insert(QStringLiteral("vm"), vm);
    return objet;
}

QJsonObject NotificationAlerte::annotations() const
{
    return QJsonObject{{QStringLiteral("summary"), summary}, {QStringLiteral("description"), description}};
}

QJsonObject NotificationAlerte::json() const
{
    return QJsonObject{{QStringLiteral("etiquettes"), etiquettes()},
                       {QStringLiteral("annotations"), annotations()},
                       {QStringLiteral("debut"), double(debut)},
                       {QStringLiteral("fin"), double(fin)}};
}

NotificationAlerte NotificationAlerte::lire(const QJsonObject &objet)
{
    NotificationAlerte n;
    const QJsonObject etiquettes = objet.value(QStringLiteral("etiquettes")).toObject();
    const QJsonObject annotations = objet.value(QStringLiteral("annotations")).toObject();
    n.alertname = etiquettes.value(QStringLiteral("alertname")).toString();
    n.severity = etiquettes.value(QStringLiteral("severity")).toString();
    n.hyperviseur = etiquettes.value(QStringLiteral("hyperviseur")).toString();
    n.vm = etiquettes.value(QStringLiteral("vm")).toString();
    n.summary = annotations.value(QStringLiteral("summary")).toString();
    n.description = annotations.value(QStringLiteral("description")).toString();
    n.debut = qint64(objet.value(QStringLiteral("debut")).toDouble());
    n.fin = qint64(objet.value(QStringLiteral("fin")).toDouble());
    return n;
}
