#!/usr/bin/python3
"""dbutool copy and import against independent readers.

CTest runs one group per process:

    /usr/bin/python3 transfer_interop_test.py --dbutool PATH GROUP

Round trips go through dbutool alone (DBF -> SDF, CSV or SQLite -> DBF give the same listing);
DBF copies are read by Debian's python3-dbfread, SQLite files by the sqlite3 shell, XLSX files
by Python's zipfile.
"""

import argparse
import datetime
import os
import random
import re
import sqlite3
import subprocess
import sys
import time
import unittest
import zipfile

import dbfread

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import interop_test as base  # noqa: E402  (shares the sample tables and rows)

run_tool = base.run_tool
tool_rows = base.tool_rows

# The sample tables (currency fields included).
TABLES = [(kind, fields) for kind, fields, _ in base.OUR_TABLES]


def make_table(test, name, kind, fields, rows):
    path = test.path(name)
    specs = ["%s:%s:%d:%d" % f for f in fields]
    memo = ["--memo", "FPT"] if kind == "vfp" else []
    run_tool("create", path, *specs, "--kind", kind, *memo)
    if rows:
        names = [f[0] for f in fields]
        header = ["_DELETED"] + names
        source = test.path(name + ".csv")
        base.write_csv(source, header, rows)
        run_tool("append", path, "--csv", source)
    return path


def has_line_break(row, fields):
    return any(f[1] == "C" and ("\r" in row.get(f[0], "") or "\n" in row.get(f[0], ""))
               for f in fields)


class RoundTrips(base.TempDirTest):
    # Fields that a format holds no value for: SDF keeps no memo text, and its 20-character
    # numbers cannot hold every binary double.
    LOST = {"sdf": {"M", "B"}, "csv": set(), "sqlite": set()}

    def test_every_text_form_comes_back(self):
        for kind, fields in TABLES:
            for fmt, ext in (("sdf", "txt"), ("csv", "csv"), ("sqlite", "sqlite")):
                with self.subTest(kind=kind, format=fmt):
                    rows = [r for r in base.OUR_ROWS
                            if fmt != "sdf" or not has_line_break(r, fields)]
                    src = make_table(self, "src_%s_%s.dbf" % (kind, fmt), kind, fields, rows)
                    out = self.path("out_%s.%s" % (kind, ext))
                    kept = [f[0] for f in fields if f[1] not in self.LOST[fmt]]
                    listed = ["--fields", ",".join(kept)]
                    run_tool("copy", src, out, *listed, "--table", "sample")
                    dst = make_table(self, "dst_%s_%s.dbf" % (kind, fmt), kind, fields, [])
                    run_tool("import", dst, out, *listed, *(["--table", "sample"] if fmt == "sqlite" else []))
                    before, after = tool_rows(src), tool_rows(dst)
                    self.assertEqual(len(before), len(after))
                    for b, a in zip(before, after):
                        self.assertEqual({k: b[k] for k in kept}, {k: a[k] for k in kept})


class DbfCopies(base.TempDirTest):
    def test_copies_of_every_kind_read_identically(self):
        for kind, fields in TABLES:
            with self.subTest(kind=kind):
                src = make_table(self, "src_%s.dbf" % kind, kind, fields, base.OUR_ROWS)
                dst = self.path("copy_%s.dbf" % kind)
                run_tool("copy", src, dst)
                info_src, info_dst = base.tool_info(src), base.tool_info(dst)
                self.assertEqual(info_src["version"], info_dst["version"])
                self.assertEqual(info_src["memo"], info_dst["memo"])
                self.assertEqual(info_src["fields"], info_dst["fields"])
                for deleted in (False, True):
                    a = dbfread.DBF(src, load=True, char_decode_errors="ignore")
                    b = dbfread.DBF(dst, load=True, char_decode_errors="ignore")
                    rows_a = a.deleted if deleted else a.records
                    rows_b = b.deleted if deleted else b.records
                    self.assertEqual([dict(r) for r in rows_a], [dict(r) for r in rows_b])

    def test_same_base_name_in_another_folder(self):
        fields = [("NAME", "C", 10, 0)]
        src = make_table(self, "people.dbf", "db3", fields, [{"NAME": "uno"}])
        os.mkdir(self.path("sub"))
        dst = self.path("sub/people.dbf")
        run_tool("copy", src, dst)
        run_tool("import", dst, src)
        self.assertEqual([r["NAME"] for r in tool_rows(dst)], ["uno", "uno"])


class SqliteExport(base.TempDirTest):
    def sql(self, db, query):
        return subprocess.run(["sqlite3", "-separator", "|", db, query], capture_output=True,
                              check=True).stdout.decode("utf-8")

    def test_column_types_and_values(self):
        kind, fields = TABLES[2]
        src = make_table(self, "clienti.dbf", kind, fields, base.OUR_ROWS)
        db = self.path("out.sqlite")
        run_tool("copy", src, db)
        info = self.sql(db, "PRAGMA table_info(clienti)")
        types = {line.split("|")[1]: line.split("|")[2] for line in info.splitlines()}
        self.assertEqual(types, {
            "NAME": "TEXT", "PRICE": "REAL", "QTY": "INTEGER", "RATIO": "REAL", "BORN": "TEXT",
            "PAID": "INTEGER", "COUNT": "INTEGER", "WEIGHT": "REAL", "SEEN": "TEXT",
            "BALANCE": "REAL", "NOTE": "TEXT"})
        self.assertEqual(self.sql(db, "SELECT BALANCE FROM clienti").splitlines()[:2],
                         ["12.3456", "-12345678.9012"])
        rows = self.sql(db, "SELECT NAME, PRICE, QTY, BORN, PAID, SEEN, typeof(PRICE), "
                            "typeof(BORN), typeof(PAID) FROM clienti").splitlines()
        self.assertEqual(rows[0], "Café crème|12.5|3|1999-12-31|1|2024-02-29 23:59:59.999|"
                                  "real|text|integer")
        self.assertEqual(rows[2], "||||||null|null|null")  # blank number, date, logical
        # A second table in the same file, named by --table; a query reads it back.
        run_tool("copy", src, db, "--table", "second", "--fields", "NAME,QTY", "--for", "QTY > 0")
        self.assertEqual(self.sql(db, "SELECT count(*) FROM second"), "3\n")
        dst = make_table(self, "back.dbf", kind, fields, [])
        run_tool("import", dst, db, "--query", "SELECT NAME, QTY FROM second WHERE QTY > 2")
        self.assertEqual([(r["NAME"], r["QTY"]) for r in tool_rows(dst)],
                         [("Café crème", "3"), ("  leading blanks", "42")])

    def test_rejected_row_leaves_nothing(self):
        db = self.path("bad.sqlite")
        subprocess.run(["sqlite3", db, "CREATE TABLE t (NAME TEXT, QTY INTEGER);"
                        "INSERT INTO t VALUES ('ok', 1), ('too wide', 123456), ('after', 2)"],
                       check=True)
        dst = make_table(self, "dst.dbf", "db3", [("NAME", "C", 10, 0), ("QTY", "N", 3, 0)], [])
        proc = run_tool("import", dst, db, "--table", "t", expect_ok=False)
        self.assertEqual(proc.returncode, 1)
        rows = tool_rows(dst)
        self.assertEqual([(r["_DELETED"], r["NAME"]) for r in rows], [("", "ok")])

    def test_a_failed_copy_leaves_the_database_as_it_was(self):
        """Killed at random moments or stopped by a full disk, a copy into the user's database
        rolls back: the table it would replace and a table it never touched stay, and the file
        passes its integrity check."""
        rows = 15000
        src = make_table(self, "big.dbf", "db3", [("NAME", "C", 20, 0), ("QTY", "N", 8, 0)], [])
        with open(self.path("big.csv"), "w") as f:
            f.write("NAME,QTY\n" + "".join("name %d,%d\n" % (i, i) for i in range(rows)))
        run_tool("append", src, "--csv", self.path("big.csv"))
        keep = [(i, "row %d" % i) for i in range(2000)]

        def user_db(path):
            con = sqlite3.connect(path)
            con.execute("CREATE TABLE keep (a INTEGER, b TEXT)")
            con.executemany("INSERT INTO keep VALUES (?, ?)", keep)
            con.execute("CREATE TABLE big (NAME TEXT, QTY INTEGER)")
            con.executemany("INSERT INTO big VALUES (?, ?)", [("old", 1), ("old", 2)])
            con.commit()
            con.close()

        def copied_rows(path, why):
            con = sqlite3.connect(path)  # rolls a hot journal back
            try:
                self.assertEqual(con.execute("PRAGMA integrity_check").fetchall(), [("ok",)], why)
                self.assertEqual(con.execute("SELECT a, b FROM keep ORDER BY a").fetchall(), keep,
                                 why)
                big = con.execute("SELECT count(*), min(NAME) FROM big").fetchone()
            finally:
                con.close()
            self.assertIn(big, [(2, "old"), (rows, "name 0")], why)
            return big[0]

        db = self.path("whole.sqlite")
        user_db(db)
        start = time.monotonic()
        run_tool("copy", src, db, "--table", "big")
        whole = time.monotonic() - start
        self.assertEqual(copied_rows(db, "whole copy"), rows)

        chance = random.Random()
        for i in range(6):
            db = self.path("killed%d.sqlite" % i)
            user_db(db)
            delay = chance.uniform(0, whole)
            proc = subprocess.Popen([base.DBUTOOL, "copy", src, db, "--table", "big"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(delay)
            proc.kill()
            proc.wait()
            copied_rows(db, "killed after %.3f s" % delay)

        disk = self.path("small")
        os.mkdir(disk)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", disk],
                          capture_output=True).returncode != 0:
            self.skipTest("no tmpfs can be mounted here")
        try:
            db = os.path.join(disk, "full.sqlite")
            user_db(db)
            proc = run_tool("copy", src, db, "--table", "big", expect_ok=False)
            self.assertNotEqual(proc.returncode, 0)
            self.assertEqual(copied_rows(db, "full disk"), 2)
        finally:
            subprocess.run(["umount", disk])


class XlsxExport(base.TempDirTest):
    def test_sheet_cells(self):
        kind, fields = TABLES[2]
        src = make_table(self, "fogli.dbf", kind, fields, base.OUR_ROWS[:3])
        out = self.path("out.xlsx")
        run_tool("copy", src, out)
        with zipfile.ZipFile(out) as z:
            sheet = z.read("xl/worksheets/sheet1.xml").decode("utf-8")
            workbook = z.read("xl/workbook.xml").decode("utf-8")
            styles = z.read("xl/styles.xml").decode("utf-8")
        self.assertIn('name="fogli"', workbook)
        cells = dict(re.findall(r'<c r="([A-Z]+[0-9]+)"[^>]*?(?:/>|>(.*?)</c>)', sheet, re.S))
        attrs = dict(re.findall(r'<c r="([A-Z]+[0-9]+)"([^>]*)', sheet))

        def text(ref):
            return re.sub(r"<[^>]+>", "", cells.get(ref, ""))
        self.assertEqual(text("A1"), "NAME")
        self.assertEqual(text("A2"), "Café crème")
        self.assertEqual(text("B2"), "12.5")          # PRICE, a number
        self.assertNotIn('t="', attrs["B2"])
        self.assertIn('s="', attrs["B2"])             # with the 0.00 format
        self.assertIn('formatCode="0.00"', styles)
        self.assertEqual(text("E2"), "36525")         # 1999-12-31 as a date serial
        self.assertIn('formatCode="yyyy-mm-dd"', styles)
        self.assertEqual(text("F2"), "1")             # PAID TRUE
        self.assertIn('t="b"', attrs["F2"])
        self.assertEqual(text("F3"), "0")
        self.assertNotIn("B4", cells)                 # a blank number leaves no cell
        self.assertEqual(text("J2"), "12.3456")       # BALANCE, a currency number
        self.assertNotIn('t="', attrs["J2"])
        self.assertIn('formatCode="0.0000"', styles)
        self.assertTrue(text("K2").startswith("Prima riga"))  # the memo as text


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dbutool", required=True)
    parser.add_argument("groups", nargs="*")
    args, rest = parser.parse_known_args()
    base.DBUTOOL = os.path.abspath(args.dbutool)
    program = unittest.main(argv=[sys.argv[0], *rest, *args.groups], exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
