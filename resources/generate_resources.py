#!/usr/bin/env python3
"""Builds the C++ tables of the resource library libmarlin3.so from the readable source in a folder.

Source folder layout (see README.md in this folder for the full format):
  manifest.txt       what the program needs: string numbers with their checks, templates with their controls
  strings*.txt       string tables ("ID<TAB>TEXT" lines; "@language N" switches the language)
  dialogs/*.dlg      one dialog template per file
  icons/<ID>.png     icons, addressed by the number in the file name

Usage:
  generate_resources.py --source DIR --output FILE.cpp   check the source, write the tables
  generate_resources.py --source DIR --markdown           check the source, print the reference tables

Every fault is reported as "FILE:LINE: error: ..." on standard error and the exit status is 1, so the
build stops with a message that names the line to mend.
"""

import argparse
import math
import os
import re
import struct
import sys
import unicodedata

ENGLISH = 1033

CONTROL_KINDS = {
    "pushbutton": 1, "defpushbutton": 2, "checkbox": 3, "radiobutton": 4, "edit": 5, "static": 6,
    "groupbox": 7, "combo_dropdown": 8, "combo_droplist": 9, "listbox": 10, "slider": 11,
    "treeview": 12, "icon": 13, "progress": 14, "listview": 15,
}

STYLE_FLAGS = {
    "group": 1 << 0, "tabstop": 1 << 1, "disabled": 1 << 2, "hidden": 1 << 3, "multiline": 1 << 4,
    "password": 1 << 5, "readonly": 1 << 6, "number": 1 << 7, "sort": 1 << 8, "vscroll": 1 << 9,
    "hscroll": 1 << 10, "autohscroll": 1 << 11, "center": 1 << 12, "right": 1 << 13,
    "border": 1 << 14, "wantreturn": 1 << 15, "notify": 1 << 16, "hasbuttons": 1 << 17,
    "showselalways": 1 << 18, "editlabels": 1 << 19, "ticks": 1 << 20, "noprefix": 1 << 21,
}

DIALOG_KINDS = {"dialog": 1, "property_page": 2}

# Classes a manifest may demand for a control; each accepts these kinds.
CONTROL_CLASSES = {
    "button": {"pushbutton", "defpushbutton"},
    "checkbox": {"checkbox"},
    "radio": {"radiobutton"},
    "edit": {"edit"},
    "static": {"static", "icon"},
    "listbox": {"listbox"},
    "combo": {"combo_dropdown", "combo_droplist"},
    "slider": {"slider"},
    "treeview": {"treeview"},
    "progress": {"progress"},
    "any": set(CONTROL_KINDS),
}

STRING_CHECKS = {"text", "p1", "p2", "ext", "key", "dest", "tip", "title", "any"}

# Limits that keep a hostile or mistyped source from producing absurd tables.
MAX_ID = 65535
MAX_TEXT = 4096
MAX_CONTROLS = 256
MAX_DLU = 2000
MAX_ICON_BYTES = 1 << 20

# Device destination names: the characters the device accepts (code points, inclusive ranges) and the
# ones it refuses even inside those ranges. Names must also fit the 9 characters left after a network
# prefix ("ABCD:").
DEST_RANGES = [(0x20, 0x23), (0x25, 0x3B), (0x3D, 0x3D), (0x3F, 0x7A), (0x7E, 0x7E)]
DEST_FORBIDDEN = {0x22, 0x25, 0x26, 0x3C, 0x3E, 0x5E}
DEST_MAX = 9


class SourceError(Exception):
    def __init__(self, where, message):
        super().__init__(f"{where}: error: {message}")


class Errors:
    """Collects every fault so one run reports them all."""

    def __init__(self):
        self.items = []

    def add(self, where, message):
        self.items.append(f"{where}: error: {message}")


def unescape(text, where):
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\":
            out.append(c)
            i += 1
            continue
        if i + 1 >= len(text):
            raise SourceError(where, "a backslash ends the text; write \\\\ for a backslash")
        n = text[i + 1]
        if n == "n":
            out.append("\n")
        elif n == "t":
            out.append("\t")
        elif n == "\\":
            out.append("\\")
        else:
            raise SourceError(where, f"unknown escape \\{n} (use \\n, \\t or \\\\)")
        i += 2
    return "".join(out)


def parse_int(token, where, what, low=-2**31, high=2**31 - 1):
    if not re.fullmatch(r"-?[0-9]+", token):
        raise SourceError(where, f"{what} '{token}' is not a decimal number")
    value = int(token)
    if value < low or value > high:
        raise SourceError(where, f"{what} {value} is outside {low}..{high}")
    return value


def source_lines(path):
    # utf-8-sig: an editor's byte order mark is not part of the first line.
    with open(path, encoding="utf-8-sig") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n").rstrip("\r")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            yield f"{path}:{number}", line


# ---------------------------------------------------------------------------------------------------
# Manifest


class Manifest:
    def __init__(self):
        self.strings = {}  # id -> (check, role, where)
        self.dialogs = {}  # id -> (kind, role, where)
        self.controls = {}  # dialog id -> list of (control id, class, role, where)
        self.icons = {}  # id -> (role, where)
        self.languages = {}  # languages the library ships complete: id -> (name, where)


def read_manifest(path, errors):
    manifest = Manifest()
    if not os.path.exists(path):
        errors.add(path, "the manifest is missing")
        return manifest
    for where, line in source_lines(path):
        try:
            fields = line.split(None, 4)
            if fields[0] == "string" and len(fields) >= 4:
                sid = parse_int(fields[1], where, "string number", 0, MAX_ID)
                check = fields[2]
                if check not in STRING_CHECKS:
                    raise SourceError(where, f"unknown string check '{check}'")
                if sid in manifest.strings:
                    raise SourceError(where, f"string {sid} is listed twice")
                manifest.strings[sid] = (check, " ".join(fields[3:]), where)
            elif fields[0] == "dialog" and len(fields) >= 4:
                did = parse_int(fields[1], where, "template number", 0, MAX_ID)
                if fields[2] not in DIALOG_KINDS:
                    raise SourceError(where, f"unknown dialog kind '{fields[2]}'")
                if did in manifest.dialogs:
                    raise SourceError(where, f"template {did} is listed twice")
                manifest.dialogs[did] = (fields[2], " ".join(fields[3:]), where)
                manifest.controls.setdefault(did, [])
            elif fields[0] == "language" and len(fields) >= 3:
                lid = parse_int(fields[1], where, "language", 1, 0xFFFF)
                if lid in manifest.languages:
                    raise SourceError(where, f"language {lid} is listed twice")
                manifest.languages[lid] = (" ".join(fields[2:]), where)
            elif fields[0] == "icon" and len(fields) >= 3:
                iid = parse_int(fields[1], where, "icon number", 0, MAX_ID)
                if iid in manifest.icons:
                    raise SourceError(where, f"icon {iid} is listed twice")
                manifest.icons[iid] = (" ".join(fields[2:]), where)
            elif fields[0] == "control" and len(fields) >= 5:
                did = parse_int(fields[1], where, "template number", 0, MAX_ID)
                cid = parse_int(fields[2], where, "control number", 0, MAX_ID)
                cls = fields[3]
                if cls not in CONTROL_CLASSES:
                    raise SourceError(where, f"unknown control class '{cls}'")
                if did not in manifest.dialogs:
                    raise SourceError(where, f"control of template {did}, which is not listed before it")
                if any(c[0] == cid for c in manifest.controls[did]):
                    raise SourceError(where, f"control {cid} of template {did} is listed twice")
                manifest.controls[did].append((cid, cls, fields[4], where))
            else:
                raise SourceError(where, "expected 'string ID CHECK ROLE', 'dialog ID KIND ROLE', "
                                  "'control DIALOG ID CLASS ROLE', 'language ID NAME' or 'icon ID ROLE'")
        except SourceError as e:
            errors.items.append(str(e))
    return manifest


# ---------------------------------------------------------------------------------------------------
# Strings


def read_strings(paths, errors, dialog_texts=None):
    """String tables; the "@dialog N" sections of a language's file go into dialog_texts as
    (language, template) -> {English text: (translation, where)}."""
    table = {}  # (id, language) -> (text, where)
    if dialog_texts is None:
        dialog_texts = {}
    for path in paths:
        language = ENGLISH
        dialog = None
        for where, line in source_lines(path):
            try:
                if line.startswith("@language"):
                    parts = line.split()
                    if len(parts) != 2:
                        raise SourceError(where, "expected '@language NUMBER'")
                    language = parse_int(parts[1], where, "language", 1, 0xFFFF)
                    dialog = None
                    continue
                if line.startswith("@dialog"):
                    parts = line.split()
                    if len(parts) != 2:
                        raise SourceError(where, "expected '@dialog NUMBER'")
                    if language == ENGLISH:
                        raise SourceError(where, "the English texts of a template live in its .dlg file")
                    dialog = parse_int(parts[1], where, "template number", 0, MAX_ID)
                    dialog_texts.setdefault((language, dialog), {})
                    continue
                if "\t" not in line:
                    raise SourceError(where, "expected 'NUMBER<TAB>TEXT'" if dialog is None
                                      else "expected 'ENGLISH TEXT<TAB>TRANSLATION'")
                if dialog is not None:
                    english, text = line.split("\t", 1)
                    english = unescape(english, where)
                    text = unescape(text, where)
                    texts = dialog_texts[(language, dialog)]
                    if english in texts:
                        raise SourceError(where, f"template {dialog}: '{english}' is translated twice; "
                                          f"first at {texts[english][1]}")
                    texts[english] = (text, where)
                    continue
                key, text = line.split("\t", 1)
                sid = parse_int(key.strip(), where, "string number", 0, MAX_ID)
                text = unescape(text, where)
                if len(text.encode("utf-8")) > MAX_TEXT:
                    raise SourceError(where, f"string {sid} is longer than {MAX_TEXT} bytes")
                if (sid, language) in table:
                    raise SourceError(where, f"duplicate string {sid} (language {language}); "
                                      f"first defined at {table[(sid, language)][1]}")
                table[(sid, language)] = (text, where)
            except SourceError as e:
                errors.items.append(str(e))
    return table


def count_placeholders(text):
    return {n: len(re.findall(r"%" + str(n) + r"(?![0-9])", text)) for n in range(1, 10)}


def check_string(sid, check, text, where, errors):
    places = count_placeholders(text)
    used = {n for n, c in places.items() if c}
    if not text:
        errors.add(where, f"string {sid} is empty; the program needs a text here")
        return
    if check == "p1":
        if places[1] != 1 or used != {1}:
            errors.add(where, f"string {sid} must hold exactly one placeholder %1")
    elif check == "p2":
        if places[1] != 1 or places[2] != 1 or used != {1, 2}:
            errors.add(where, f"string {sid} must hold %1 and %2, each exactly once")
    elif check != "any" and used:
        errors.add(where, f"string {sid} must not hold a placeholder")
    if check == "ext" and not re.fullmatch(r"[a-z0-9]{1,8}", text):
        errors.add(where, f"string {sid} must be a bare lower-case extension without a dot")
    if check == "key" and ("\\" in text or "/" in text or len(text) > 64 or text != text.strip()):
        errors.add(where, f"string {sid} names a registry key: no backslash or slash, no outer blanks, "
                   "at most 64 characters")
    if check == "dest":
        if len(text) > DEST_MAX:
            errors.add(where, f"string {sid} is a device destination name: at most {DEST_MAX} characters")
        for ch in text:
            cp = ord(ch)
            if cp in DEST_FORBIDDEN or not any(lo <= cp <= hi for lo, hi in DEST_RANGES):
                errors.add(where, f"string {sid} holds '{ch}', which the device does not accept")
    if check == "tip" and len(text.encode("utf-8")) > 79:
        errors.add(where, f"string {sid} is a tool tip: at most 79 bytes (an 80-character buffer)")
    if check == "title" and len(text.encode("utf-8")) > 35:
        errors.add(where, f"string {sid} goes into a 36-character field: at most 35 bytes")


# ---------------------------------------------------------------------------------------------------
# Dialogs


class Control:
    def __init__(self, kind, cid, x, y, cx, cy, style, text, where):
        self.kind, self.id, self.x, self.y, self.cx, self.cy = kind, cid, x, y, cx, cy
        self.style, self.text, self.where = style, text, where

    def overlaps(self, other):
        return (self.x < other.x + other.cx and other.x < self.x + self.cx and
                self.y < other.y + other.cy and other.y < self.y + self.cy)

    def contains(self, other):
        return (self.x <= other.x and self.y <= other.y and other.x + other.cx <= self.x + self.cx and
                other.y + other.cy <= self.y + self.cy)


class Dialog:
    def __init__(self, path):
        self.path = path
        self.id = None
        self.kind = None
        self.cx = self.cy = None
        self.caption = ""
        self.font = ("Sans Serif", 8)
        self.controls = []


def parse_style(token, where):
    if token == "-":
        return 0
    value = 0
    for flag in token.split(","):
        if flag not in STYLE_FLAGS:
            raise SourceError(where, f"unknown style flag '{flag}'")
        value |= STYLE_FLAGS[flag]
    return value


def read_dialog(path):
    dialog = Dialog(path)
    for where, line in source_lines(path):
        head = line.split(None, 1)
        word = head[0]
        rest = head[1] if len(head) > 1 else ""
        if word == "dialog":
            dialog.id = parse_int(rest.strip(), where, "template number", 0, MAX_ID)
        elif word == "kind":
            if rest.strip() not in DIALOG_KINDS:
                raise SourceError(where, f"unknown dialog kind '{rest.strip()}' (dialog or property_page)")
            dialog.kind = rest.strip()
        elif word == "size":
            parts = rest.split()
            if len(parts) != 2:
                raise SourceError(where, "expected 'size WIDTH HEIGHT'")
            dialog.cx = parse_int(parts[0], where, "width", 1, MAX_DLU)
            dialog.cy = parse_int(parts[1], where, "height", 1, MAX_DLU)
        elif word == "caption":
            dialog.caption = unescape(rest, where)
        elif word == "font":
            parts = rest.split(None, 1)
            if len(parts) != 2:
                raise SourceError(where, "expected 'font POINTS NAME'")
            dialog.font = (parts[1].strip(), parse_int(parts[0], where, "font size", 4, 72))
        elif word in CONTROL_KINDS or word.islower() and not word.startswith("@"):
            if word not in CONTROL_KINDS:
                raise SourceError(where, f"unknown control kind '{word}'")
            parts = rest.split(None, 6)
            if len(parts) < 6:
                raise SourceError(where, "expected 'KIND ID X Y CX CY STYLE [TEXT]'")
            cid = parse_int(parts[0], where, "control number", -1, MAX_ID)
            x = parse_int(parts[1], where, "x", -MAX_DLU, MAX_DLU)
            y = parse_int(parts[2], where, "y", -MAX_DLU, MAX_DLU)
            cx = parse_int(parts[3], where, "width", 1, MAX_DLU)
            cy = parse_int(parts[4], where, "height", 1, MAX_DLU)
            style = parse_style(parts[5], where)
            text = unescape(parts[6], where) if len(parts) > 6 else ""
            if len(text.encode("utf-8")) > MAX_TEXT:
                raise SourceError(where, "control text too long")
            dialog.controls.append(Control(word, cid, x, y, cx, cy, style, text, where))
            if len(dialog.controls) > MAX_CONTROLS:
                raise SourceError(where, f"more than {MAX_CONTROLS} controls")
        else:
            raise SourceError(where, f"unknown line '{word}'")
    for field, name in ((dialog.id, "dialog"), (dialog.kind, "kind"), (dialog.cx, "size")):
        if field is None:
            raise SourceError(path, f"the template has no '{name}' line")
    return dialog


def text_width(text):
    """Estimated width in dialog units of a one-line text: a dialog unit is a quarter of the average
    character width, and the Linux fonts run wider than the ones dialog layouts are usually drawn with,
    so every character counts 4.5 units rather than 4. Chinese characters take two, Thai vowel and
    tone marks (drawn above or below their consonant) none."""
    shown = text.replace("&&", "\0").replace("&", "").replace("\0", "&")
    cells = 0
    for ch in shown:
        if unicodedata.combining(ch) or unicodedata.category(ch) == "Mn":
            continue
        cells += 2 if unicodedata.east_asian_width(ch) in ("W", "F") else 1
    return math.ceil(cells * 4.5)


def check_fit(dialog, c, errors):
    """A label that cannot show its whole text is clipped on screen; catch it here."""
    if not c.text or c.kind in ("edit", "combo_dropdown", "combo_droplist", "listbox", "treeview",
                                "slider", "progress", "listview", "icon"):
        return
    need = text_width(c.text)
    if c.kind in ("checkbox", "radiobutton"):
        need += 14  # the box and its gap
    elif c.kind in ("pushbutton", "defpushbutton"):
        need += 8  # the frame
    elif c.kind == "groupbox":
        need += 10
    lines = 1
    if c.kind == "static" and c.cy >= 16:
        lines = c.cy // 8  # a static wraps its text over as many lines as its height allows
        need = math.ceil(need * 1.15)  # words do not fill a wrapped line to its end
    if need > c.cx * lines:
        errors.add(c.where, f"control {c.id} of template {dialog.id}: '{c.text}' needs about {need} "
                   f"dialog units but has {c.cx * lines}")


def check_dialog(dialog, errors):
    seen = {}
    for c in dialog.controls:
        if c.id != -1:
            if c.id in seen:
                errors.add(c.where, f"template {dialog.id}: duplicate control {c.id}; "
                           f"first at {seen[c.id].where}")
            seen[c.id] = c
        if c.x < 0 or c.y < 0 or c.x + c.cx > dialog.cx or c.y + c.cy > dialog.cy:
            errors.add(c.where, f"template {dialog.id}: control {c.id} ({c.x},{c.y} {c.cx}x{c.cy}) lies "
                       f"outside the dialog ({dialog.cx}x{dialog.cy})")
        if c.kind == "icon" and not re.fullmatch(r"[0-9]+", c.text):
            errors.add(c.where, f"template {dialog.id}: an icon control's text must be an icon number")
        check_fit(dialog, c, errors)
    for i, a in enumerate(dialog.controls):
        for b in dialog.controls[i + 1:]:
            if not a.overlaps(b):
                continue
            if a.kind == "groupbox" and a.contains(b) or b.kind == "groupbox" and b.contains(a):
                continue
            # A control created hidden may take exactly another's place: the program shows one or the
            # other (a one-time scan replaces a radio button by its own label).
            same_place = (a.x, a.y, a.cx, a.cy) == (b.x, b.y, b.cx, b.cy)
            if same_place and (a.style | b.style) & STYLE_FLAGS["hidden"]:
                continue
            errors.add(b.where, f"template {dialog.id}: control {b.id} overlaps control {a.id} "
                       f"({a.where})")
    radios = [c for c in dialog.controls if c.kind == "radiobutton"]
    if radios:
        # A radio group starts at a control with the group flag; a radio button after a non-radio
        # control without it would silently join the wrong group.
        previous = None
        for c in dialog.controls:
            if c.kind == "radiobutton" and (previous is None or previous.kind != "radiobutton"):
                if not c.style & STYLE_FLAGS["group"]:
                    errors.add(c.where, f"template {dialog.id}: radio button {c.id} starts a group "
                               "but lacks the 'group' flag")
            previous = c


# ---------------------------------------------------------------------------------------------------
# Translations

# Texts a peer, the registry or the device reads, and names: the same in every language.
NEVER_TRANSLATED = {"ext", "key", "dest", "title"}

# The framework's %1..%9 and the C library's conversions (%s, %d, %5.2f, ...); "%%" is a percent sign.
PLACEHOLDER = re.compile(r"%%|%[1-9](?![0-9])|%[-+#0]*[0-9]*(?:\.[0-9]+)?(?:hh|h|ll|l|z)?[sdiuxXcfgp]")


def placeholders(text):
    return [m.group(0) for m in PLACEHOLDER.finditer(text) if m.group(0) != "%%"]


def access_key_count(text):
    return text.replace("&&", "").count("&")


def needs_translation(text):
    """Whether a text holds words; numbers, sizes and units ("300 dpi", "A4 (210 x 297 mm)") read
    the same in every language the library has."""
    words = re.findall(r"[A-Za-z]{2,}", text.replace("&", ""))
    return any(w not in ("dpi", "mm", "in", "bit", "JIS", "x", "marlin", "TWAIN") for w in words)


def check_translation(what, english, text, where, errors):
    if not text.strip():
        errors.add(where, f"{what} is empty")
        return
    if placeholders(text) != placeholders(english):
        errors.add(where, f"{what} must hold the placeholders {placeholders(english) or 'none'} in "
                   f"this order, as in English; it holds {placeholders(text) or 'none'}")
    if access_key_count(text) != access_key_count(english):
        errors.add(where, f"{what} has {access_key_count(text)} access key(s) ('&'); the English text "
                   f"'{english}' has {access_key_count(english)}")
    if text.count("\n") != english.count("\n"):
        errors.add(where, f"{what} has {text.count(chr(10))} line break(s); English has "
                   f"{english.count(chr(10))}")
    if (text != text.strip()) != (english != english.strip()):
        errors.add(where, f"{what}: blanks at its start or end differ from the English text")
    if any(unicodedata.category(ch) == "Cc" and ch not in "\n\t" for ch in text):
        errors.add(where, f"{what} holds a control character")
    longest = max(len(line) for line in english.split("\n"))
    for line in text.split("\n"):
        if len(line) > max(2.5 * longest, longest + 24):
            errors.add(where, f"{what}: a line of {len(line)} characters where English has at most "
                       f"{longest}; is something pasted twice?")


def translatable_texts(dialog):
    texts = [dialog.caption] if dialog.caption else []
    texts += [c.text for c in dialog.controls if c.kind != "icon" and c.text]
    return [t for t in texts if needs_translation(t)]


def check_translations(src, errors):
    m = src.manifest
    languages = sorted({lang for _, lang in src.strings} | {lang for lang, _ in src.dialog_texts})
    for (sid, language), (text, where) in sorted(src.strings.items()):
        if language == ENGLISH:
            continue
        english = src.strings.get((sid, ENGLISH))
        if english is None:
            if language in m.languages:
                errors.add(where, f"string {sid} has no English text to translate")
            continue
        check = m.strings.get(sid, ("any", "", ""))[0]
        if check in NEVER_TRANSLATED:
            errors.add(where, f"string {sid} ({check}) is read by the registry, the device or a peer, "
                       "or is a name: it is the same in every language, so only English defines it")
            continue
        check_translation(f"string {sid}", english[0], text, where, errors)
    for language, (_, listed) in sorted(m.languages.items()):
        if language != ENGLISH and language not in languages:
            errors.add(listed, f"language {language} is listed but no strings*.txt file holds it")
    for language in languages:
        if language == ENGLISH or language not in m.languages:
            continue  # a language the manifest does not list may be partial: English fills in
        where = next((w for (sid, lang), (_, w) in sorted(src.strings.items()) if lang == language),
                     f"language {language}")
        for sid, (check, role, _) in sorted(m.strings.items()):
            english = src.strings.get((sid, ENGLISH))
            if check in NEVER_TRANSLATED or english is None or not needs_translation(english[0]):
                continue
            if (sid, language) not in src.strings:
                errors.add(where, f"language {language} lacks string {sid} ({role}): '{english[0]}'")
        for did, d in sorted(src.dialogs.items()):
            texts = src.dialog_texts.get((language, did))
            if texts is None:
                if translatable_texts(d):
                    errors.add(where, f"language {language} lacks the texts of template {did} "
                               f"(an '@dialog {did}' section)")
                continue
            for english in translatable_texts(d):
                if english not in texts:
                    errors.add(where, f"language {language}, template {did}: no translation of '{english}'")
    for (language, did), texts in sorted(src.dialog_texts.items()):
        d = src.dialogs.get(did)
        if d is None:
            for _, w in texts.values():
                errors.add(w, f"template {did} does not exist")
                break
            continue
        known = set(translatable_texts(d)) | {d.caption} | {c.text for c in d.controls if c.text}
        for english, (text, w) in texts.items():
            if english not in known:
                errors.add(w, f"template {did} has no text '{english}' (changed in its .dlg file?)")
                continue
            check_translation(f"template {did}: '{english}'", english, text, w, errors)
        local = localized_dialog(d, texts)
        for c in local.controls:
            check_fit(local, c, errors)


def localized_dialog(dialog, texts):
    local = Dialog(dialog.path)
    local.id, local.kind, local.cx, local.cy, local.font = dialog.id, dialog.kind, dialog.cx, dialog.cy, dialog.font
    local.caption = texts.get(dialog.caption, (dialog.caption, None))[0]
    for c in dialog.controls:
        text, where = texts.get(c.text, (c.text, c.where)) if c.kind != "icon" else (c.text, c.where)
        local.controls.append(Control(c.kind, c.id, c.x, c.y, c.cx, c.cy, c.style, text, where or c.where))
    return local


# ---------------------------------------------------------------------------------------------------
# Icons


def read_icon(path):
    with open(path, "rb") as f:
        data = f.read(MAX_ICON_BYTES + 1)
    if len(data) > MAX_ICON_BYTES:
        raise SourceError(path, "icon larger than 1 MiB")
    if data[:8] != b"\x89PNG\r\n\x1a\n" or len(data) < 33 or data[12:16] != b"IHDR":
        raise SourceError(path, "not a PNG file")
    width, height = struct.unpack(">II", data[16:24])
    if not (1 <= width <= 256 and 1 <= height <= 256):
        raise SourceError(path, f"icon size {width}x{height} outside 1..256")
    return data


# ---------------------------------------------------------------------------------------------------
# Whole source


class Source:
    def __init__(self):
        self.manifest = None
        self.strings = {}
        self.dialogs = {}
        self.icons = {}
        self.dialog_texts = {}  # (language, template) -> {English text: (translation, where)}


def load_source(folder):
    errors = Errors()
    src = Source()
    src.manifest = read_manifest(os.path.join(folder, "manifest.txt"), errors)
    string_files = sorted(os.path.join(folder, n) for n in os.listdir(folder)
                          if re.fullmatch(r"strings.*\.txt", n))
    if not string_files:
        errors.add(folder, "no strings*.txt file")
    src.strings = read_strings(string_files, errors, src.dialog_texts)

    dialog_dir = os.path.join(folder, "dialogs")
    if os.path.isdir(dialog_dir):
        for name in sorted(os.listdir(dialog_dir)):
            if not name.endswith(".dlg"):
                continue
            path = os.path.join(dialog_dir, name)
            try:
                d = read_dialog(path)
            except SourceError as e:
                errors.items.append(str(e))
                continue
            if name != f"{d.id}.dlg":
                errors.add(path, f"template {d.id} must live in the file {d.id}.dlg")
            if d.id in src.dialogs:
                errors.add(path, f"duplicate template {d.id}; first in {src.dialogs[d.id].path}")
                continue
            src.dialogs[d.id] = d
            check_dialog(d, errors)

    icon_dir = os.path.join(folder, "icons")
    if os.path.isdir(icon_dir):
        for name in sorted(os.listdir(icon_dir)):
            m = re.fullmatch(r"([0-9]+)\.png", name)
            if not m:
                continue
            try:
                src.icons[int(m.group(1))] = read_icon(os.path.join(icon_dir, name))
            except SourceError as e:
                errors.items.append(str(e))

    check_against_manifest(src, errors)
    check_translations(src, errors)
    return src, errors


def check_against_manifest(src, errors):
    m = src.manifest
    for (sid, language), (text, where) in sorted(src.strings.items()):
        check = m.strings.get(sid, ("any", "", ""))[0]
        check_string(sid, check, text, where, errors)
    for sid, (check, role, where) in sorted(m.strings.items()):
        if (sid, ENGLISH) not in src.strings:
            errors.add(where, f"required string {sid} ({role}) has no English text in strings*.txt")
    for iid, (role, where) in sorted(m.icons.items()):
        if iid not in src.icons:
            errors.add(where, f"required icon {iid} ({role}) is missing: add icons/{iid}.png")
    for did, (kind, role, where) in sorted(m.dialogs.items()):
        d = src.dialogs.get(did)
        if d is None:
            errors.add(where, f"required template {did} ({role}) is missing: add dialogs/{did}.dlg")
            continue
        if d.kind != kind:
            errors.add(d.path, f"template {did} must be of kind '{kind}'")
        by_id = {c.id: c for c in d.controls}
        for cid, cls, crole, cwhere in m.controls[did]:
            c = by_id.get(cid)
            if c is None:
                errors.add(d.path, f"template {did} lacks control {cid} ({crole}), required at {cwhere}")
            elif c.kind not in CONTROL_CLASSES[cls]:
                errors.add(c.where, f"template {did}: control {cid} must be a {cls}, not a {c.kind}")


# ---------------------------------------------------------------------------------------------------
# Output


def c_string(text):
    out = ['"']
    for byte in text.encode("utf-8"):
        ch = chr(byte)
        if ch == '"':
            out.append('\\"')
        elif ch == "\\":
            out.append("\\\\")
        elif ch == "?":
            out.append("\\?")  # no trigraphs
        elif 0x20 <= byte < 0x7F:
            out.append(ch)
        else:
            out.append(f"\\{byte:03o}")
    out.append('"')
    return "".join(out)


def control_table(lines, name, controls):
    lines.append(f"const M3ResControl {name}[] = {{")
    for c in controls:
        lines.append(f"    {{{c.id}, {CONTROL_KINDS[c.kind]}, {c.style}u, {c.x}, {c.y}, {c.cx}, {c.cy}, "
                     f"{c_string(c.text)}}},")
    lines.append("};")


def write_cpp(src, path):
    lines = [
        "// Generated by resources/generate_resources.py from the files in resources/. Do not edit.",
        '#include "platform/resource/ResourceFormat.h"',
        "",
        '#define M3RES_EXPORT __attribute__((visibility("default")))',
        "",
        "namespace {",
        "",
        "const M3ResString kStrings[] = {",
    ]
    strings = sorted(src.strings.items())
    for (sid, language), (text, _) in strings:
        lines.append(f"    {{{sid}u, {language}, {c_string(text)}}},")
    if not strings:
        lines.append("    {0u, 0, nullptr},")
    lines.append("};")
    lines.append("")
    for did, d in sorted(src.dialogs.items()):
        if not d.controls:
            continue
        control_table(lines, f"kControls{did}", d.controls)
    localized = []
    for (language, did), texts in sorted(src.dialog_texts.items()):
        d = src.dialogs.get(did)
        if d is None:
            continue
        local = localized_dialog(d, texts)
        localized.append((did, language, local))
        if not local.controls:
            continue
        control_table(lines, f"kControls{did}_{language}", local.controls)
    localized.sort(key=lambda e: (e[0], e[1]))
    lines.append("")
    lines.append("const M3ResLocalizedDialog kLocalizedDialogs[] = {")
    for did, language, d in localized:
        controls = f"kControls{did}_{language}" if d.controls else "nullptr"
        lines.append(f"    {{{language}, {{{did}u, {DIALOG_KINDS[d.kind]}, {d.cx}, {d.cy}, {c_string(d.caption)}, "
                     f"{c_string(d.font[0])}, {d.font[1]}, {len(d.controls)}u, {controls}}}}},")
    if not localized:
        lines.append("    {0, {0u, 0, 0, 0, nullptr, nullptr, 0, 0u, nullptr}},")
    lines.append("};")
    lines.append("")
    lines.append("const M3ResDialog kDialogs[] = {")
    for did, d in sorted(src.dialogs.items()):
        controls = f"kControls{did}" if d.controls else "nullptr"
        lines.append(f"    {{{did}u, {DIALOG_KINDS[d.kind]}, {d.cx}, {d.cy}, {c_string(d.caption)}, "
                     f"{c_string(d.font[0])}, {d.font[1]}, {len(d.controls)}u, {controls}}},")
    if not src.dialogs:
        lines.append("    {0u, 0, 0, 0, nullptr, nullptr, 0, 0u, nullptr},")
    lines.append("};")
    lines.append("")
    for iid, data in sorted(src.icons.items()):
        lines.append(f"const unsigned char kIcon{iid}[] = {{")
        for i in range(0, len(data), 16):
            lines.append("    " + ", ".join(str(b) for b in data[i:i + 16]) + ",")
        lines.append("};")
    lines.append("const M3ResIcon kIcons[] = {")
    for iid, data in sorted(src.icons.items()):
        lines.append(f"    {{{iid}u, kIcon{iid}, sizeof(kIcon{iid})}},")
    if not src.icons:
        lines.append("    {0u, nullptr, 0},")
    lines.append("};")
    lines.append("")
    lines.append("}  // namespace")
    lines.append("")
    for name, table, count in (("strings", "kStrings", len(strings)), ("dialogs", "kDialogs", len(src.dialogs)),
                               ("icons", "kIcons", len(src.icons))):
        ctype = {"strings": "M3ResString", "dialogs": "M3ResDialog", "icons": "M3ResIcon"}[name]
        lines.append(f"extern \"C\" M3RES_EXPORT const {ctype}* m3res_{name}(std::size_t* count) {{")
        lines.append(f"  if (count != nullptr) *count = {count};")
        lines.append(f"  return {table};")
        lines.append("}")
        lines.append("")
    lines.append("extern \"C\" M3RES_EXPORT const M3ResLocalizedDialog* m3res_localized_dialogs(std::size_t* count) {")
    lines.append(f"  if (count != nullptr) *count = {len(localized)};")
    lines.append("  return kLocalizedDialogs;")
    lines.append("}")
    lines.append("")
    lines.append('extern "C" M3RES_EXPORT std::uint32_t m3res_format_version() { return 1; }')
    text = "\n".join(lines) + "\n"
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(tmp, path)


def markdown(src):
    m = src.manifest
    out = ["| String | Check | Role | English text |", "|---|---|---|---|"]
    for sid, (check, role, _) in sorted(m.strings.items()):
        text = src.strings.get((sid, ENGLISH), ("", ""))[0].replace("|", "\\|").replace("\n", " ")
        out.append(f"| {sid} | {check} | {role} | {text} |")
    names = {v: k for k, v in STYLE_FLAGS.items()}
    for did, (kind, role, _) in sorted(m.dialogs.items()):
        d = src.dialogs[did]
        roles = {cid: (cls, crole) for cid, cls, crole, _ in m.controls[did]}
        out.append("")
        out.append(f"### Template {did}: {role}")
        out.append("")
        out.append(f"{kind}, {d.cx} x {d.cy} dialog units, caption \"{d.caption}\", "
                   f"font {d.font[1]} pt {d.font[0]}.")
        out.append("")
        if not d.controls:
            out.append("No controls.")
            continue
        out.append("| Control | Kind | x, y, cx, cy | Style | Text | Role |")
        out.append("|---|---|---|---|---|---|")
        for c in d.controls:
            style = ",".join(names[1 << b] for b in range(32) if c.style & (1 << b)) or "-"
            text = c.text.replace("|", "\\|")
            crole = roles.get(c.id, ("", "label" if c.kind == "static" else ""))[1]
            cid = "-1" if c.id == -1 else str(c.id)
            out.append(f"| {cid} | {c.kind} | {c.x}, {c.y}, {c.cx}, {c.cy} | {style} | {text} | {crole} |")
    print("\n".join(out))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", required=True, help="folder with manifest.txt, strings*.txt, dialogs/, icons/")
    parser.add_argument("--output", help="C++ file to write")
    parser.add_argument("--markdown", action="store_true", help="print the reference tables")
    args = parser.parse_args()
    try:
        src, errors = load_source(args.source)
    except (OSError, UnicodeDecodeError) as e:
        print(f"{args.source}: error: {e}", file=sys.stderr)
        return 1
    if errors.items:
        for item in errors.items:
            print(item, file=sys.stderr)
        print(f"resource source in {args.source}: {len(errors.items)} error(s); no library written",
              file=sys.stderr)
        return 1
    if args.output:
        write_cpp(src, args.output)
    if args.markdown:
        markdown(src)
    return 0


if __name__ == "__main__":
    sys.exit(main())
