// SPDX-License-Identifier: MIT
#ifndef PROGRAMME_H
#define PROGRAMME_H

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTest>
#include <QUdpSocket>

// A real program run by a test: its console lines, and a stop at the end
// whatever happens.
class Programme
{
public:
    Programme(const QString &binaire, const QStringList &arguments, const QString &dossier = QString())
    {
        m_processus.setProgram(binaire);
        m_processus.setArguments(arguments);
        if (!dossier.isEmpty())
            m_processus.setWorkingDirectory(dossier);
        m_processus.start();
        m_processus.waitForStarted(10000);
    }
    ~Programme()
    {
        if (m_processus.state() != QProcess::NotRunning) {
            m_processus.kill();
            m_processus.waitForFinished(10000);
        }
    }

    QStringList lignes()
    {
        m_console += QString::fromUtf8(m_processus.readAllStandardError());
        QStringList resultat = m_console.split(QLatin1Char('\n'));
        resultat.removeLast();
        return resultat;
    }
    // Keeps the test's event loop running while it waits.
    bool attendreLigne(const QString &ligne, int delai = 15000)
    {
        QDeadlineTimer limite(delai);
        while (!lignes().contains(ligne)) {
            if (limite.hasExpired() || m_processus.state() == QProcess::NotRunning)
                return lignes().contains(ligne);
            QTest::qWait(20);
        }
        return true;
    }
    bool arreter()
    {
        m_processus.terminate();
        return m_processus.waitForFinished(30000) && m_processus.exitStatus() == QProcess::NormalExit;
    }
    QProcess &processus() { return m_processus; }

private:
    QProcess m_processus;
    QString m_console;
};

inline quint16 portTcpLibre()
{
    QTcpServer sonde;
    sonde.listen(QHostAddress::LocalHost, 0);
    return sonde.serverPort();
}

inline quint16 portUdpLibre()
{
    QUdpSocket sonde;
    sonde.bind(QHostAddress::LocalHost, 0);
    return sonde.localPort();
}

#endif
