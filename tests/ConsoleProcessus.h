// SPDX-License-Identifier: MIT
#ifndef CONSOLEPROCESSUS_H
#define CONSOLEPROCESSUS_H

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <QTest>

// The console lines of a program a test runs, gathered as they come.
class ConsoleProcessus
{
public:
    // `boucle`: waiting keeps the test's event loop running (for tests whose
    // own sockets must be served meanwhile) rather than waiting on the
    // process alone.
    ConsoleProcessus(QProcess &processus, bool boucle) : m_processus(processus), m_boucle(boucle) {}

    // The lines so far, without their line ends.
    QStringList lignes()
    {
        m_console += QString::fromUtf8(m_processus.readAllStandardError());
        QStringList resultat = m_console.split(QLatin1Char('\n'));
        resultat.removeLast();
        return resultat;
    }
    bool attendreLigne(const QString &ligne, int delai)
    {
        QDeadlineTimer limite(delai);
        while (!lignes().contains(ligne)) {
            if (limite.hasExpired() || m_processus.state() == QProcess::NotRunning)
                return lignes().contains(ligne);
            if (m_boucle)
                QTest::qWait(20);
            else
                m_processus.waitForReadyRead(100);
        }
        return true;
    }

private:
    QProcess &m_processus;
    bool m_boucle;
    QString m_console;
};

#endif
