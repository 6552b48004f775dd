// SPDX-License-Identifier: MIT
#ifndef PROGRAMME_H
#define PROGRAMME_H

#include "ConsoleProcessus.h"

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

    QStringList lignes() { return m_console.lignes(); }
    bool attendreLigne(const QString &ligne, int delai = 15000) { return m_console.attendreLigne(ligne, delai); }
    bool arreter()
    {
        m_processus.terminate();
        return m_processus.waitForFinished(30000) && m_processus.exitStatus() == QProcess::NormalExit;
    }
    QProcess &processus() { return m_processus; }

private:
    QProcess m_processus;
    ConsoleProcessus m_console{m_processus, true};
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
