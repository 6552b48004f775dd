// SPDX-License-Identifier: MIT
#ifndef CAPTURECONSOLE_H
#define CAPTURECONSOLE_H

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

// Records the debug lines written while it lives, from any thread, so that a
// test can compare them with the exact console texts.
class CaptureConsole
{
public:
    CaptureConsole()
    {
        QMutexLocker verrou(&mutex());
        lignesCapturees().clear();
        s_precedent = qInstallMessageHandler(&CaptureConsole::recevoir);
    }
    ~CaptureConsole() { qInstallMessageHandler(s_precedent); }

    QStringList lignes() const
    {
        QMutexLocker verrou(&mutex());
        return lignesCapturees();
    }
    void vider()
    {
        QMutexLocker verrou(&mutex());
        lignesCapturees().clear();
    }

private:
    static void recevoir(QtMsgType type, const QMessageLogContext &, const QString &texte)
    {
        if (type != QtDebugMsg) {
            // Warnings are never part of a normal run: keep them visible.
            QMutexLocker verrou(&mutex());
            lignesCapturees().append(QStringLiteral("[avertissement] ") + texte);
            return;
        }
        QMutexLocker verrou(&mutex());
        lignesCapturees().append(texte);
    }
    static QMutex &mutex()
    {
        static QMutex m;
        return m;
    }
    static QStringList &lignesCapturees()
    {
        static QStringList l;
        return l;
    }
    static inline QtMessageHandler s_precedent = nullptr;
};

#endif
