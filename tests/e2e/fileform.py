"""The preference file's format as the program reads and writes it, for the end-to-end tests
and the soak: its lines parsed from bytes, and the normal form a write-back gives for them.
Standard library only."""

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
