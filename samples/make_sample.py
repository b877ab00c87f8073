#!/usr/bin/python3
"""Writes samples/CLIENTI.DBF, the small customer table the program opens by default, and
samples/ORDINI.DBF with its memo file ORDINI.DBT, a table of orders with notes.

Run with the system Python and its dbf package (Debian python3-dbf):
    /usr/bin/python3 samples/make_sample.py
"""
import datetime
import os

import dbf

HERE = os.path.dirname(os.path.abspath(__file__))
TABLE = os.path.join(HERE, "CLIENTI.DBF")

FIELDS = ("CODICE N(5,0); RAGSOC C(30); INDIRIZZO C(30); CITTA C(20); PROV C(2); "
          "CAP C(5); TELEFONO C(15); DATAINS D; FIDO N(10,2); ATTIVO L")

CLIENTI = [
    (1, "Rossi Mario & C. s.n.c.", "Via Roma 12", "Torino", "TO", "10121",
     "011 5551234", (2019, 3, 14), 15000.00, True),
    (2, "Bianchi Forniture S.r.l.", "Corso Buenos Aires 45", "Milano", "MI", "20124",
     "02 5559876", (2020, 7, 1), 32000.50, True),
    (3, "Trattoria da Gino", "Piazza del Campo 3", "Siena", "SI", "53100",
     "0577 555321", (2018, 11, 23), 2500.00, True),
    (4, "Ferri Costruzioni S.p.A.", "Via Emilia Est 210", "Modena", "MO", "41121",
     "059 5554433", (2021, 2, 8), 120000.00, True),
    (5, "Esposito Giuseppe", "Via Toledo 156", "Napoli", "NA", "80134",
     "081 5557788", (2017, 5, 30), 0.00, False),
    (6, "Caffè Centrale", "Corso della Repubblica 8", "Forlì", "FC", "47121",
     "0543 555210", (2022, 9, 12), 4800.00, True),
    (7, "Lombardi Arredamenti", "Via Milano 77", "Cantù", "CO", "22063",
     "031 5556677", (2016, 1, 19), 27500.00, True),
    (8, "Greco Agrumi", "Via Etnea 301", "Catania", "CT", "95124",
     "095 5551122", (2023, 4, 3), 9000.00, True),
    (9, "Fontana Elettronica", "Viale Europa 5", "Verona", "VR", "37138",
     "045 5553344", (2015, 10, 27), 18250.75, False),
    (10, "Ricci & Marino Studio Legale", "Via Sparano 90", "Bari", "BA", "70121",
     "080 5559900", (2020, 12, 15), 6000.00, True),
    (11, "Colombo Tessuti", "Via Vittorio Veneto 21", "Como", "CO", "22100",
     "031 5552020", (2019, 6, 6), 22000.00, True),
    (12, "Pasticceria Dolce Vita", "Via Garibaldi 4", "Perugia", "PG", "06121",
     "075 5556060", (2024, 1, 10), 3500.00, True),
]

ORDINI_TABLE = os.path.join(HERE, "ORDINI.DBF")
ORDINI_FIELDS = "NUMERO N(6,0); CLIENTE N(5,0); DATA D; IMPORTO N(10,2); NOTE M"
ORDINI = [
    (1001, 1, (2024, 1, 8), 1250.00,
     "Consegna al magazzino di via Roma.\r\nFattura a 30 giorni, chiamare prima."),
    (1002, 3, (2024, 1, 9), 312.40, ""),
    (1003, 6, (2024, 1, 12), 89.90, "Caffè in grani, 12 confezioni."),
    (1004, 2, (2024, 2, 2), 4520.00,
     "Ordine urgente: spedire con corriere espresso.\r\nReferente: sig.ra Bianchi."),
    (1005, 7, (2024, 2, 20), 760.00, ""),
]


def write_ordini():
    for leftover in (ORDINI_TABLE, os.path.join(HERE, "ORDINI.DBT")):
        if os.path.exists(leftover):
            os.remove(leftover)
    table = dbf.Table(ORDINI_TABLE, ORDINI_FIELDS, codepage="cp1252", dbf_type="db3")
    table.open(dbf.READ_WRITE)
    for numero, cliente, data, importo, note in ORDINI:
        table.append((numero, cliente, datetime.date(*data), importo, note))
    table.close()


def main():
    for leftover in (TABLE, os.path.join(HERE, "CLIENTI.DBT")):
        if os.path.exists(leftover):
            os.remove(leftover)
    table = dbf.Table(TABLE, FIELDS, codepage="cp1252", dbf_type="db3")
    table.open(dbf.READ_WRITE)
    for (codice, ragsoc, indirizzo, citta, prov, cap, telefono, data, fido,
         attivo) in CLIENTI:
        table.append((codice, ragsoc, indirizzo, citta, prov, cap, telefono,
                      datetime.date(*data), fido, attivo))
    table.close()
    write_ordini()


if __name__ == "__main__":
    main()
