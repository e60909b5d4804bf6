#!/usr/bin/python3
"""The release installer, made from this build's own files and tried under Wine's msiexec.

  installer_test.py prepare --build BUILD --out DIR
      a throwaway certificate; the release staged and signed with it (stage_release.sh); the
      installer of this version and one of an older version (0.0.1) from the same source, signed
  installer_test.py staging --build BUILD --out DIR
      without a certificate the release says it is unsigned; a build lacking a file stops it
  installer_test.py signatures --out DIR --pipl PIPL
      each signature verifies and breaks when one byte changes; the signed plug-in passes the PE
      checks; unusable certificates are refused before a file is touched
  installer_test.py lifecycle --out DIR --session STATE --wine-pyrix EXE --native-pyrix EXE
                    --native-plugin SO
      one fresh Wine prefix: older version, upgrade, the installed plug-in renders the native
      frame's bits, downgrade refused, repair, uninstall keeping a user's file
  installer_test.py installdir --out DIR --session STATE
      a fresh prefix: INSTALLDIR moves the install, and the uninstall leaves nothing

Every check prints "ok: ..." or "FAIL: ..."; exit 1 on the first failure.
"""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
PACKAGE = os.path.join(ROOT, "tools", "package")
WINDOWS = os.path.join(ROOT, "tools", "windows")
OLD_VERSION = "0.0.1"
HOST_FOLDER = r"Program Files\Common Files\Adobe\Plug-ins\7.0\MediaCore\vexo_Pyrix"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"


def fail(message):
    print(f"FAIL: {message}")
    sys.exit(1)


def ok(message):
    print(f"ok: {message}")


def run(command, env=None, check=True):
    result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                            env=env)
    if check and result.returncode != 0:
        fail(f"{' '.join(command)} exited with {result.returncode}\n{result.stdout}{result.stderr}")
    return result


def sha256(path):
    with open(path, "rb") as handle:
        return hashlib.sha256(handle.read()).hexdigest()


def tree(folder):
    """Relative path -> SHA-256 of every file under FOLDER ({} if it does not exist)."""
    found = {}
    for where, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(where, name)
            found[os.path.relpath(path, folder)] = sha256(path)
    return found


# ---- prepare ----------------------------------------------------------------------------------

def make_certificate(folder, name, dates=None):
    """A self-signed certificate and key; DATES (start, end) makes one outside its validity."""
    os.makedirs(folder, exist_ok=True)
    key, cert = os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem")
    if dates is None:
        run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
             "-out", cert, "-days", "2", "-subj", f"/CN={name}"])
        return cert, key
    # openssl req cannot date a certificate in the past; openssl ca can.
    config = os.path.join(folder, "ca.cnf")
    with open(config, "w") as handle:
        handle.write(f"[ca]\ndefault_ca=d\n[d]\ndatabase={folder}/index.txt\n"
                     f"new_certs_dir={folder}\nserial={folder}/serial\ndefault_md=sha256\n"
                     "policy=p\n[p]\ncommonName=supplied\n")
    open(os.path.join(folder, "index.txt"), "w").close()
    with open(os.path.join(folder, "serial"), "w") as handle:
        handle.write("01\n")
    request = os.path.join(folder, "request.csr")
    run(["openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out",
         request, "-subj", f"/CN={name}"])
    run(["openssl", "ca", "-batch", "-config", config, "-selfsign", "-keyfile", key, "-in",
         request, "-out", cert, "-startdate", dates[0], "-enddate", dates[1]])
    return cert, key


def signing_env(cert, key):
    env = {k: v for k, v in os.environ.items() if not k.startswith("PYRIX_SIGN_")}
    env.update(PYRIX_SIGN_CERT=cert, PYRIX_SIGN_KEY=key)
    return env


def prepare(args):
    shutil.rmtree(args.out, ignore_errors=True)
    cert, key = make_certificate(os.path.join(args.out, "signer"), "Pyrix Throwaway Signer")
    env = signing_env(cert, key)
    stage = os.path.join(args.out, "stage")
    staged = run([os.path.join(PACKAGE, "stage_release.sh"), args.build, stage], env=env)
    if staged.stdout.strip().splitlines()[-1] != "signed by Pyrix Throwaway Signer":
        fail(f"the staged release is not signed:\n{staged.stdout}")
    product = os.path.join(args.build, "resources", "product.txt")
    for version in (None, OLD_VERSION):
        msi = os.path.join(args.out, f"{version or 'current'}.msi")
        run([os.path.join(PACKAGE, "make_msi.py"), "--stage", stage, "--product", product,
             "--out", msi] + (["--version", version] if version else []))
        run([os.path.join(PACKAGE, "sign.sh"), "sign", msi], env=env)
    run([sys.executable, os.path.join(PACKAGE, "check_guide.py"),
         os.path.join(stage, "user_guide.html"), "--signed-by", "Pyrix Throwaway Signer"])
    shutil.copy(product, os.path.join(args.out, "product.txt"))
    ok(f"staged, signed and packed: {sorted(tree(stage))}")
    return 0


# ---- staging ----------------------------------------------------------------------------------

def staging(args):
    """Without a certificate the release says it is unsigned; without a file it is not made."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("PYRIX_SIGN_")}
    stage = os.path.join(args.out, "unsigned-stage")
    staged = run([os.path.join(PACKAGE, "stage_release.sh"), args.build, stage], env=env)
    if staged.stdout.strip().splitlines()[-1] != "UNSIGNED":
        fail(f"an unsigned release does not say so:\n{staged.stdout}")
    run([sys.executable, os.path.join(PACKAGE, "check_guide.py"),
         os.path.join(stage, "user_guide.html"), "--unsigned"])
    ok("without a certificate: UNSIGNED, and the guide's install section says so")
    # A build folder that lacks one input: this one's files, but not its link map.
    partial = os.path.join(args.out, "partial-build")
    shutil.rmtree(partial, ignore_errors=True)
    os.makedirs(os.path.join(partial, "host"))
    for sub in ("resources", "native", os.path.join("host", "vexo_Pyrix.aex")):
        os.symlink(os.path.join(os.path.abspath(args.build), sub), os.path.join(partial, sub))
    missing = os.path.join(partial, "host", "vexo_Pyrix.map")
    result = run([os.path.join(PACKAGE, "stage_release.sh"), partial, stage], env=env, check=False)
    if result.returncode == 0 or missing not in result.stderr:
        fail(f"a build without {missing}: exit {result.returncode}, {result.stderr}")
    ok(f"a build without its link map: refused ({result.stderr.strip()})")
    shutil.rmtree(partial)
    return 0


# ---- signatures -------------------------------------------------------------------------------

def verify(path, cert):
    return run(["osslsigncode", "verify", "-in", path, "-CAfile", cert], check=False)


def signatures(args):
    cert = os.path.join(args.out, "signer", "cert.pem")
    aex = os.path.join(args.out, "stage", "vexo_Pyrix.aex")
    msi = os.path.join(args.out, "current.msi")
    for path, marker in ((aex, b".text"), (msi, b"MSCF")):
        result = verify(path, cert)
        if result.returncode != 0 or "Signature verification: ok" not in result.stdout:
            fail(f"{path}: osslsigncode verify:\n{result.stdout}{result.stderr}")
        # One byte of what the signature covers: the code section's name, the cabinet's start.
        data = bytearray(open(path, "rb").read())
        data[data.index(marker) + 1] ^= 0x01
        broken = os.path.join(args.out, "broken" + os.path.splitext(path)[1])
        with open(broken, "wb") as handle:
            handle.write(data)
        if verify(broken, cert).returncode == 0:
            fail(f"{path} with one byte changed still verifies")
        ok(f"{os.path.basename(path)}: signature verifies; one byte changed, it does not")
    # The signed plug-in passes every check of the file as the host reads it.
    kernels = [os.path.join(ROOT, "kernels", "bytecode", n)
               for n in ("anchor_kernel.dxbc", "fire_kernel.dxbc")]
    for check in ("exports", "imports", "pipl", "dialog", "kernels", "version"):
        result = run([sys.executable, os.path.join(WINDOWS, "pe_check.py"), check, aex,
                      "--pipl", args.pipl, "--dxbc", *kernels], check=False)
        if result.returncode != 0:
            fail(f"the signed plug-in fails the {check} check: {result.stdout}")
    ok("the signed plug-in passes the PE checks (exports, imports, pipl, dialog, kernels, "
       "version)")
    pkcs12(args)
    bad_certificates(args, aex)
    return 0


def pkcs12(args):
    """The certificate and key in one PKCS#12 file with its password sign as well."""
    cert, key = (os.path.join(args.out, "signer", n) for n in ("cert.pem", "key.pem"))
    bundle = os.path.join(args.out, "signer", "signer.p12")
    run(["openssl", "pkcs12", "-export", "-in", cert, "-inkey", key, "-out", bundle,
         "-passout", "pass:throwaway password"])
    target = os.path.join(args.out, "pkcs12.msi")
    shutil.copy(os.path.join(args.out, f"{OLD_VERSION}.msi"), target)
    env = {k: v for k, v in os.environ.items() if not k.startswith("PYRIX_SIGN_")}
    env.update(PYRIX_SIGN_PKCS12=bundle, PYRIX_SIGN_PASSWORD="throwaway password")
    run([os.path.join(PACKAGE, "sign.sh"), "sign", target], env=env)
    result = verify(target, cert)
    if result.returncode != 0:
        fail(f"signed from PKCS#12: osslsigncode verify:\n{result.stdout}{result.stderr}")
    env.update(PYRIX_SIGN_PASSWORD="wrong")
    result = run([os.path.join(PACKAGE, "sign.sh"), "sign", target], env=env, check=False)
    if result.returncode == 0 or "wrong password" not in result.stderr:
        fail(f"PKCS#12 with a wrong password: exit {result.returncode}, {result.stderr}")
    ok("signed from a PKCS#12 file: verifies; with a wrong password: refused")


def bad_certificates(args, aex):
    good_cert, good_key = (os.path.join(args.out, "signer", n) for n in ("cert.pem", "key.pem"))
    other_cert, _ = make_certificate(os.path.join(args.out, "other"), "Someone Else")
    expired = make_certificate(os.path.join(args.out, "expired"), "Expired Signer",
                               ("20200101000000Z", "20210101000000Z"))
    cases = {
        "a certificate that is not the key's": (signing_env(other_cert, good_key),
                                                "does not belong to the key"),
        "an expired certificate": (signing_env(*expired), "expired on"),
        "a missing certificate": (signing_env(os.path.join(args.out, "none.pem"), good_key),
                                  "cannot read"),
    }
    target = os.path.join(args.out, "unsigned.aex")
    for what, (env, message) in cases.items():
        shutil.copy(aex, target)
        before = sha256(target)
        result = run([os.path.join(PACKAGE, "sign.sh"), "sign", target], env=env, check=False)
        if result.returncode == 0 or message not in result.stderr:
            fail(f"{what}: sign.sh exited {result.returncode}: {result.stderr}")
        leftovers = [n for n in os.listdir(args.out) if n.endswith(".signed")]
        if sha256(target) != before or leftovers:
            fail(f"{what}: the file was changed or a part was left: {leftovers}")
        ok(f"{what}: refused, file untouched ({result.stderr.strip()})")


# ---- under Wine -------------------------------------------------------------------------------

class Wine:
    def __init__(self, args):
        self.session = args.session
        self.script = os.path.join(WINDOWS, "wine_session.sh")
        self.drive_c = os.path.join(os.path.realpath(args.session), "prefix", "drive_c")
        self.logs = 0
        run([self.script, "start", self.session])
        # The packages where msiexec sees them as C:\installers\, and cmd reports its exit code
        # in full (Wine's own exit status keeps only the low byte).
        os.makedirs(os.path.join(self.drive_c, "installers"))
        for name in ("current.msi", f"{OLD_VERSION}.msi"):
            shutil.copy(os.path.join(args.out, name), os.path.join(self.drive_c, "installers"))

    def msiexec(self, *options):
        # From a batch file: Wine would quote a command line given to cmd in its own way.
        with open(os.path.join(self.drive_c, "installers", "msiexec.bat"), "w") as handle:
            handle.write(f"@msiexec {' '.join(options)}\r\n@echo exit %ERRORLEVEL%\r\n")
        output = run([self.script, "run", self.session, "120", "cmd", "/c",
                      r"C:\installers\msiexec.bat"], check=False).stdout
        lines = output.replace("\r", "").strip().splitlines()
        if not lines or not lines[-1].startswith("exit "):
            fail(f"msiexec {' '.join(options)} did not finish: {output}")
        return int(lines[-1].split()[1])

    def install(self, name, *properties, window=False):
        """Silently, or WINDOW: as a double-click does (nothing to answer, or it times out)."""
        self.logs += 1
        log = rf"C:\installers\{self.logs}.{name}.log"
        quiet = [] if window else ["/qn"]
        return self.msiexec("/i", rf"C:\installers\{name}", *quiet, "/l*v", log, *properties)

    def entries(self):
        """Our installed-programs entries: {key: {value name: data}}."""
        output = run([self.script, "run", self.session, "60", "reg", "query", UNINSTALL_KEY,
                      "/s"], check=False).stdout.replace("\r", "")
        entries, current = {}, None
        for line in output.splitlines():
            if line.startswith("HKEY_"):
                current = entries.setdefault(line.rsplit("\\", 1)[-1], {})
            elif current is not None and line.startswith("    "):
                parts = line.strip().split(None, 2)
                current[parts[0]] = parts[2] if len(parts) == 3 else ""
        return {k: v for k, v in entries.items() if v.get("DisplayName") == "vexo_Pyrix"}

    def remembered_dir(self):
        """The folder the installer remembers in the registry, or None."""
        result = run([self.script, "run", self.session, "60", "reg", "query",
                      r"HKLM\Software\vexo_Pyrix", "/v", "InstallDir"], check=False)
        for line in result.stdout.replace("\r", "").splitlines():
            if line.strip().startswith("InstallDir"):
                return line.strip().split(None, 2)[2]
        return None

    def folder(self, windows_path):
        return os.path.join(self.drive_c, windows_path.replace("\\", "/"))

    def stop(self):
        run([self.script, "stop", self.session], check=False)


def product_facts(out):
    with open(os.path.join(out, "product.txt"), encoding="utf-8") as handle:
        return dict(line.rstrip("\n").split("=", 1) for line in handle if "=" in line)


def expect_one_entry(wine, version, out=None):
    entries = wine.entries()
    if len(entries) != 1:
        fail(f"{len(entries)} installed-programs entries, expected one: {entries}")
    entry = next(iter(entries.values()))
    if entry.get("DisplayVersion") != version:
        fail(f"installed-programs entry shows version {entry.get('DisplayVersion')}, not {version}")
    if out:
        stage = os.path.join(out, "stage")
        size = (sum(os.path.getsize(os.path.join(stage, f)) for f in tree(stage)) + 1023) // 1024
        facts = product_facts(out)
        shown = {k: entry.get(k) for k in ("DisplayName", "Publisher", "Size")}
        wanted = {"DisplayName": facts["ProductName"], "Publisher": facts["Manufacturer"],
                  "Size": str(size)}
        if shown != wanted:
            fail(f"installed-programs entry shows {shown}, expected {wanted}")
    return entry


def lifecycle(args):
    wine = Wine(args)
    try:
        return walk_lifecycle(args, wine)
    finally:
        wine.stop()


def walk_lifecycle(args, wine):
    stage = tree(os.path.join(args.out, "stage"))
    version = product_facts(args.out)["ProductVersion"]
    installed = wine.folder(HOST_FOLDER)
    if wine.install(f"{OLD_VERSION}.msi", window=True) != 0:
        fail(f"installing {OLD_VERSION} as a double-click does failed")
    expect_one_entry(wine, OLD_VERSION)
    ok(f"{OLD_VERSION} installed with its window, nothing to answer")
    code = wine.install("current.msi")
    if code != 0 or tree(installed) != stage:
        fail(f"upgrade to {version}: exit {code}, installed {sorted(tree(installed))}")
    entry = expect_one_entry(wine, version, args.out)
    shown = {k: entry[k] for k in ("DisplayName", "DisplayVersion", "Publisher", "Size",
                                   "URLInfoAbout", "UninstallString")}
    ok(f"{OLD_VERSION} upgraded to {version} silently: every file in C:\\{HOST_FOLDER}, "
       f"one installed-programs entry {shown}")

    render = run([sys.executable, os.path.join(WINDOWS, "render_compare.py"), "--session",
                  args.session, "--wine-pyrix", args.wine_pyrix,
                  "--wine-plugin", f"C:\\{HOST_FOLDER}\\vexo_Pyrix.aex",
                  "--native-pyrix", args.native_pyrix, "--native-plugin", args.native_plugin,
                  "--out", os.path.join(args.out, "frames"), "--name", "installed", "--",
                  "--frames", "13", "--size", "480x270", "--depth", "8"], check=False)
    print(render.stdout.strip())
    if render.returncode != 0:
        fail("the installed plug-in's frame differs from the native one")

    before = (tree(installed), wine.entries())
    code = wine.install(f"{OLD_VERSION}.msi")
    if code != 1603 or (tree(installed), wine.entries()) != before:
        fail(f"downgrade to {OLD_VERSION}: exit {code}, or something changed")
    ok(f"downgrade to {OLD_VERSION} refused (exit 1603), nothing changed")

    os.remove(os.path.join(installed, "vexo_Pyrix.aex"))
    code = wine.install("current.msi")
    if code != 0 or tree(installed) != stage:
        fail(f"the same package again: exit {code}, installed {sorted(tree(installed))}")
    expect_one_entry(wine, version)
    ok("the same package again repaired the deleted plug-in")

    with open(os.path.join(installed, "my_presets.txt"), "w") as handle:
        handle.write("a user's own file\n")
    code = wine.msiexec("/x", r"C:\installers\current.msi", "/qn")
    left = tree(installed)
    if code != 0 or list(left) != ["my_presets.txt"] or wine.entries() or wine.remembered_dir():
        fail(f"uninstall: exit {code}, left {sorted(left)}, entries {wine.entries()}")
    ok("uninstalled: no file, entry or registry value of ours left; the user's own file stays")
    return 0


def installdir(args):
    wine = Wine(args)
    try:
        stage = tree(os.path.join(args.out, "stage"))
        target = r"C:\Studio Plugins\vexo_Pyrix"
        moved = wine.folder(target[3:])
        code = wine.install(f"{OLD_VERSION}.msi", f'INSTALLDIR="{target}"')
        if code != 0 or wine.remembered_dir() != target + "\\":
            fail(f"INSTALLDIR: exit {code}, remembered {wine.remembered_dir()}")
        # The next version, not told where: it goes where the last one was put.
        code = wine.install("current.msi")
        if code != 0 or tree(moved) != stage or os.path.exists(wine.folder(HOST_FOLDER)):
            fail(f"upgrade after INSTALLDIR: exit {code}, there {sorted(tree(moved))}")
        expect_one_entry(wine, product_facts(args.out)["ProductVersion"])
        ok(f"INSTALLDIR put {OLD_VERSION} into {target}; the upgrade went there too, every file, "
           "and none into the default folder")
        code = wine.msiexec("/x", r"C:\installers\current.msi", "/qn")
        if code != 0 or os.path.exists(moved) or wine.entries() or wine.remembered_dir():
            fail(f"uninstall from INSTALLDIR: exit {code}, left {sorted(tree(moved))}")
        ok(f"uninstalled: {target} and the remembered folder's registry value are gone")
        return 0
    finally:
        if not os.environ.get("PYRIX_KEEP_SESSION"):
            wine.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("step", choices=("prepare", "staging", "signatures", "lifecycle",
                                         "installdir"))
    for option in ("build", "out", "session", "wine-pyrix", "native-pyrix", "native-plugin",
                   "pipl"):
        parser.add_argument("--" + option)
    args = parser.parse_args()
    return globals()[args.step](args)


if __name__ == "__main__":
    sys.exit(main())
