// SPDX-License-Identifier: MIT
#include "HyperviseurUDPSocket.h"

#include "Console.h"

#include "DatagrammeRapport.h"
#include "SignatureRapport.h"

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>

#include <cerrno>
#include <linux/sock_diag.h>
#include <sys/socket.h>

HyperviseurUDPSocket::HyperviseurUDPSocket(quint16 port, QObject *parent)
    : QUdpSocket(parent)
    , m_lignesRefus(new QTimer(this))
{
    m_lignesRefus->setInterval(1000);
    connect(m_lignesRefus, &QTimer::timeout, this, [this]() {
        for (const QString &ligne : m_verificateur->lignesDues(QDateTime::currentMSecsSinceEpoch()))
            Console::ecrire(ligne);
        if (!m_verificateur->attente())
            m_lignesRefus->stop();
    });
    // Without address sharing a second collector on the same port fails to
    // bind instead of silently stealing part of the traffic; QHostAddress::AnyIPv4
    // keeps sender addresses in dotted decimal, as the sequence table expects.
    if (bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress)) {
        reglerTamponReception(tailleTamponSouhaitee);
        m_pertesSysteme = pertesSysteme();
    }
    connect(this, &QUdpSocket::readyRead, this, &HyperviseurUDPSocket::lireDatagrammes);
}

HyperviseurUDPSocket::~HyperviseurUDPSocket() = default;

int HyperviseurUDPSocket::reglerTamponReception(int octets)
{
    const int descripteur = int(socketDescriptor());
    if (descripteur < 0)
        return 0;
    // The forced variant passes the system's ceiling (net.core.rmem_max) when
    // the process may; otherwise the ordinary request gets what the ceiling allows.
    if (::setsockopt(descripteur, SOL_SOCKET, SO_RCVBUFFORCE, &octets, sizeof(octets)) != 0)
        ::setsockopt(descripteur, SOL_SOCKET, SO_RCVBUF, &octets, sizeof(octets));

    int accorde = 0;
    socklen_t taille = sizeof(accorde);
    ::getsockopt(descripteur, SOL_SOCKET, SO_RCVBUF, &accorde, &taille);
    // Linux reports twice the usable size, the other half being its bookkeeping.
    accorde /= 2;
    if (accorde < octets)
        Console::ecrire(QStringLiteral("Tampon de réception UDP limité à %1 octets au lieu de %2 : "
                                       "des datagrammes risquent d'être perdus en rafale (voir net.core.rmem_max).")
                            .arg(accorde)
                            .arg(octets));
    return accorde;
}

quint32 HyperviseurUDPSocket::pertesSysteme() const
{
    quint32 memoire[SK_MEMINFO_VARS] = {};
    socklen_t taille = sizeof(memoire);
    if (::getsockopt(int(socketDescriptor()), SOL_SOCKET, SO_MEMINFO, memoire, &taille) != 0
        || taille <= SK_MEMINFO_DROPS * sizeof(quint32))
        return m_pertesSysteme;
    return memoire[SK_MEMINFO_DROPS];
}

void HyperviseurUDPSocket::exigerSignatures(const FichierCles::Cles &cles, qint64 deriveMaxMs)
{
    m_verificateur = std::make_unique<VerificateurSignatures>(cles, deriveMaxMs);
}

void HyperviseurUDPSocket::traiter(const QHostAddress &source, const QByteArray &octets)
{
    const QString expediteur = source.toString();
    // Before the sequence check: a refused datagram is no sign of a loss.
    if (m_verificateur) {
        const qint64 maintenant = SignatureRapport::maintenant();
        VerificateurSignatures::Raison raison;
        if (!m_verificateur->verifier(octets, DatagrammeRapport::texte(octets), maintenant, raison)) {
            for (const QString &ligne : m_verificateur->refuser(expediteur, raison, maintenant / 1000))
                Console::ecrire(ligne);
            if (!m_lignesRefus->isActive())
                m_lignesRefus->start();
            return;
        }
    }
    const DecodeurDatagrammes::Datagramme datagramme = m_decodeur.decoder(expediteur, octets);
    if (datagramme.horsSequence) {
        if (datagramme.perdus > 0)
            emit paquetsPerdus(datagramme.perdus);
        Console::ecrire(expediteur, ": ", QString::number(datagramme.perdus) + QStringLiteral(" paquet(s) perdu(s)."));
    }
    emit nouvellesDonnes(datagramme.texte);

    Console::ecrire("Réception de ", expediteur + QStringLiteral("  SeqNb:") + QString::number(datagramme.sequence));
}

void HyperviseurUDPSocket::lireParLots()
{
    constexpr int parAppel = 16;
    const int descripteur = int(socketDescriptor());
    if (descripteur < 0)
        return;
    if (m_lot.size() != parAppel * tailleMaxDatagramme)
        m_lot.resize(parAppel * tailleMaxDatagramme);
    mmsghdr messages[parAppel];
    iovec zones[parAppel];
    sockaddr_storage adresses[parAppel];
    forever {
        for (int i = 0; i < parAppel; ++i) {
            zones[i] = {m_lot.data() + i * tailleMaxDatagramme, size_t(tailleMaxDatagramme)};
            messages[i] = {};
            messages[i].msg_hdr.msg_iov = &zones[i];
            messages[i].msg_hdr.msg_iovlen = 1;
            messages[i].msg_hdr.msg_name = &adresses[i];
            messages[i].msg_hdr.msg_namelen = sizeof(adresses[i]);
        }
        const int recus = ::recvmmsg(descripteur, messages, parAppel, MSG_DONTWAIT, nullptr);
        if (recus <= 0) {
            if (recus < 0 && errno == EINTR)
                continue;
            return;
        }
        for (int i = 0; i < recus; ++i) {
            const QHostAddress source(reinterpret_cast<const sockaddr *>(&adresses[i]));
            // Read in place: the decoder copies the text out.
            traiter(source, QByteArray::fromRawData(m_lot.constData() + i * tailleMaxDatagramme, int(messages[i].msg_len)));
        }
        if (recus < parAppel)
            return;
    }
}

void HyperviseurUDPSocket::lireDatagrammes()
{
    // Room for the largest UDP datagram: asking each one's size first would
    // cost one more system call per datagram.
    QByteArray tampon;
    QHostAddress source;
    // The first through Qt, which then watches the socket again; the others
    // in batches, one system call for many datagrams.
    if (hasPendingDatagrams()) {
        tampon.resize(tailleMaxDatagramme);
        const qint64 lus = readDatagram(tampon.data(), tampon.size(), &source);
        tampon.resize(int(qBound<qint64>(0, lus, tampon.size())));
        traiter(source, tampon);
        lireParLots();
        emit datagrammesLus();
    }

    // Datagrams the kernel dropped because the buffer was full never reach the
    // loss check of their sender in a way that tells the two causes apart.
    const quint32 pertes = pertesSysteme();
    if (pertes != m_pertesSysteme) {
        Console::ecrire(QStringLiteral("%1 datagramme(s) perdu(s) par le système avant lecture (tampon de réception plein).")
                            .arg(quint32(pertes - m_pertesSysteme)));
        m_pertesSysteme = pertes;
    }
}
