#!/usr/bin/python3
"""The release installer, made from this build's own files (as make package stages them) and
tried under Wine's msiexec. Steps (each prints "ok: ..." lines, or "FAIL: ..." and exits 1):

  prepare     a throwaway certificate; the release staged and signed with it; this version's
              installer, built twice, and an older one (0.0.1) from the same source, signed
  staging     unsigned, the release says so; a build lacking a file, or a package that differs
              from its folder, is refused naming the file
  signatures  each signature verifies, and not with one byte changed; the signed plug-in passes
              the PE checks; PKCS#12 signs too; unusable certificates are refused untouched
  lifecycle   one fresh prefix: the older version as a double-click installs it, the upgrade,
              the installed plug-in's frame against the native one, downgrade refused, repair,
              a rebuild of the same version, uninstall keeping a user's file
  installdir  a second prefix: INSTALLDIR, the upgrade into it, the uninstall from it
"""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PACKAGE = os.path.join(ROOT, "tools", "package")
WINDOWS = os.path.join(ROOT, "tools", "windows")
OLD_VERSION = "0.0.1"
SIGNER = "Pyrix Throwaway Signer"
HOST_FOLDER = r"Program Files\Common Files\Adobe\Plug-ins\7.0\MediaCore\vexo_Pyrix"


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


def tool(name, *arguments, env=None, check=True):
    return run([os.path.join(PACKAGE, name), *arguments], env=env, check=check)


def refused(result, message, what):
    if result.returncode == 0 or message not in result.stderr:
        fail(f"{what}: exit {result.returncode}, {result.stderr}")
    ok(f"{what}: refused ({result.stderr.strip()})")


def clean_env(**signing):
    env = {k: v for k, v in os.environ.items() if not k.startswith("PYRIX_SIGN_")}
    return dict(env, **signing)


def sha256(path):
    with open(path, "rb") as handle:
        return hashlib.sha256(handle.read()).hexdigest()


def tree(folder):
    """Relative path -> SHA-256 of every file under FOLDER ({} if it does not exist)."""
    return {os.path.relpath(os.path.join(where, name), folder): sha256(os.path.join(where, name))
            for where, _, names in os.walk(folder) for name in names}


def product_facts(out):
    with open(os.path.join(out, "product.txt"), encoding="utf-8") as handle:
        return dict(line.rstrip("\n").split("=", 1) for line in handle if "=" in line)


def make_certificate(folder, name, dates=None):
    """A self-signed certificate and key (PEM); DATES (start, end) for one long expired."""
    os.makedirs(folder)
    key, cert, request = (os.path.join(folder, n) for n in ("key.pem", "cert.pem", "req.csr"))
    if dates is None:
        run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
             "-out", cert, "-days", "2", "-subj", f"/CN={name}"])
        return cert, key
    # openssl req cannot date a certificate in the past; openssl ca can.
    with open(os.path.join(folder, "ca.cnf"), "w") as handle:
        handle.write(f"[ca]\ndefault_ca=d\n[d]\ndatabase={folder}/index\nnew_certs_dir={folder}\n"
                     f"serial={folder}/serial\ndefault_md=sha256\npolicy=p\n[p]\nCN=supplied\n")
    open(os.path.join(folder, "index"), "w").close()
    with open(os.path.join(folder, "serial"), "w") as handle:
        handle.write("01\n")
    run(["openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out",
         request, "-subj", f"/CN={name}"])
    run(["openssl", "ca", "-batch", "-config", os.path.join(folder, "ca.cnf"), "-selfsign",
         "-keyfile", key, "-in", request, "-out", cert, "-startdate", dates[0], "-enddate",
         dates[1]])
    return cert, key


# ---- without Wine -----------------------------------------------------------------------------

def prepare(args):
    shutil.rmtree(args.out, ignore_errors=True)
    cert, key = make_certificate(os.path.join(args.out, "signer"), SIGNER)
    env = clean_env(PYRIX_SIGN_CERT=cert, PYRIX_SIGN_KEY=key)
    stage = os.path.join(args.out, "stage")
    staged = tool("stage_release.sh", args.build, stage, env=env)
    if staged.stdout.strip().splitlines()[-1] != f"signed by {SIGNER}":
        fail(f"the staged release is not signed:\n{staged.stdout}")
    tool("check_guide.py", os.path.join(stage, "user_guide.html"), "--signed-by", SIGNER)
    product = os.path.join(args.build, "resources", "product.txt")
    # This version twice (two builds, two product codes), and an older one.
    for name, version in (("current", None), ("rebuilt", None), (OLD_VERSION, OLD_VERSION)):
        msi = os.path.join(args.out, f"{name}.msi")
        tool("make_msi.py", "--stage", stage, "--product", product, "--out", msi,
             *(["--version", version] if version else []))
        tool("sign.sh", "sign", msi, env=env)
    shutil.copy(product, os.path.join(args.out, "product.txt"))
    ok(f"staged, signed and packed: {sorted(tree(stage))}")


def staging(args):
    stage = os.path.join(args.out, "unsigned-stage")
    staged = tool("stage_release.sh", args.build, stage, env=clean_env())
    if staged.stdout.strip().splitlines()[-1] != "UNSIGNED":
        fail(f"an unsigned release does not say so:\n{staged.stdout}")
    tool("check_guide.py", os.path.join(stage, "user_guide.html"), "--unsigned")
    ok("without a certificate: UNSIGNED, and the guide's install section says so")
    # A build folder with this one's files but not its link map.
    partial = os.path.join(args.out, "partial-build")
    os.makedirs(os.path.join(partial, "host"))
    for sub in ("resources", "native", os.path.join("host", "vexo_Pyrix.aex")):
        os.symlink(os.path.join(os.path.abspath(args.build), sub), os.path.join(partial, sub))
    refused(tool("stage_release.sh", partial, stage, env=clean_env(), check=False),
            os.path.join(partial, "host", "vexo_Pyrix.map"), "a build without its link map")
    # The package against its folder with one more file, and with one file changed.
    folder = os.path.join(args.out, "compared")
    for name, message in (("user_guide/extra.png", "missing ['user_guide/extra.png']"),
                          ("LICENSE.txt", "LICENSE.txt differs from the staged file")):
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(os.path.join(args.out, "stage"), folder)
        with open(os.path.join(folder, name), "ab") as handle:
            handle.write(b"\0")
        refused(tool("make_msi.py", "--stage", folder, "--check",
                     os.path.join(args.out, "current.msi"), check=False), message,
                f"the package against its folder with a byte added to {name}")


def verify(path, cert):
    return run(["osslsigncode", "verify", "-in", path, "-CAfile", cert], check=False)


def signatures(args):
    cert, key = (os.path.join(args.out, "signer", n) for n in ("cert.pem", "key.pem"))
    aex = os.path.join(args.out, "stage", "vexo_Pyrix.aex")
    for path, marker in ((aex, b".text"), (os.path.join(args.out, "current.msi"), b"MSCF")):
        result = verify(path, cert)
        if "Signature verification: ok" not in result.stdout or result.returncode != 0:
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
    kernels = [os.path.join(ROOT, "kernels", "bytecode", n)
               for n in ("anchor_kernel.dxbc", "fire_kernel.dxbc")]
    for check in ("exports", "imports", "pipl", "dialog", "kernels", "version"):
        result = run([sys.executable, os.path.join(WINDOWS, "pe_check.py"), check, aex,
                      "--pipl", args.pipl, "--dxbc", *kernels], check=False)
        if result.returncode != 0:
            fail(f"the signed plug-in fails the {check} check: {result.stdout}")
    ok("the signed plug-in passes every PE check")

    bundle = os.path.join(args.out, "signer", "signer.p12")
    run(["openssl", "pkcs12", "-export", "-in", cert, "-inkey", key, "-out", bundle,
         "-passout", "pass:throwaway"])
    target = os.path.join(args.out, "pkcs12.msi")
    shutil.copy(os.path.join(args.out, f"{OLD_VERSION}.msi"), target)
    tool("sign.sh", "sign", target, env=clean_env(PYRIX_SIGN_PKCS12=bundle,
                                                   PYRIX_SIGN_PASSWORD="throwaway"))
    if verify(target, cert).returncode != 0:
        fail("signed from PKCS#12, the installer does not verify")
    ok("signed from a PKCS#12 file and its password: verifies")

    other_cert, _ = make_certificate(os.path.join(args.out, "other"), "Someone Else")
    expired = make_certificate(os.path.join(args.out, "expired"), "Expired Signer",
                               ("20200101000000Z", "20210101000000Z"))
    cases = (("a certificate that is not the key's", other_cert, key, "does not belong to"),
             ("an expired certificate", *expired, "expired on"),
             ("a missing certificate", cert + ".none", key, "cannot read"))
    envs = [(what, clean_env(PYRIX_SIGN_CERT=c, PYRIX_SIGN_KEY=k), m) for what, c, k, m in cases]
    envs.append(("a PKCS#12 file with the wrong password",
                 clean_env(PYRIX_SIGN_PKCS12=bundle, PYRIX_SIGN_PASSWORD="wrong"),
                 "wrong password"))
    target = os.path.join(args.out, "unsigned.aex")
    for what, env, message in envs:
        shutil.copy(aex, target)
        before = sha256(target)
        refused(tool("sign.sh", "sign", target, env=env, check=False), message, what)
        if sha256(target) != before or os.path.exists(target + ".signed"):
            fail(f"{what}: the file was changed, or a part of it left")


# ---- under Wine -------------------------------------------------------------------------------

class Wine:
    """A fresh prefix with the installers in C:\\installers\\."""

    def __init__(self, args):
        self.session, self.logs = args.session, 0
        self.script = os.path.join(WINDOWS, "wine_session.sh")
        self.drive_c = os.path.join(os.path.realpath(args.session), "prefix", "drive_c")
        run([self.script, "start", self.session])
        os.makedirs(os.path.join(self.drive_c, "installers"))
        for name in ("current.msi", "rebuilt.msi", f"{OLD_VERSION}.msi"):
            shutil.copy(os.path.join(args.out, name), os.path.join(self.drive_c, "installers"))

    def msiexec(self, *options):
        # By cmd, which reports the exit code in full (Wine's keeps its low byte), from a batch
        # file (Wine would quote a command line for cmd in its own way).
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
        return self.msiexec("/i", rf"C:\installers\{name}", *([] if window else ["/qn"]),
                            "/l*v", log, *properties)

    def registry(self, key):
        """{subkey: {value name: data}} under KEY, all levels."""
        output = run([self.script, "run", self.session, "60", "reg", "query", key, "/s"],
                     check=False).stdout.replace("\r", "")
        found, current = {}, None
        for line in output.splitlines():
            if line.startswith("HKEY_"):
                current = found.setdefault(line.rsplit("\\", 1)[-1], {})
            elif current is not None and line.startswith("    "):
                name, _, data = (line.strip().split(None, 2) + ["", ""])[:3]
                current[name] = data
        return found

    def entries(self):
        """Our installed-programs entries."""
        return [v for v in self.registry(r"HKLM\Software\Microsoft\Windows\CurrentVersion"
                                         r"\Uninstall").values()
                if v.get("DisplayName") == "vexo_Pyrix"]

    def remembered_dir(self):
        return self.registry(r"HKLM\Software\vexo_Pyrix").get("vexo_Pyrix", {}).get("InstallDir")

    def folder(self, windows_path):
        return os.path.join(self.drive_c, windows_path.replace("\\", "/"))


def expect_one_entry(wine, version, out=None):
    entries = wine.entries()
    if len(entries) != 1 or entries[0].get("DisplayVersion") != version:
        fail(f"installed-programs entries {entries}, expected one of version {version}")
    if out:
        stage = os.path.join(out, "stage")
        size = (sum(os.path.getsize(os.path.join(stage, f)) for f in tree(stage)) + 1023) // 1024
        facts = product_facts(out)
        shown = {k: entries[0].get(k) for k in ("DisplayName", "Publisher", "Size")}
        wanted = {"DisplayName": facts["ProductName"], "Publisher": facts["Manufacturer"],
                  "Size": str(size)}
        if shown != wanted:
            fail(f"installed-programs entry shows {shown}, expected {wanted}")
    return entries[0]


def lifecycle(args, wine):
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
    code = wine.install("rebuilt.msi")
    entry = expect_one_entry(wine, version)
    if code != 0 or tree(installed) != stage:
        fail(f"a rebuilt package of the same version: exit {code}")
    ok(f"a rebuilt package of the same version replaced it: one entry, {entry['UninstallString']}")

    with open(os.path.join(installed, "my_presets.txt"), "w") as handle:
        handle.write("a user's own file\n")
    # As the installed-programs list does it: by the entry's product code.
    code = wine.msiexec("/x", entry["UninstallString"].split("/X")[1], "/qn")
    left = tree(installed)
    if code != 0 or list(left) != ["my_presets.txt"] or wine.entries() or wine.remembered_dir():
        fail(f"uninstall: exit {code}, left {sorted(left)}, entries {wine.entries()}")
    ok("uninstalled: no file, entry or registry value of ours left; the user's own file stays")


def installdir(args, wine):
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


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    steps = {f.__name__: f for f in (prepare, staging, signatures, lifecycle, installdir)}
    parser.add_argument("step", choices=steps)
    for option in ("build", "out", "session", "wine-pyrix", "native-pyrix", "native-plugin",
                   "pipl"):
        parser.add_argument("--" + option)
    args = parser.parse_args()
    if args.step in ("lifecycle", "installdir"):
        wine = Wine(args)
        try:
            steps[args.step](args, wine)
        finally:
            run([wine.script, "stop", wine.session], check=False)
    else:
        steps[args.step](args)
    return 0


if __name__ == "__main__":
    sys.exit(main())
