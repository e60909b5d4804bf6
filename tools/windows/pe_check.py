#!/usr/bin/python3
"""Checks of the cross-built plug-in file (.aex): what the host sees before it runs any code.

Usage: pe_check.py CHECK AEX [options]
  exports                       exactly EffectMain and PluginDataEntryFunction2, 64-bit DLL
                                with ASLR and DEP
  imports                       only system DLLs, among them Direct3D 11 and DXGI
  pipl --pipl FILE              the PIPL resource equals the generated registration bytes
  registration --registered F   the PIPL properties agree with what PluginDataEntryFunction2
                                registered (F: the key=value lines printed by the Wine probe)
  dialog                        the About dialog template, field by field
  version                       the version resource (VERSIONINFO) agrees with the PIPL's
                                version and name and with the maker and licence lines of the
                                About dialog; prints its fields
  kernels --dxbc FILE...        the compiled kernels are embedded byte for byte, in the image's
                                sections (not in an appended signature or other trailing data)

Exit status 0 when the check passes, 1 with one line per fault otherwise.
Needs Debian's python3-pefile: run with /usr/bin/python3.
"""

import argparse
import struct
import sys

import pefile

PIPL_ID = 16000
DIALOG_ID = 16001
LANG_EN_US = 1033
RT_DIALOG = 5

EXPECTED_EXPORTS = {"EffectMain", "PluginDataEntryFunction2"}

# DLLs that every 64-bit Windows has. Anything else (the compiler's runtime DLLs above all)
# would have to sit next to the plug-in, where the host never looks.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "advapi32.dll", "ole32.dll",
    "msvcrt.dll", "d3d11.dll", "d3d12.dll", "dxgi.dll", "ucrtbase.dll", "ntdll.dll", "comctl32.dll",
    "shlwapi.dll", "uxtheme.dll", "dwmapi.dll", "shcore.dll",
}
REQUIRED_DLLS = {"d3d11.dll", "dxgi.dll"}


class Faults:
    def __init__(self):
        self.lines = []

    def expect(self, condition, message):
        if not condition:
            self.lines.append(message)

    def equal(self, what, actual, expected):
        self.expect(actual == expected, f"{what}: {actual!r}, expected {expected!r}")

    def finish(self, passed_message):
        for line in self.lines:
            print(f"FAIL: {line}")
        if not self.lines:
            print(passed_message)
        return 1 if self.lines else 0


# ---- resources --------------------------------------------------------------------------------

def language_entries(pe, type_key, res_id):
    """The language entries of one resource; type_key is a numeric type or a type name."""
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return []
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if isinstance(type_key, str):
            if type_entry.name is None or str(type_entry.name) != type_key:
                continue
        elif type_entry.name is not None or type_entry.id != type_key:
            continue
        for id_entry in type_entry.directory.entries:
            if id_entry.name is None and id_entry.id == res_id:
                return id_entry.directory.entries
    return []


def find_resource(pe, type_key, res_id, lang):
    """Bytes of one resource in one language, or None."""
    for lang_entry in language_entries(pe, type_key, res_id):
        if lang_entry.id == lang:
            data = lang_entry.data.struct
            return pe.get_data(data.OffsetToData, data.Size)
    return None


def missing_resource(pe, what, type_key, res_id):
    languages = [entry.id for entry in language_entries(pe, type_key, res_id)]
    return f"no {what} {res_id} in language {LANG_EN_US} (languages found: {languages})"


# ---- PiPL -------------------------------------------------------------------------------------

def parse_pipl(data):
    """The PiPL's properties as (key, bytes) pairs, keys as the host reads them ('kind')."""
    if len(data) < 10:
        raise ValueError("PiPL shorter than its header")
    version, reserved, count = struct.unpack_from("<HII", data, 0)
    if version != 1 or reserved != 0:
        raise ValueError(f"PiPL header version {version}, reserved {reserved}")
    offset = 10
    properties = []
    for index in range(count):
        if offset + 16 > len(data):
            raise ValueError(f"property {index + 1} runs past the end")
        vendor, key, prop_id, length = struct.unpack_from("<4s4sII", data, offset)
        if vendor != b"MIB8" or prop_id != 0:
            raise ValueError(f"property {index + 1}: vendor {vendor!r}, id {prop_id}")
        offset += 16
        padded = (length + 3) & ~3
        if offset + padded > len(data):
            raise ValueError(f"property {index + 1} data runs past the end")
        properties.append((key[::-1].decode("latin-1"), data[offset:offset + length]))
        offset += padded
    if offset != len(data):
        raise ValueError(f"{len(data) - offset} bytes after the last property")
    return properties


def counted_string(value):
    return value[1:1 + value[0]].decode("latin-1")


def zero_terminated(value):
    return value.split(b"\0", 1)[0].decode("latin-1")


# ---- dialog template --------------------------------------------------------------------------

class Reader:
    def __init__(self, data):
        self.data = data
        self.offset = 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.offset)
        self.offset += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def align(self, boundary):
        self.offset = (self.offset + boundary - 1) & ~(boundary - 1)

    def text(self):
        end = self.offset
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        value = self.data[self.offset:end].decode("utf-16-le")
        self.offset = end + 2
        return value

    def sz_or_ord(self):
        if struct.unpack_from("<H", self.data, self.offset)[0] == 0xFFFF:
            self.offset += 2
            return self.take("H")
        return self.text()


def parse_dialog_ex(data):
    r = Reader(data)
    dialog = {}
    version, signature = r.take("HH")
    if (version, signature) != (1, 0xFFFF):
        raise ValueError("not an extended dialog template")
    dialog["help_id"], dialog["ex_style"], dialog["style"] = r.take("III")
    count = r.take("H")
    dialog["rect"] = r.take("hhhh")
    dialog["menu"] = r.sz_or_ord()
    dialog["class"] = r.sz_or_ord()
    dialog["caption"] = r.text()
    if dialog["style"] & 0x40:  # DS_SETFONT
        dialog["font"] = (r.take("H"), r.take("H"), r.take("B"), r.take("B"), r.text())
    controls = []
    for _ in range(count):
        r.align(4)
        control = {}
        control["help_id"], control["ex_style"], control["style"] = r.take("III")
        control["rect"] = r.take("hhhh")
        control["id"] = r.take("i")
        control["class"] = r.sz_or_ord()
        control["text"] = r.sz_or_ord()
        extra = r.take("H")
        r.offset += extra
        controls.append(control)
    dialog["controls"] = controls
    return dialog


BUTTON, STATIC = 0x80, 0x82
STATIC_STYLE = 0x50020000  # WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT
BUTTON_STYLE = 0x5001000B  # WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW

# id, class, style, (x, y, width, height), text (None: the wording is free, but not empty)
EXPECTED_CONTROLS = [
    (1002, STATIC, STATIC_STYLE, (12, 9, 286, 14), "vexo_Pyrix"),
    (-1, STATIC, STATIC_STYLE, (12, 29, 286, 10), None),
    (-1, STATIC, STATIC_STYLE, (12, 42, 286, 10), None),
    (-1, STATIC, STATIC_STYLE, (12, 64, 286, 10), None),
    (-1, STATIC, STATIC_STYLE, (12, 76, 286, 10), None),
    (-1, STATIC, STATIC_STYLE, (12, 88, 286, 10), None),
    (1001, BUTTON, BUTTON_STYLE, (140, 110, 76, 12), "Visit Website"),
    (2, BUTTON, BUTTON_STYLE, (222, 110, 76, 12), "Close"),
]


# ---- the checks -------------------------------------------------------------------------------

def check_exports(pe, _args):
    f = Faults()
    f.equal("machine", hex(pe.FILE_HEADER.Machine), hex(pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]))
    f.expect(pe.FILE_HEADER.Characteristics & 0x2000, "the file is not a DLL")
    f.expect(pe.OPTIONAL_HEADER.Magic == 0x20B, "not a PE32+ (64-bit) image")
    # Loaded at a random address, data never executable: what a host process expects today.
    for flag, name in ((0x40, "DYNAMIC_BASE"), (0x100, "NX_COMPAT")):
        f.expect(pe.OPTIONAL_HEADER.DllCharacteristics & flag, f"DLL characteristic {name} missing")
    names = set()
    if hasattr(pe, "DIRECTORY_ENTRY_EXPORT"):
        for symbol in pe.DIRECTORY_ENTRY_EXPORT.symbols:
            names.add(symbol.name.decode() if symbol.name else f"#{symbol.ordinal}")
            f.expect(symbol.forwarder is None, f"export {symbol.name} is forwarded")
    f.equal("exports", sorted(names), sorted(EXPECTED_EXPORTS))
    return f.finish("exports: EffectMain, PluginDataEntryFunction2 only")


def check_imports(pe, _args):
    f = Faults()
    dlls = set()
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dlls.add(entry.dll.decode().lower())
    for entry in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", []):
        dlls.add(entry.dll.decode().lower())
    for dll in sorted(dlls):
        f.expect(dll in SYSTEM_DLLS or dll.startswith("api-ms-win-"), f"imports non-system DLL {dll}")
    for dll in sorted(REQUIRED_DLLS - dlls):
        f.expect(False, f"does not import {dll}")
    return f.finish("imports: " + ", ".join(sorted(dlls)))


def check_pipl(pe, args):
    f = Faults()
    data = find_resource(pe, "PIPL", PIPL_ID, LANG_EN_US)
    f.expect(data is not None, missing_resource(pe, "PIPL resource", "PIPL", PIPL_ID))
    if data is not None:
        with open(args.pipl, "rb") as handle:
            expected = handle.read()
        f.equal("PIPL size", len(data), len(expected))
        if data != expected:
            first = next((i for i, (a, b) in enumerate(zip(data, expected)) if a != b),
                         min(len(data), len(expected)))
            f.expect(False, f"PIPL bytes differ from {args.pipl} at offset {first}")
        try:
            f.equal("PIPL property count", len(parse_pipl(data)), 13)
        except ValueError as error:
            f.expect(False, f"PIPL unreadable: {error}")
    return f.finish(f"PIPL {PIPL_ID}/{LANG_EN_US}: equal to {args.pipl}")


def read_registered(path):
    values = {}
    with open(path, encoding="latin-1") as handle:
        for line in handle:
            if "=" in line:
                key, value = line.rstrip("\r\n").split("=", 1)
                values[key] = value
    return values


def check_registration(pe, args):
    f = Faults()
    data = find_resource(pe, "PIPL", PIPL_ID, LANG_EN_US)
    if data is None:
        f.expect(False, "no PIPL resource")
        return f.finish("")
    props = dict(parse_pipl(data))
    reg = read_registered(args.registered)
    f.equal("registration result", reg.get("register_error"), "0")
    f.equal("global set-up result", reg.get("setup_error"), "0")
    f.equal("calls of the registration callback", reg.get("calls"), "1")
    f.equal("name", reg.get("name"), counted_string(props["name"]))
    f.equal("match name", reg.get("match_name"), counted_string(props["eMNA"]))
    f.equal("category", reg.get("category"), counted_string(props["catg"]))
    f.equal("entry point", reg.get("entry_point"), zero_terminated(props["8664"]))
    f.equal("kind", reg.get("kind"), str(struct.unpack("<i", props["kind"])[0]))
    major, minor = struct.unpack("<HH", props["eSVR"])
    f.equal("API major version", reg.get("api_major"), str(major))
    f.equal("API minor version", reg.get("api_minor"), str(minor))
    f.equal("support URL", reg.get("support_url"), counted_string(props["eURL"]))
    # The call announces reserved info 8 while the resource's AE_Reserved_Info holds 0.
    f.equal("reserved info in the call", reg.get("reserved_info"), "8")
    f.equal("AE_Reserved_Info in the PIPL", struct.unpack("<I", props["aeFL"])[0], 0)
    f.equal("opaque pointer passed through", reg.get("same_pointer"), "1")
    # Global set-up answers with the same version and flags that the PiPL announces.
    f.equal("version", reg.get("my_version"), str(struct.unpack("<I", props["eVER"])[0]))
    f.equal("out_flags", reg.get("out_flags"), str(struct.unpack("<I", props["eGLO"])[0]))
    f.equal("out_flags2", reg.get("out_flags2"), str(struct.unpack("<I", props["eGL2"])[0]))
    return f.finish("registration call and global set-up agree with the PIPL resource")


def check_dialog(pe, _args):
    f = Faults()
    data = find_resource(pe, RT_DIALOG, DIALOG_ID, LANG_EN_US)
    f.expect(data is not None, missing_resource(pe, "dialog", RT_DIALOG, DIALOG_ID))
    if data is None:
        return f.finish("")
    try:
        d = parse_dialog_ex(data)
    except (ValueError, struct.error, UnicodeDecodeError) as error:
        f.expect(False, f"dialog template unreadable: {error}")
        return f.finish("")
    f.equal("dialog style", hex(d["style"]), hex(0x80C800C0))
    f.equal("dialog extended style", hex(d["ex_style"]), hex(0x00010000))
    f.equal("dialog position and size", d["rect"], (0, 0, 310, 130))
    f.equal("menu", d["menu"], "")
    f.equal("class", d["class"], "")
    f.equal("caption", d["caption"], "About")
    f.equal("font (points, weight, italic, charset, face)", d.get("font"), (8, 400, 0, 1, "Segoe UI"))
    f.equal("number of controls", len(d["controls"]), len(EXPECTED_CONTROLS))
    for number, (control, expected) in enumerate(zip(d["controls"], EXPECTED_CONTROLS), 1):
        control_id, class_ordinal, style, rect, text = expected
        f.equal(f"control {number} id", control["id"], control_id)
        f.equal(f"control {number} class", control["class"], class_ordinal)
        f.equal(f"control {number} style", hex(control["style"]), hex(style))
        f.equal(f"control {number} extended style", control["ex_style"], 0)
        f.equal(f"control {number} position and size", control["rect"], rect)
        if text is None:
            f.expect(isinstance(control["text"], str) and control["text"].strip(),
                     f"control {number} has no text")
        else:
            f.equal(f"control {number} text", control["text"], text)
    return f.finish(f"dialog {DIALOG_ID}/{LANG_EN_US}: template as designed")


def check_kernels(pe, args):
    f = Faults()
    with open(args.aex, "rb") as handle:
        image = handle.read()
    # What the loader maps; a signed file's certificate table lies beyond it, and bytes there are
    # never part of the plug-in.
    image = image[:max(s.PointerToRawData + s.SizeOfRawData for s in pe.sections)]
    for path in args.dxbc:
        with open(path, "rb") as handle:
            blob = handle.read()
        f.expect(blob[:4] == b"DXBC", f"{path} is not a DXBC container")
        f.expect(image.find(blob) >= 0, f"{path} ({len(blob)} bytes) is not embedded")
    return f.finish(f"kernels embedded: {len(args.dxbc)}")


# ---- version resource -------------------------------------------------------------------------

def version_strings(pe):
    """The StringFileInfo values of the version resource, as text."""
    strings = {}
    for group in getattr(pe, "FileInfo", None) or []:
        for info in group:
            for table in getattr(info, "StringTable", []):
                for key, value in table.entries.items():
                    strings[key.decode("utf-8", "replace")] = value.decode("utf-8", "replace")
    return strings


def four_numbers(most, least):
    return (most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)


def check_version(pe, _args):
    f = Faults()
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    pipl = find_resource(pe, "PIPL", PIPL_ID, LANG_EN_US)
    dialog = find_resource(pe, RT_DIALOG, DIALOG_ID, LANG_EN_US)
    f.expect(bool(fixed), "no version resource (VERSIONINFO)")
    f.expect(pipl is not None and dialog is not None,
             "no PIPL or About dialog to compare the version resource with")
    if not fixed or pipl is None or dialog is None:
        return f.finish("")
    props = dict(parse_pipl(pipl))
    texts = [control["text"] for control in parse_dialog_ex(dialog)["controls"]]
    packed = struct.unpack("<I", props["eVER"])[0]
    numbers = (packed >> 19, (packed >> 15) & 0xF, (packed >> 11) & 0xF, packed & 0x1FF)
    dotted = ".".join(str(n) for n in numbers[:3])
    name = counted_string(props["name"])
    strings = version_strings(pe)
    f.equal("file version", four_numbers(fixed[0].FileVersionMS, fixed[0].FileVersionLS), numbers)
    f.equal("product version",
            four_numbers(fixed[0].ProductVersionMS, fixed[0].ProductVersionLS), numbers)
    f.equal("FileVersion", strings.get("FileVersion"), f"{dotted}.{numbers[3]}")
    f.equal("ProductVersion", strings.get("ProductVersion"), dotted)
    f.equal("ProductName", strings.get("ProductName"), name)
    f.equal("OriginalFilename", strings.get("OriginalFilename"), name + ".aex")
    f.expect(strings.get("FileDescription"), "no FileDescription")
    # The About dialog: title, the line naming the maker (with the version), ..., the licence.
    maker_line, licence_line = (texts[1], texts[5]) if len(texts) >= 6 else ("", "")
    company = strings.get("CompanyName", "")
    f.expect(company and company in maker_line,
             f"CompanyName {company!r} is not the maker of the About dialog ({maker_line!r})")
    f.expect(dotted in maker_line, f"the About dialog does not show version {dotted}")
    f.equal("LegalCopyright", strings.get("LegalCopyright"), licence_line)
    for key in sorted(strings):
        print(f"{key}: {strings[key]}")
    return f.finish(f"version resource: {dotted} (build {numbers[3]}), as the PIPL and About dialog")


CHECKS = {
    "exports": check_exports,
    "imports": check_imports,
    "pipl": check_pipl,
    "registration": check_registration,
    "dialog": check_dialog,
    "kernels": check_kernels,
    "version": check_version,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("check", choices=sorted(CHECKS))
    parser.add_argument("aex")
    parser.add_argument("--pipl")
    parser.add_argument("--registered")
    parser.add_argument("--dxbc", nargs="*", default=[])
    args = parser.parse_args()
    try:
        pe = pefile.PE(args.aex)
    except (OSError, pefile.PEFormatError) as error:
        print(f"FAIL: {args.aex}: {error}")
        return 1
    return CHECKS[args.check](pe, args)


if __name__ == "__main__":
    sys.exit(main())
