#!/usr/bin/env python3
"""Measures one conversion result against its source PDF, as quality_bench prints it.

usage: quality_measure.py SOURCE.pdf RESULT KIND [TEXT.pdf]
TEXT.pdf: where the words come from when SOURCE has none of its own (a scan made from it).
KIND: pdf, md, docx, pptx, zip (page images). Prints one line of key=value figures:
recall (share of pdftotext's words the result holds, CJK by character), order (share
of pdftotext's adjacent word pairs found in the result: reading order), images (placed
images in the source -> in the result), escapes (backslashes before a letter or digit
left in the result's text), pages.
"""
import collections
import re
import subprocess
import sys
import zipfile

CJK = re.compile(r'[\u3040-\u30ff\u3400-\u4dbf\u4e00-\u9fff\uac00-\ud7a3\uf900-\ufaff]')


def words(text):
    out = []
    for w in text.split():
        if CJK.search(w):
            out += [c for c in w if not c.isspace()]
        else:
            out.append(w)
    return out


def pdftotext(path):
    return subprocess.run(['pdftotext', '-q', '-enc', 'UTF-8', path, '-'],
                          capture_output=True).stdout.decode('utf-8', 'replace')


def placed_images(path):
    out = subprocess.run(['pdfimages', '-list', path], capture_output=True).stdout.decode()
    rows = out.splitlines()[2:]
    return sum(1 for r in rows if len(r.split()) > 2 and r.split()[2] == 'image')


def xml_text(data, tag):
    return ' '.join(re.findall(r'<%s(?: [^>]*)?>([^<]*)</%s>' % (tag, tag), data))


def unescape_xml(t):
    return (t.replace('&lt;', '<').replace('&gt;', '>').replace('&quot;', '"')
            .replace('&apos;', "'").replace('&amp;', '&'))


def result_text(path, kind):
    if kind == 'pdf':
        return pdftotext(path), placed_images(path)
    if kind == 'md':
        raw = open(path, encoding='utf-8', errors='replace').read()
        images = len(re.findall(r'!\[[^\]]*\]\(', raw))
        # What a reader sees: no heading marks, list marks, emphasis or escapes.
        raw = re.sub(r'^#{1,6} ', '', raw, flags=re.M)
        raw = re.sub(r'^\s*(?:[-+*]|\d+[.)]) ', '', raw, flags=re.M)
        raw = re.sub(r'\\([!-/:-@\[-`{-~])', r'\1', raw)
        raw = raw.replace('```', ' ').replace('|', ' ')
        return raw, images
    z = zipfile.ZipFile(path)
    if kind == 'docx':
        xml = z.read('word/document.xml').decode('utf-8', 'replace')
        media = [n for n in z.namelist() if n.startswith('word/media/')]
        return unescape_xml(xml_text(xml, 'w:t')), len(media)
    if kind == 'pptx':
        text = []
        for n in sorted(z.namelist()):
            if re.match(r'ppt/slides/slide\d+\.xml$', n):
                text.append(xml_text(z.read(n).decode('utf-8', 'replace'), 'a:t'))
        media = [n for n in z.namelist() if n.startswith('ppt/media/')]
        return unescape_xml(' '.join(text)), len(media)
    return '', 0


def main():
    source, result, kind = sys.argv[1:4]
    text_source = sys.argv[4] if len(sys.argv) > 4 else source
    ref = words(pdftotext(text_source))
    figures = {}
    if kind == 'zip':
        names = zipfile.ZipFile(result).namelist()
        figures['pages'] = len(names)
        figures['sorted'] = 'yes' if sorted(names) == names else 'NO'
    else:
        text, images = result_text(result, kind)
        got = words(text)
        want = collections.Counter(ref)
        have = collections.Counter(got)
        total = sum(want.values())
        figures['recall'] = '%.3f' % (sum(min(c, have[w]) for w, c in want.items()) / total
                                       if total else 1.0)
        pairs = collections.Counter(zip(ref, ref[1:]))
        got_pairs = collections.Counter(zip(got, got[1:]))
        npairs = sum(pairs.values())
        figures['order'] = '%.3f' % (sum(min(c, got_pairs[p]) for p, c in pairs.items()) / npairs
                                      if npairs else 1.0)
        figures['images'] = '%d->%d' % (placed_images(source), images)
        if kind in ('md', 'docx'):
            shown = text if kind == 'docx' else open(result, encoding='utf-8',
                                                      errors='replace').read()
            # In Markdown "1\." is a needed escape; a backslash before a letter or digit is not.
            # Those the source's own text holds ("\n" in a command) are not leaks.
            own = len(re.findall(r'\\[0-9A-Za-z]', pdftotext(text_source)))
            figures['escapes'] = str(max(0, len(re.findall(r'\\[0-9A-Za-z]', shown)) - own))
    print(' '.join('%s=%s' % kv for kv in figures.items()))


if __name__ == '__main__':
    main()
