"""The Python module gives, event for event, what kivlog -j -r writes for the same raw log.

Each case of the C++ library's test (kivlog_make_api_cases writes them into folders) is run
through the kivlog binary and through the module, as a whole file and line by line; the objects
must match in members, order, types and values. Then the module's errors.

    decoder_test.py <kivlog binary> <kivlog_make_api_cases binary> <source folder>
"""
import json
import os
import subprocess
import sys
import tempfile
import unittest

import kivlog

KIVLOG, MAKE_CASES, SOURCE = sys.argv[1:4]

# kivlog's options with a value, and the Decoder keyword each becomes.
KEYWORDS = {"-f": "elf", "-u": "umac", "-l": "lmac", "-sig_umac": "sig_umac",
            "-sig_lmac": "sig_lmac", "-F": "library", "-v": "verbosity"}


def keywords(args):
    result = {}
    args = list(args)
    while args:
        option = args.pop(0)
        if option == "-s":
            result["strict"] = True
        else:
            value = args.pop(0)
            result[KEYWORDS[option]] = int(value) if option == "-v" else value
    return result


def canonical(objects):
    """JSON text of the objects: equal only with the same members in the same order, of the same
    types (True is not 1) and values."""
    return [json.dumps(o) for o in objects]


class InFolder:
    """Runs in a folder, so that paths are given as the command line is given them."""

    def __init__(self, folder):
        self.folder = folder

    def __enter__(self):
        self.saved = os.getcwd()
        os.chdir(self.folder)

    def __exit__(self, *error):
        os.chdir(self.saved)


class DecoderTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory()
        cls.cases = os.path.join(cls.work.name, "cases")
        subprocess.run([MAKE_CASES, cls.cases], check=True)

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def command_line_objects(self, folder, args):
        out = subprocess.run([KIVLOG, "-j", "-r", *args, "-i", "raw.log"], cwd=folder,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             check=True).stdout
        objects = []
        # The devices' farewell traces follow the report.
        for line in out.splitlines():
            objects.append(json.loads(line))
            if "report" in objects[-1]:
                break
        return objects

    def test_every_event_is_the_object_the_command_line_writes(self):
        names = sorted(os.listdir(self.cases))
        self.assertGreaterEqual(len(names), 6)
        for name in names:
            with self.subTest(name):
                folder = os.path.join(self.cases, name)
                with open(os.path.join(folder, "args"), encoding="utf-8") as f:
                    args = f.read().split()
                options = keywords(args)
                expected = canonical(self.command_line_objects(folder, args))
                with InFolder(folder):
                    decoder = kivlog.Decoder(**options)
                    whole = list(decoder.decode_file("raw.log"))
                    whole.append({"report": decoder.report()})
                    self.assertEqual(canonical(whole), expected)

                    # Line by line, as bytes: the same events, but for the end-of-file trace.
                    with open("raw.log", "rb") as f:
                        lines = f.read().split(b"\n")[:-1]
                    by_line = kivlog.Decoder(**options)
                    events = [e for line in lines for e in by_line.decode(line)]
                    without_end = expected[:-1]
                    if options.get("verbosity", 0) >= 3:
                        without_end.pop()  # "good() 0 bad() 0 eof() 1 fail() 1"
                    self.assertEqual(canonical(events), without_end)

    def test_a_line_may_be_text_or_any_bytes_like_object(self):
        folder = os.path.join(self.cases, "sample")
        with open(os.path.join(folder, "raw.log"), "rb") as f:
            lines = f.read().split(b"\n")[:-1]
        with InFolder(folder):
            as_bytes = kivlog.Decoder()
            as_text = kivlog.Decoder()
            as_buffer = kivlog.Decoder()
            for line in lines:
                expected = as_bytes.decode(line)
                self.assertEqual(as_text.decode(line.decode("utf-8")), expected)
                self.assertEqual(as_buffer.decode(memoryview(bytearray(line))), expected)
            self.assertEqual(as_text.decode("one\ntwo"),
                             [{"n": len(lines) + 1, "host": "one"},
                              {"n": len(lines) + 2, "host": "two"}])
            with self.assertRaises(TypeError):
                as_text.decode(7)

    def test_failures_raise_the_command_lines_text(self):
        folder = os.path.join(self.cases, "sample")
        rows = [
            ({"elf": "missing.elf"}, kivlog.ImageError, "Failed opening strings file missing.elf"),
            ({"umac": "kiv_log.elf", "lmac": "kiv_log.elf", "verbosity": -1}, kivlog.ImageError,
             "Failed to find signature in kiv_log.elf"),
            ({"library": "nowhere"}, kivlog.LibraryError,
             "cannot read firmware folder nowhere: No such file or directory"),
        ]
        with InFolder(folder):
            for options, error, text in rows:
                with self.subTest(options):
                    with self.assertRaises(error) as raised:
                        kivlog.Decoder(**options)
                    self.assertEqual(str(raised.exception), text)
                    self.assertIsInstance(raised.exception, kivlog.Error)
            with self.assertRaises(ValueError):
                kivlog.Decoder(elf="kiv_log.elf", lmac="lmac.elf")

            decoder = kivlog.Decoder()
            for path in ["missing.log", "."]:
                with self.assertRaises(kivlog.InputError) as raised:
                    decoder.decode_file(path)
                self.assertIsInstance(raised.exception, OSError)
                self.assertEqual(str(raised.exception), "Unable to open raw log file " + path)

            # A file opened later ends the reading of the one before.
            first = decoder.decode_file("raw.log")
            self.assertEqual(next(first)["n"], 1)
            second = decoder.decode_file("raw.log")
            with self.assertRaises(RuntimeError):
                next(first)
            self.assertIn("n", next(second))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
