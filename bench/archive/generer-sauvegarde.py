#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Writes one backup file as the collector would: --hyperviseurs hosts with
--vms VMs each, reporting every --intervalle seconds, --rapports times, in
the order reports arrive (each host row followed by its VM rows)."""
import argparse
import math
import os
import sqlite3
import time

SCHEMA = [
    "CREATE TABLE IF NOT EXISTS InfosHyperviseurs (id        INTEGER, "
    "name      VARCHAR(500)  NOT NULL, time      INTEGER       NOT NULL, "
    "cputemp   FLOAT, mbtemp    FLOAT, cpu       FLOAT, ram       FLOAT, "
    "disk      FLOAT, network   FLOAT, PRIMARY KEY(id))",
    "CREATE TABLE IF NOT EXISTS InfosVMs (id       INTEGER, "
    "idinfos  INTEGER        NOT NULL, name     VARCHAR(500)   NOT NULL, "
    "uuid     VARCHAR(50), state    SMALLINT, cpu      FLOAT, ram      INTEGER, "
    "maxram   INTEGER, network  FLOAT, PRIMARY KEY(id), FOREIGN KEY(idinfos) "
    "REFERENCES InfosHyperviseurs(id) ON DELETE CASCADE)",
    "CREATE INDEX IF NOT EXISTS InfosName  ON InfosHyperviseurs(name)",
    "CREATE INDEX IF NOT EXISTS InfosTime  ON InfosHyperviseurs(time)",
    "CREATE INDEX IF NOT EXISTS VMsIdinfos ON InfosVMs(idinfos)",
    "CREATE INDEX IF NOT EXISTS VMsName    ON InfosVMs(name)",
]


def ecrire(dossier, fin, hyperviseurs=1000, vms=20, rapports=360, intervalle=10, nom="hv-lab-%04d"):
    """The backup file named after `fin`, its rows up to `fin`; its path."""
    chemin = os.path.join(dossier, time.strftime("collecteur%d-%m-%Y_%H-%M-%S.db", time.localtime(fin)))
    base = sqlite3.connect(chemin + ".en-cours")
    base.execute("PRAGMA journal_mode=OFF")
    base.execute("PRAGMA synchronous=OFF")
    for instruction in SCHEMA:
        base.execute(instruction)
    debut = fin - rapports * intervalle
    hid = 0
    vid = 0
    for r in range(rapports):
        t = debut + (r + 1) * intervalle
        hotes = []
        lignes_vms = []
        for h in range(hyperviseurs):
            hid += 1
            x = 0.5 + 0.5 * math.sin((t / 600.0) + h)
            hotes.append((hid, nom % (h + 1), t, 40 + 20 * x, 35 + 5 * x,
                          round(100 * x, 1), 60 + 10 * x, 50.0, round(800 * x, 2)))
            for v in range(vms):
                vid += 1
                y = 0.5 + 0.5 * math.sin((t / 300.0) + h + v)
                lignes_vms.append((vid, hid, "vm-%d-%d" % (h + 1, v + 1), "00000000-0000-4000-8000-%012d" % (h * 1000 + v),
                                   1, round(100 * y, 1), int(4194304 * y), 4194304, round(50 * y, 2)))
        base.executemany("INSERT INTO InfosHyperviseurs VALUES (?,?,?,?,?,?,?,?,?)", hotes)
        base.executemany("INSERT INTO InfosVMs VALUES (?,?,?,?,?,?,?,?,?)", lignes_vms)
    base.commit()
    base.close()
    os.rename(chemin + ".en-cours", chemin)
    return chemin


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--hyperviseurs", type=int, default=1000)
    p.add_argument("--vms", type=int, default=20)
    p.add_argument("--rapports", type=int, default=360)
    p.add_argument("--intervalle", type=int, default=10)
    p.add_argument("--nom", default="hv-lab-%04d", help="host names, numbered from 1 (default: hv-lab-%%04d)")
    p.add_argument("--fin", type=int, default=int(time.time()) // 3600 * 3600,
                   help="Unix time of the hour's end (default: the last full hour)")
    p.add_argument("dossier")
    a = p.parse_args()
    print(ecrire(a.dossier, a.fin, a.hyperviseurs, a.vms, a.rapports, a.intervalle, a.nom))


if __name__ == "__main__":
    main()
