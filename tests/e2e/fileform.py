"""The preference file's format as the program reads and writes it, for the end-to-end tests
and the soak: its lines parsed from bytes, the normal form a write-back gives for them, and the
users' records the keeper reads from them. Standard library only."""

BOM = b"\xef\xbb\xbf"


def parse(data):
    """Gives (utf8, lines) with lines as (kind, key, text), kind "group", "comment" or "entry"."""
    utf8 = len(data) >= 3 and data[:3] == BOM
    content = data[3:] if utf8 else data
    n = len(content)
    c = content + b"\0\0"
    ends = (13, 10, 0)
    lines = []
    i = 0
    while i < n:
        while c[i] in (32, 9):
            i += 1
        if c[i] == ord(";"):
            i += 1
            if c[i] == 32:
                i += 1
            start = i
            while c[i] not in ends:
                i += 1
            lines.append(("comment", None, c[start:i]))
            line_end = i
        elif c[i] == ord("["):
            i += 1
            start = i
            while c[i] != ord("]") and c[i] not in ends:
                i += 1
            lines.append(("group", None, c[start:i]))
            line_end = i
            if c[i] == ord("]"):
                line_end = i + 1
                while c[line_end] not in ends:
                    line_end += 1
        elif c[i] in ends:
            line_end = i
        else:
            start = i
            while c[i] != ord("=") and c[i] not in ends:
                i += 1
            key_end = i
            while key_end > start and c[key_end - 1] in (32, 9):
                key_end -= 1
            value = b""
            if c[i] == ord("="):
                i += 1
                while c[i] in (32, 9):
                    i += 1
                value_start = i
                while c[i] not in ends:
                    i += 1
                value = c[value_start:i]
            lines.append(("entry", c[start:key_end], value))
            line_end = i
        i = line_end + 1
        while c[i] in (13, 10):
            i += 1
    return utf8, lines


def normal_form(utf8, lines):
    out = [BOM + b"\r\n"] if utf8 else []
    if not utf8 and lines and lines[0][0] == "entry" and lines[0][1].startswith(BOM):
        out = [b"\r\n"]  # so that the text does not start with the mark's bytes
    for kind, key, text in lines:
        if kind == "group":
            out.append(b"[" + text + b"]\r\n")
        elif kind == "comment":
            out.append(b"; " + text + b"\r\n")
        else:
            out.append(key + b" = " + text + b"\r\n")
    return b"".join(out)


def normalised(data):
    """The normal form of a file's bytes: what the program writes back when it has changed
    nothing but the form."""
    return normal_form(*parse(data))


DEFAULT_WIDTH, DEFAULT_HEIGHT = 1024, 768
INT32_MIN, INT32_MAX = -(2**31), 2**31 - 1


# ---- The records, as the keeper reads them -------------------------------------------------


def fold(name):
    return name.lower()  # A-Z only, as the program compares names


def in_file(utf8, name):
    """A Latin-1 name as a file of that encoding holds it."""
    return name.decode("latin-1").encode("utf-8") if utf8 else name


def latin1_name(utf8, text):
    """A group's name as the program's ANSI text: b"" when it has none."""
    if not utf8:
        return text
    out = bytearray()
    at = 0
    while at < len(text):
        lead = text[at]
        more = 0 if lead < 0x80 else -1 if lead < 0xC0 else 1 if lead < 0xE0 else 2 if lead < 0xF0 \
            else 3 if lead < 0xF8 else -1
        if more < 0:
            return b""
        if len(text) - at - 1 < more:
            break  # cut off by the end: what came before
        value = lead if more == 0 else lead & (0x3F >> more)
        for k in range(1, more + 1):
            if text[at + k] & 0xC0 != 0x80:
                return b""
            value = (value << 6) | (text[at + k] & 0x3F)
        if value > 0xFF:
            return b""
        out.append(value)
        at += 1 + more
    return bytes(out)


def atoi(text):
    i = 0
    while i < len(text) and text[i] in b" \t\n\v\f\r":
        i += 1
    negative = i < len(text) and text[i] == ord("-")
    if i < len(text) and text[i] in b"+-":
        i += 1
    value = 0
    while i < len(text) and 48 <= text[i] <= 57 and value <= INT32_MAX + 1:
        value = value * 10 + text[i] - 48
        i += 1
    value = -value if negative else value
    return max(INT32_MIN, min(INT32_MAX, value))


def groups_of(data):
    """[(name, header text, width, height)] of every group, in file order; the name is the
    program's (b"" when it has none)."""
    utf8, lines = parse(data)
    found = []
    for index, (kind, _, text) in enumerate(lines):
        if kind != "group":
            continue
        name = latin1_name(utf8, text)
        values = {}
        for kind2, key, value in lines[index + 1:]:
            if kind2 == "group":
                break
            if kind2 == "entry":
                values.setdefault(fold(key), value)
        width = atoi(values[b"res_x"]) if b"res_x" in values else DEFAULT_WIDTH
        height = atoi(values[b"res_y"]) if b"res_y" in values else DEFAULT_HEIGHT
        found.append((name, text, width, height))
    return found
