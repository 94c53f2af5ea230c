"""LC_TIME keywords of the calendar test locales, where no glibc locale
source has them: the month names of the hebrew calendar (14: Tishri to
Elul, then Adar I and Adar II, which a leap year names as 12 and 13) and of
the islamic calendar."""

_HEBREW = ["\u05ea\u05e9\u05e8\u05d9", "\u05d7\u05e9\u05d5\u05df", "\u05db\u05e1\u05dc\u05d5",
           "\u05d8\u05d1\u05ea", "\u05e9\u05d1\u05d8", "\u05d0\u05d3\u05e8",
           "\u05e0\u05d9\u05e1\u05df", "\u05d0\u05d9\u05d9\u05e8", "\u05e1\u05d9\u05d5\u05df",
           "\u05ea\u05de\u05d5\u05d6", "\u05d0\u05d1", "\u05d0\u05dc\u05d5\u05dc",
           "\u05d0\u05d3\u05e8 \u05d0", "\u05d0\u05d3\u05e8 \u05d1"]
HEBREW_MONTHS = {"mon": _HEBREW, "abmon": _HEBREW}

_ISLAMIC = ["\u0645\u062d\u0631\u0645", "\u0635\u0641\u0631",
            "\u0631\u0628\u064a\u0639 \u0627\u0644\u0623\u0648\u0644",
            "\u0631\u0628\u064a\u0639 \u0627\u0644\u0622\u062e\u0631",
            "\u062c\u0645\u0627\u062f\u0649 \u0627\u0644\u0623\u0648\u0644\u0649",
            "\u062c\u0645\u0627\u062f\u0649 \u0627\u0644\u0622\u062e\u0631\u0629",
            "\u0631\u062c\u0628", "\u0634\u0639\u0628\u0627\u0646", "\u0631\u0645\u0636\u0627\u0646",
            "\u0634\u0648\u0627\u0644", "\u0630\u0648 \u0627\u0644\u0642\u0639\u062f\u0629",
            "\u0630\u0648 \u0627\u0644\u062d\u062c\u0629"]
ISLAMIC_MONTHS = {"mon": _ISLAMIC, "abmon": _ISLAMIC}
