// SPDX-License-Identifier: MIT
#ifndef DECODEURRAPPORTS_H
#define DECODEURRAPPORTS_H

#include <QObject>

class FileRapports;

// Reads the reports of one queue as JSON and passes them on, in order, to
// another. In a thread of its own it takes the parsing off both the
// receiver's thread, which must keep up with the socket, and the store's,
// which has the insertions to do.
class DecodeurRapports : public QObject
{
    Q_OBJECT

public:
    DecodeurRapports(FileRapports *entree, FileRapports *sortie, QObject *parent = nullptr);

public slots:
    // Everything waiting in the first queue, into the second.
    void decoder();

private:
    FileRapports *m_entree;
    FileRapports *m_sortie;
};

#endif
