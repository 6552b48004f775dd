// SPDX-License-Identifier: MIT
// Feeds every file of the given folders (or the given files) to a fuzz
// target's entry point, without libFuzzer: each input that ever found a fault
// stays a test of the ordinary build.
#include <QByteArray>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *donnees, size_t taille);

int main(int argc, char **argv)
{
    QStringList fichiers;
    for (int i = 1; i < argc; ++i) {
        const QString chemin = QFile::decodeName(argv[i]);
        if (QFileInfo(chemin).isDir()) {
            QDirIterator parcours(chemin, QDir::Files, QDirIterator::Subdirectories);
            while (parcours.hasNext())
                fichiers << parcours.next();
        } else {
            fichiers << chemin;
        }
    }
    fichiers.sort();

    LLVMFuzzerInitialize(&argc, &argv);
    for (const QString &chemin : qAsConst(fichiers)) {
        QFile fichier(chemin);
        if (!fichier.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "Lecture impossible : %s\n", qPrintable(chemin));
            return 1;
        }
        const QByteArray octets = fichier.readAll();
        std::fprintf(stderr, "%s\n", qPrintable(chemin));
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(octets.constData()), size_t(octets.size()));
    }
    std::fprintf(stderr, "%d entrée(s) rejouée(s)\n", int(fichiers.size()));
    return fichiers.isEmpty() ? 1 : 0;
}
