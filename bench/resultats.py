# SPDX-License-Identifier: MIT
"""Shared by the benchmark's scripts: bench/RESULTS.md, one section each."""


def ecrire_section(chemin, titre, section):
    """Replaces the section headed `titre` in `chemin` (or adds it at the end)."""
    try:
        with open(chemin) as fichier:
            texte = fichier.read()
    except FileNotFoundError:
        texte = "# Benchmark results\n"
    debut = texte.find(titre)
    if debut >= 0:
        suite = texte.find("\n## ", debut + len(titre))
        texte = texte[:debut] + (texte[suite + 1:] if suite >= 0 else "")
    texte = texte.rstrip("\n") + "\n\n" + section
    with open(chemin, "w") as fichier:
        fichier.write(texte)
