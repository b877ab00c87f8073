#!/usr/bin/python3
"""dbutool copy and import against independent readers.

CTest runs one group per process:

    /usr/bin/python3 transfer_interop_test.py --dbutool PATH GROUP

Round trips go through dbutool alone (DBF -> SDF, CSV or SQLite -> DBF give the same listing);
DBF copies are read by Debian's python3-dbfread, SQLite files by the sqlite3 shell, XLSX files
by Python's zipfile.
"""

import argparse
import csv as csv_module
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

import sqlite3

import dbfread
import openpyxl

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
                    # Deleted records go to CSV and SQLite only when asked for, marked.
                    every = [] if fmt == "sdf" else ["--all"]
                    run_tool("copy", src, out, *listed, "--table", "sample", *every)
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


    def test_pgdbf_reads_a_dbase_iv_table_with_memos_written_here(self):
        src = make_table(self, "memo4.dbf", "db4", [("NAME", "C", 10, 0), ("NOTE", "M", 10, 0)],
                         [{"NAME": "uno", "NOTE": "prima nota"}, {"NAME": "due", "NOTE": "x" * 700}])
        with open(self.path("memo4.dbt"), "rb") as f:
            self.assertEqual(f.read(8)[4:], b"\0\0\0\0")  # as dBase IV leaves them
        # pgdbf stops on a bus error when they hold the block size; it lists no dBase IV memo
        # text (neither of the real dBase IV tables).
        proc = subprocess.run(["pgdbf", "-m", self.path("memo4.dbt"), src], capture_output=True)
        self.assertEqual(proc.returncode, 0, proc.stderr.decode(errors="replace"))
        out = proc.stdout.decode()
        self.assertIn("uno\t", out)
        self.assertIn("due\t", out)

    def test_sdf_on_standard_output_ends_without_the_end_byte(self):
        src = make_table(self, "s.dbf", "db3", [("NAME", "C", 4, 0)], [{"NAME": "ab"}])
        self.assertEqual(run_tool("copy", src, "-", "--format", "sdf").stdout, b"ab  \r\n")
        run_tool("copy", src, self.path("s.txt"))
        with open(self.path("s.txt"), "rb") as f:
            self.assertEqual(f.read(), b"ab  \r\n\x1a")

    def test_tags_lists_keys_without_their_padding(self):
        src = make_table(self, "k.dbf", "db3", [("NAME", "C", 4, 0)], [{"NAME": "ab"}])
        for driver, bag in (("DBFNTX", "k.ntx"), ("DBFCDX", "k.cdx")):
            run_tool("index", src, self.path(bag), "UPPER(NAME)", "--for", "NAME > ' '",
                     "--tag", "KN", "--driver", driver)
            line = run_tool("tags", src, self.path(bag), "--driver", driver).stdout.decode()
            self.assertEqual(line.split("\t")[1:3], ["UPPER(NAME)", "NAME > ' '"], driver)


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
        # (the deleted record with QTY 1 left out)
        self.assertEqual(self.sql(db, "SELECT count(*) FROM second"), "2\n")
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


def sql_rows(db, query):
    with sqlite3.connect(db) as con:
        return con.execute(query).fetchall()


def sheet_rows(path):
    """Every sheet of a workbook as (name, rows of cell values), read by openpyxl."""
    book = openpyxl.load_workbook(path, read_only=True)
    return [(ws.title, [list(r) for r in ws.iter_rows(values_only=True)]) for ws in book]


def make_texts(test, name, codepage, texts, *extra_fields):
    """A table in `codepage` with NAME (and a memo, so that no copy takes whole records)."""
    path = test.path(name)
    run_tool("create", path, "NAME:C:60", "NOTE:M:10", *extra_fields, "--codepage", codepage)
    source = test.path(name + ".csv")
    base.write_csv(source, ["NAME"], [{"NAME": t} for t in texts])
    run_tool("append", path, "--csv", source)
    return path


def dbf_names(path, encoding=None):
    return [r["NAME"] for r in dbfread.DBF(path, encoding=encoding)]


class CodepageTransfers(base.TempDirTest):
    """Text crosses every transfer as characters, in every code page, both ways."""

    def test_every_letter_crosses_every_format_both_ways(self):
        for codepage, text in base.CODEPAGE_TEXTS:
            texts = [text, text.upper()]
            with self.subTest(codepage=codepage):
                src = make_texts(self, "src_%s.dbf" % codepage, codepage, texts)
                self.assertEqual(dbf_names(src), texts)
                out = {fmt: self.path("%s.%s" % (codepage, fmt))
                       for fmt in ("dbf", "txt", "csv", "sqlite", "xlsx")}
                for target in out.values():
                    run_tool("copy", src, target, "--table", "t")
                # Read by readers that are not this program, each in its file's code page.
                self.assertEqual(dbf_names(out["dbf"]), texts)
                with open(out["txt"], "rb") as f:
                    lines = f.read().decode(codepage).split("\r\n")
                self.assertEqual([l[:60].rstrip() for l in lines[:2]], texts)
                with open(out["csv"], encoding="utf-8", newline="") as f:
                    self.assertEqual([r["NAME"] for r in csv_module.DictReader(f)], texts)
                self.assertEqual([r[0] for r in sql_rows(out["sqlite"], "SELECT NAME FROM t")], texts)
                self.assertEqual([r[0] for r in sheet_rows(out["xlsx"])[0][1][1:]], texts)
                # And back into a table of the same code page.
                for fmt in ("dbf", "txt", "csv", "sqlite"):
                    back = make_texts(self, "back_%s_%s.dbf" % (codepage, fmt), codepage, [])
                    run_tool("import", back, out[fmt], "--table", "t")
                    self.assertEqual(dbf_names(back), texts, fmt)

    def test_dbf_to_dbf_across_code_pages_and_what_a_target_lacks(self):
        for codepage, text in base.CODEPAGE_TEXTS:
            texts = [text, text.upper()]
            with self.subTest(codepage=codepage):
                src = make_texts(self, "src_%s.dbf" % codepage, codepage, texts)
                # Into UTF-8 every letter arrives; a table in cp1252 takes those it has.
                wide = self.path("wide_%s.dbf" % codepage)
                run_tool("copy", src, wide, "--target-codepage", "utf8")
                self.assertEqual(dbf_names(wide, "utf-8"), texts)
                back = make_texts(self, "back_%s.dbf" % codepage, codepage, [])
                run_tool("import", back, wide, "--source-codepage", "utf8")
                self.assertEqual(dbf_names(back), texts)
                narrow = self.path("narrow_%s.dbf" % codepage)
                proc = run_tool("copy", src, narrow, "--target-codepage", "cp1252")
                expected = ["".join(c if c.encode("cp1252", "ignore") else "?" for c in t)
                            for t in texts]
                self.assertEqual(dbf_names(narrow), expected)
                lacking = sum(t.count("?") for t in expected) - sum(t.count("?") for t in texts)
                report = proc.stderr.decode()
                if lacking:
                    self.assertIn("%d character%s not in the target's code page"
                                  % (lacking, "" if lacking == 1 else "s"), report)
                    self.assertIn("(first in record 1)", report)
                else:
                    self.assertEqual(report, "")

    def test_text_a_table_lacks_is_reported_on_import(self):
        dst = make_texts(self, "latin.dbf", "cp1252", [])
        source = self.path("in.csv")
        base.write_csv(source, ["NAME"], [{"NAME": "Perché"}, {"NAME": "Ωmega ψ"}])
        proc = run_tool("import", dst, source)
        self.assertEqual(dbf_names(dst), ["Perché", "?mega ?"])
        self.assertIn("2 characters not in the target's code page, written as ? "
                      "(first in record 2)", proc.stderr.decode())

    def test_sdf_and_csv_in_a_code_page_of_their_own(self):
        src = make_texts(self, "oem.dbf", "cp850", ["Città"])
        run_tool("copy", src, self.path("w.txt"), "--target-codepage", "cp1252")
        run_tool("copy", src, self.path("w.csv"), "--target-codepage", "cp1252", "--bom")
        with open(self.path("w.txt"), "rb") as f:
            self.assertEqual(f.read()[:5], "Città".encode("cp1252"))
        with open(self.path("w.csv"), "rb") as f:
            self.assertEqual(f.read(), b"NAME,NOTE\r\nCitt\xe0,\r\n", "no BOM outside UTF-8")
        run_tool("copy", src, self.path("u.csv"), "--bom")
        with open(self.path("u.csv"), "rb") as f:
            self.assertEqual(f.read(), "\ufeffNAME,NOTE\r\nCittà,\r\n".encode("utf-8"))
        for name, codepage in (("w.txt", "cp1252"), ("w.csv", "cp1252"), ("u.csv", None)):
            back = make_texts(self, "back_%s.dbf" % name, "cp850", [])
            run_tool("import", back, self.path(name),
                     *(["--source-codepage", codepage] if codepage else []))
            self.assertEqual(dbf_names(back), ["Città"], name)


class CommandLineText(base.TempDirTest):
    """Conditions, keys and expressions given as UTF-8 work in the table's code page."""

    def test_accented_literals(self):
        for codepage in ("cp850", "cp1252"):
            with self.subTest(codepage=codepage):
                t = make_texts(self, "c_%s.dbf" % codepage, codepage, ["Città", "Forlì", "Roma"])
                count = run_tool("list", t, "--for", "NAME = 'Forlì'", "--count").stdout
                self.assertEqual(count.decode().strip(), "1")
                listed = run_tool("list", t, "--csv", "--for", "NAME = 'Forlì'").stdout.decode()
                self.assertEqual(listed.splitlines()[1:], ["Forlì,"])
                run_tool("copy", t, self.path("f_%s.csv" % codepage), "--for", "'ì' $ NAME")
                with open(self.path("f_%s.csv" % codepage), encoding="utf-8") as f:
                    self.assertEqual(f.read().splitlines()[1:], ["Forlì,"])
                line = run_tool("eval", t, "LEN('Città')").stdout.decode()
                self.assertEqual(line.split("\t")[1].strip(), "5")
                line = run_tool("eval", t, "NAME + 'è'", "--recno", "2").stdout.decode()
                self.assertEqual(line.split("\t")[1].strip(), "Forlì" + " " * 55 + "è")
                ntx = self.path("n_%s.ntx" % codepage)
                run_tool("index", t, ntx, "NAME")
                self.assertEqual(run_tool("seek", t, ntx, "Forlì").stdout.decode(), "2\n")
                self.assertEqual(run_tool("seek", t, ntx, "Città").stdout.decode(), "1\n")


class DeletedRecords(base.TempDirTest):
    """Exports leave deleted records out unless --all, which marks them for the way back."""

    def test_export_and_import_with_and_without_all(self):
        src = make_table(self, "d.dbf", "db3", [("NAME", "C", 10, 0)],
                         [{"NAME": "uno"}, {"_DELETED": "*", "NAME": "due"}, {"NAME": "tre"}])
        for fmt in ("csv", "sqlite", "xlsx"):
            with self.subTest(format=fmt):
                live, every = self.path("live.%s" % fmt), self.path("every.%s" % fmt)
                run_tool("copy", src, live, "--table", "d")
                run_tool("copy", src, every, "--table", "d", "--all")
                if fmt == "xlsx":
                    self.assertEqual(sheet_rows(live)[0][1], [["NAME"], ["uno"], ["tre"]])
                    self.assertEqual(sheet_rows(every)[0][1],
                                     [["NAME", "_DELETED"], ["uno", None], ["due", "*"],
                                      ["tre", None]])
                    continue
                for path, names in ((live, ["uno", "tre"]), (every, ["uno", "due", "tre"])):
                    back = make_table(self, "back_%s.dbf" % fmt, "db3", [("NAME", "C", 10, 0)], [])
                    run_tool("import", back, path, "--table", "d")
                    self.assertEqual([(r["_DELETED"], r["NAME"]) for r in tool_rows(back)],
                                     [("*" if n == "due" else "", n) for n in names])
                    os.remove(back)
        with open(self.path("every.csv"), encoding="utf-8") as f:
            self.assertEqual(f.read().splitlines(), ["_DELETED,NAME", ",uno", "*,due", ",tre"])
        self.assertEqual(sql_rows(self.path("every.sqlite"), "SELECT NAME, _DELETED FROM d"),
                         [("uno", None), ("due", "*"), ("tre", None)])


class TextValues(base.TempDirTest):
    """Values read from text are checked by their field; failed stores stay, deleted; nulls."""

    def test_sdf_values_a_field_cannot_hold_are_blank_and_reported(self):
        fields = [("D", "D", 8, 0), ("N", "N", 6, 2), ("C", "C", 5, 0), ("L", "L", 1, 0)]
        for fmt in ("sdf", "csv"):
            with self.subTest(format=fmt):
                dst = make_table(self, "bad_%s.dbf" % fmt, "db3", fields, [])
                if fmt == "sdf":
                    source = self.path("bad.txt")
                    with open(source, "wb") as f:
                        f.write(b"20240231  1.50abcdeT\r\n2024ab01abcdefxxxxxT\r\n"
                                b"20240115  1,50ok   Q\r\n20240115  2.25fine F\r\n")
                    first = ["line 1, field D: 20240231", "line 2, field D: 2024ab01",
                             "line 2, field N: abcdef", "line 3, field N: 1,50",
                             "line 3, field L: Q"]
                else:
                    source = self.path("bad.csv")
                    base.write_csv(source, ["D", "N", "C", "L"], [
                        {"D": "2024-02-31", "N": "1.50", "C": "abcde", "L": "T"},
                        {"D": "2024-ab-01", "N": "abcdef", "C": "xxxxx", "L": "T"},
                        {"D": "2024-01-15", "N": "1,50", "C": "ok", "L": "Q"},
                        {"D": "2024-01-15", "N": "2.25", "C": "fine", "L": "F"}])
                    first = ["line 2, field D: 2024-02-31", "line 3, field D: 2024-ab-01",
                             "line 3, field N: abcdef", "line 4, field N: 1,50",
                             "line 4, field L: Q"]
                proc = run_tool("import", dst, source)
                self.assertIn("5 values left blank: " + "; ".join(first), proc.stderr.decode())
                rows = [dict(r) for r in dbfread.DBF(dst)]
                self.assertEqual([(r["D"], r["N"], r["C"], r["L"]) for r in rows], [
                    (None, 1.5, "abcde", True), (None, None, "xxxxx", True),
                    (datetime.date(2024, 1, 15), None, "ok", None),
                    (datetime.date(2024, 1, 15), 2.25, "fine", False)])

    def test_a_failed_store_leaves_the_record_deleted(self):
        wide = make_table(self, "wide.dbf", "db3", [("NAME", "C", 8, 0), ("QTY", "N", 5, 0)],
                          [{"NAME": "ugo", "QTY": "70"}, {"NAME": "eva", "QTY": "12345"},
                           {"NAME": "ivo", "QTY": "90"}])
        dst = make_table(self, "narrow.dbf", "db3", [("NAME", "C", 8, 0), ("QTY", "N", 3, 0)], [])
        proc = run_tool("import", dst, wide, expect_ok=False)
        self.assertEqual(proc.returncode, 1)
        err = proc.stderr.decode()
        self.assertIn("1 record not stored whole, marked deleted (first from record 2)", err)
        self.assertNotIn(": : ", err)
        self.assertEqual([(r["_DELETED"], r["NAME"]) for r in tool_rows(dst)],
                         [("", "ugo"), ("*", "eva")])

    def test_nulls_cross_sqlite_and_a_visual_foxpro_table(self):
        db = self.path("in.sqlite")
        with sqlite3.connect(db) as con:
            con.execute("CREATE TABLE t (NAME TEXT, QTY INTEGER, D TEXT)")
            con.executemany("INSERT INTO t VALUES (?, ?, ?)",
                            [("a", None, None), (None, 5, "2024-01-02"), ("", 0, None)])
        vfp = self.path("v.dbf")
        run_tool("create", vfp, "NAME:C:10:0:2", "QTY:N:4:0:2", "D:D:8:0:2", "--kind", "vfp")
        run_tool("import", vfp, db, "--table", "t")
        out = self.path("out.sqlite")
        run_tool("copy", vfp, out, "--table", "t")
        self.assertEqual(sql_rows(out, "SELECT NAME, QTY, D FROM t"),
                         [("a", None, None), (None, 5, "2024-01-02"), ("", 0, None)])
        # An empty CSV value is null with --nulls, blank without.
        source = self.path("in.csv")
        base.write_csv(source, ["NAME", "QTY"], [{"NAME": "", "QTY": ""}])
        for nulls, expected in (([], ("", None)), (["--nulls"], (None, None))):
            run_tool("zap", vfp)
            run_tool("import", vfp, source, *nulls)
            run_tool("copy", vfp, out, "--table", "t")
            self.assertEqual(sql_rows(out, "SELECT NAME, QTY FROM t"), [expected], nulls)

    def test_varchar_fields_take_values(self):
        real = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                            "../../../shared/fixtures/real/dbase_32.dbf")
        vfp = self.path("vc.dbf")
        run_tool("create", vfp, "NAME:V:20", "--kind", "vfp")
        tables = [vfp]
        if os.path.exists(real):
            tables.append(self.path("dbase_32.dbf"))
            with open(real, "rb") as a, open(tables[-1], "wb") as b:
                b.write(a.read())
        source = self.path("in.csv")
        base.write_csv(source, ["NAME"], [{"NAME": "breve"}, {"NAME": "venti caratteri pien"}])
        for table in tables:
            with self.subTest(table=os.path.basename(table)):
                before = len(tool_rows(table))
                run_tool("import", table, source)
                names = [r["NAME"] for r in tool_rows(table)][before:]
                self.assertEqual(names, ["breve", "venti caratteri pien"])


class XlsxLimits(base.TempDirTest):
    def test_rows_past_a_sheet_go_on_in_the_next_and_old_dates_are_text(self):
        fields = [("NAME", "C", 10, 0), ("BORN", "D", 8, 0)]
        rows = [{"NAME": "r%d" % i, "BORN": "1850-06-01" if i == 1 else "2000-01-0%d" % i}
                for i in range(1, 8)]
        src = make_table(self, "big.dbf", "db3", fields, rows)
        out = self.path("big.xlsx")
        run_tool("copy", src, out, "--sheet-rows", "3")
        sheets = sheet_rows(out)
        self.assertEqual([name for name, _ in sheets], ["big", "big 2", "big 3"])
        for _, cells in sheets:
            self.assertEqual(cells[0], ["NAME", "BORN"])
        names = [r[0] for _, cells in sheets for r in cells[1:]]
        self.assertEqual(names, ["r%d" % i for i in range(1, 8)])
        self.assertEqual(sheets[0][1][1][1], "1850-06-01")
        self.assertEqual(sheets[0][1][2][1], datetime.datetime(2000, 1, 2))
        # Refused before anything is written when asked to keep one sheet.
        refused = self.path("one.xlsx")
        proc = run_tool("copy", src, refused, "--sheet-rows", "3", "--one-sheet", expect_ok=False)
        self.assertEqual(proc.returncode, 1)
        self.assertIn("7 records do not fit a sheet of 3 rows", proc.stderr.decode())
        self.assertFalse(os.path.exists(refused))
        run_tool("copy", src, refused, "--sheet-rows", "3", "--one-sheet", "--for", "RECNO() < 4")
        self.assertEqual(len(sheet_rows(refused)), 1)


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
