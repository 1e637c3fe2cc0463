#!/usr/bin/env python3
"""Writes the seed corpora. The targets read their inputs through libFuzzer's
FuzzedDataProvider: numbers come from the end of the input, texts from its front, a text ending
at a backslash followed by any other byte. This encoder lays out the same order."""
import os
import sys


class Seed:
    def __init__(self):
        self.front = bytearray()
        self.back = bytearray()  # in the order the target consumes them

    def integer(self, value, lo, hi):
        span = hi - lo
        result = value - lo
        count = 0
        while count < 8 and (span >> (8 * count)) > 0:
            count += 1
        data = result.to_bytes(count, 'big') if count else b''
        self.back += data
        return self

    def u8(self, v): return self.integer(v, 0, 255)
    def u32(self, v): return self.integer(v, 0, 2**32 - 1)
    def i32(self, v): return self.integer(v, -2**31, 2**31 - 1)
    def boolean(self, v): return self.u8(1 if v else 0)

    def string(self, data):
        if isinstance(data, str):
            data = data.encode('utf-8')
        self.front += data.replace(b'\\', b'\\\\') + b'\\;'
        return self

    def raw_front(self, data):
        self.front += data
        return self

    def text(self, value, form=0):
        self.integer(form, 0, 2)
        return self.string(value)

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.back))


def write(target, name, seed):
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(seed.bytes())


def ps_record(signature, process, version, runmode, settings):
    s = Seed().u8(runmode)
    s.raw_front(signature)  # four bytes, as stored
    s.string(process).boolean(False)
    for v in version:
        s.i32(v)
    # a small 47 x 39 image without padding, colour, no mask, every plane exactly as needed
    s.boolean(False).integer(47, 0, 200).integer(39, 0, 200).integer(0, 0, 70)
    s.u32(0).boolean(False)
    for _ in range(4):
        s.integer(0, -64, 64)
    s.i32(settings[0])
    for text in settings[1:-1]:
        s.string(text).boolean(False)
    s.string(settings[-1])  # the strokes are never filled whole
    return s


def main():
    denoise = '{"params":{"strength":40},"model":"std"}'
    write('fuzz_psrecord', 'photoshop', ps_record(b'MIB8', 'Photoshop.exe', (24, 1, 0), 1,
          (1, denoise, '{"params":{}}', '{"params":{}}', '{"params":{}}', '{"mode":"auto"}', '[[1,2],[3,4]]')))
    write('fuzz_psrecord', 'affinity', ps_record(b'PffA', 'Photo2.exe', (2, 4, -1), 0,
          (0, '', '', '', '', '', '')))
    write('fuzz_psrecord', 'xnview-nonascii', ps_record(b'8BIM', 'XnViewMP.exe', (1, 0, 0), 2,
          (7, '{"params":{"n":"\u00e9\u4e2d"}}', '', '', '', '', '["\u00fc"]')))

    # fuzz_pssettings: entry count, then per entry: known-key flag, key, value tree.
    s = Seed().integer(2, 0, 8)
    s.boolean(True).integer(0, 0, 4)            # "Denoise"
    s.integer(5, 0, 7).integer(2, 0, 8)         # map of two entries
    s.boolean(True).integer(5, 0, 10)           # "category"
    s.integer(0, 0, 7).text('Denoise')
    s.boolean(True).integer(6, 0, 10)           # "params"
    s.integer(5, 0, 7).integer(1, 0, 8)
    s.boolean(True).integer(7, 0, 10)           # "auto"
    s.integer(3, 0, 7).boolean(True)
    s.boolean(True).integer(4, 0, 4)            # "subjectSettings"
    s.integer(5, 0, 7).integer(1, 0, 8)
    s.boolean(True).integer(8, 0, 10)           # "strokes", repeated
    s.integer(7, 0, 7).integer(0, 0, 7).text('stroke-\u00e9-' + 'x' * 52).integer(64, 0, 64)
    write('fuzz_pssettings', 'enhancement-and-strokes', s)
    s = Seed().integer(1, 0, 8).boolean(False).text('\u00fcber', 0).integer(0, 0, 7).text('x', 2)
    write('fuzz_pssettings', 'unknown-key', s)

    def args(items):
        s = Seed().integer(len(items), 0, 12)
        for item in items:
            s.text(item)
        return s
    write('fuzz_cliarguments', 'lightroom', args(['lumivex', 'a.jpg', 'B.TIF', 'side.xmp', 'notes.txt']))
    write('fuzz_cliarguments', 'editor-quoted', args(['lumivex', '--editor="Capture One"', 'sub\\d.jpeg', 'a.jpg', './a.jpg']))
    write('fuzz_cliarguments', 'editor-bare', args(['lumivex', '--editor', "--editor='x'", '--EDITOR=y', 'missing.jpg']))

    def merge_from_args(items):
        s = Seed().boolean(True).integer(len(items), 0, 8)
        for item in items:
            s.text(item)
        return s
    write('fuzz_climerge', 'instance', merge_from_args(['a.jpg', 'c.png', 'a.jpg', 'notes.txt']))
    write('fuzz_climerge', 'raw-separators', Seed().boolean(False).text('::a.jpg::::sub/d.jpeg::missing.tif::notes.txt::'))
    write('fuzz_climerge', 'raw-split-path', Seed().boolean(False).text('a.jpg::B.TIF::c.png::side.xmp'))

    def open_event(form, text):
        return Seed().integer(form, 0, 2).text(text)
    write('fuzz_clifileopen', 'editor-url', open_event(0, 'orvane://open/editor/Apple%20Photos'))
    write('fuzz_clifileopen', 'editor-empty', open_event(0, 'orvane:/editor/'))
    write('fuzz_clifileopen', 'orvane-other', open_event(1, 'orvane://host/other/a.jpg'))
    write('fuzz_clifileopen', 'file-url', open_event(0, 'file:c.png'))
    write('fuzz_clifileopen', 'percent-path', open_event(0, 'http://x/%61.jpg'))
    write('fuzz_clifileopen', 'plain-file', open_event(2, 'sub/d.jpeg'))


if __name__ == '__main__':
    sys.exit(main())
