#include "HyperviseurUDPSocket.h"

#include "Console.h"

#include <QByteArray>
#include <QHostAddress>

HyperviseurUDPSocket::HyperviseurUDPSocket(quint16 port, QObject *parent)
    : QUdpSocket(parent)
{
    // Without address sharing a second collector on the same port fails to
    // bind instead of silently stealing part of the traffic; QHostAddress::AnyIPv4
    // keeps sender addresses in dotted decimal, as the sequence table expects.
    bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress);
    connect(this, &QUdpSocket::readyRead, this, &HyperviseurUDPSocket::lireDatagrammes);
}

HyperviseurUDPSocket::~HyperviseurUDPSocket() = default;

void HyperviseurUDPSocket::lireDatagrammes()
{
    QByteArray tampon;
    QHostAddress source;
    while (hasPendingDatagrams()) {
        const qint64 taille = pendingDatagramSize();
        tampon.resize(int(qMax<qint64>(taille, 0)));
        const qint64 lus = readDatagram(tampon.data(), tampon.size(), &source);
        tampon.resize(int(qBound<qint64>(0, lus, tampon.size())));

        const QString expediteur = source.toString();

        quint32 sequence = 0;
        for (int i = 0; i < qMin(4, tampon.size()); ++i)
            sequence = (sequence << 8) | quint8(tampon.at(i));

        const auto precedent = m_sequences.constFind(expediteur);
        if (precedent != m_sequences.constEnd() && sequence != quint32(*precedent + 1u) && sequence != 0) {
            const int perdus = int(quint32(sequence - *precedent - 1u));
            if (perdus > 0)
                emit paquetsPerdus(perdus);
            Console::ecrire(expediteur, ": ", QString::number(perdus) + QStringLiteral(" paquet(s) perdu(s)."));
        }
        m_sequences.insert(expediteur, sequence);

        const char *texte = tampon.constData() + qMin(4, tampon.size());
        const int longueur = int(qstrnlen(texte, uint(tampon.size() - qMin(4, tampon.size()))));
        emit nouvellesDonnes(QString::fromLatin1(texte, longueur));

        Console::ecrire("Réception de ", expediteur + QStringLiteral("  SeqNb:") + QString::number(sequence));
    }
}
