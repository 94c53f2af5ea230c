"""The code-set registry file: one "<name> <number>\n" line per code-set
name, the number decimal; "#" starts a comment line. Every line, the last
one included, ends with a line feed."""

# Code-set number and its names, in the order of the library's built-in
# table, which serves when this file cannot be read.
REGISTRY = [
    (364, ["ascii"]),
    (819, ["c", "posix", "8859-1", "latin-1"]),
    (437, ["unitedstates", "cp437"]),
    (833, ["korhstextsbcs", "ccsid833"]),
    (834, ["korhstdbcs", "ccsid834"]),
    (835, ["tchhstdbcs", "ccsid835"]),
    (836, ["schhstextsbcs", "ccsid836"]),
    (837, ["schhstdbcs", "ccsid837"]),
    (850, ["pc-latin-1"]),
    (852, ["pc-latin-2"]),
    (856, ["pc-data-hebrew", "pc-hebrew-saa"]),
    (866, ["pc-cyrillic", "cis-1", "pc866"]),
    (912, ["8859-2", "latin-2"]),
    (915, ["cyrillic-8bit", "8859-5", "latin-cyrillic"]),
    (932, ["ccsid932", "sjis-s", "pc-sjis"]),
    (933, ["korhstmxexsbcs", "csid933"]),
    (935, ["schmxexsbcs", "ccsid935"]),
    (937, ["tchhstmxexsbcs", "ccsid937"]),
    (28709, ["tchhstexsbcs"]),
    (29709, ["ccsid28709"]),
    (57346, ["8859-3", "latin-3"]),
    (57347, ["8859-4", "latin-4"]),
    (1089, ["8859-6", "latin-arabic"]),
    (813, ["8859-7", "latin-greek"]),
    (916, ["8859-8", "latin-hebrew"]),
    (920, ["8859-9", "latin-5"]),
    (1011, ["iso-7-german", "646de"]),
    (1017, ["iso-7-danish"]),
    (1046, ["pc1046", "arabic-pc"]),
    (57349, ["unicode"]),
    (1250, ["east-europe", "cp1250"]),
    (1251, ["pc-slavic", "cp1251"]),
    (1252, ["west-europe", "cp1252"]),
    (1253, ["pc-greek", "cp1253"]),
    (1254, ["pc-latin5", "cp1254", "pc-turkish"]),
    (1255, ["pc-hebrew", "cp1255"]),
    (1256, ["pc-arabic", "cp1256"]),
    (57350, ["sjis", "shift-jis"]),
    (57351, ["ujis"]),
    (5050, ["eucjp"]),
    (57352, ["big5", "big-5"]),
    (57353, ["sbig5", "shift-big-5"]),
    (57354, ["ccdc"]),
    (57355, ["cccii"]),
    (737, ["greek"]),
    (57356, ["ksc", "ks5601", "cp949"]),
    (57357, ["gb", "gb2312-80", "guobiao2312"]),
    (37, ["ebcdic", "ebcdic-us"]),
    (57358, ["chngcase"]),
    (57359, ["banga"]),
    (57360, ["shift1"]),
    (57361, ["rot13"]),
    (57362, ["swap0to9"]),
    (57363, ["pcwin"]),
    (57365, ["qacvtest"]),
    (57366, ["swap09-nl"]),
    (57367, ["qa-unix-client"]),
    (57368, ["qa-unix-server"]),
    (57369, ["qa-win-client"]),
    (57370, ["mik"]),
    (57372, ["utf8"]),
    (57373, ["thai", "thai620"]),
    (57374, ["sopstw"]),
    (57375, ["euctw", "cns"]),
    (57378, ["cns-extended", "eucxtw"]),
    (57376, ["tst"]),
    (57377, ["qa-win-950"]),
    (57379, ["qa-win-932"]),
    (57382, ["koi-8"]),
    (57383, ["csk"]),
    (57384, ["mazovia", "maz"]),
    (57385, ["roman8"]),
    (57386, ["qa-win-unicode"]),
    (57387, ["qa-unix-big5"]),
]


def registry_file():
    lines = ["# code-set name and code-set number"]
    for number, names in REGISTRY:
        lines.extend("%s %d" % (name, number) for name in names)
    return "\n".join(lines) + "\n"


def number_of(name):
    for number, names in REGISTRY:
        if name in names:
            return number
    raise KeyError(name)
