"""PelnoVPN-Setup.exe in a Wine prefix of its own: silent install, upgrade while programs run
from the folder, silent uninstall; the packed programs are signed with a throwaway certificate
and checked as a reviewer checks a download."""
import os
import re
import shutil
import subprocess
import unittest

import pelno_wine
from pelno_engine import engine_config
from pelno_registry import reg
from pelno_wine import CONTROL_PORT, HELPER_EXE, port_open, request, service_probe as probe, wait_until

KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\PelnoVPN"
FOLDER = r"C:\Pelno Apps\PelnoVPN"
PROGRAMS = ("PelnoVPN.exe", "flutter_windows.dll", HELPER_EXE)
PLACEHOLDERS = (os.path.join("data", "flutter_assets", "a"),)
DUMPS_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\Windows Error Reporting\LocalDumps"
DUMP_VALUES = {"DumpFolder": ("REG_EXPAND_SZ", r"%ProgramData%\PelnoVPN\CrashDumps"),
               "DumpCount": ("REG_DWORD", "0x5"), "DumpType": ("REG_DWORD", "0x1")}
PROGRAM_FLAGS = {"DYNAMIC_BASE", "HIGH_ENTROPY_VA", "NX_COMPAT", "TERMINAL_SERVICE_AWARE"}
# Shipped file: the DllCharacteristics objdump names, the version resource's description
# (None: no version resource).
SHIPPED = (
    ("PelnoVPN.exe", PROGRAM_FLAGS, "PelnoVPN"),
    (HELPER_EXE, PROGRAM_FLAGS, "PelnoVPN helper service"),
    ("flutter_windows.dll", PROGRAM_FLAGS - {"TERMINAL_SERVICE_AWARE"}, None),
)


def values(key):
    """{name: (type, data)} of a registry key, {} when it is missing."""
    result = reg("query", key)
    lines = result.stdout.decode("utf-8", "replace").splitlines() if result.returncode == 0 else []
    values = (line.split(None, 2) for line in lines if line.startswith(" "))  # not the key's name
    return {f[0]: (f[1], f[2]) for f in values if len(f) == 3}


def entry():
    """The Add/Remove Programs values, {name: data}."""
    return {name: data for name, (_, data) in values(KEY).items()}


def binutils(tool, *args):
    return subprocess.run([os.environ[tool], *args], check=True, capture_output=True,
                          text=True, timeout=60).stdout


def version_strings(path):
    """The StringFileInfo values of a file's version resource."""
    return dict(re.findall(r'VALUE "(\w+)", "([^"]*)"', binutils("PELNO_WINDRES", "-i", path, "-O", "rc")))


def signing_environment(folder):
    """A throwaway code-signing certificate: the environment that makes tools/sign.sh and
    the setup build sign with it, and the certificate file that verifies them."""
    key, cert, p12, password = (os.path.join(folder, n) for n in ("sign.key", "sign.pem", "sign.p12", "pass"))
    with open(password, "w") as f:
        f.write("throwaway")
    for command in (["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                     "-days", "2", "-subj", "/CN=PelnoVPN test signing",
                     "-addext", "extendedKeyUsage=codeSigning"],
                    ["pkcs12", "-export", "-inkey", key, "-in", cert, "-out", p12,
                     "-passout", "file:" + password]):
        subprocess.run(["openssl", *command], check=True, capture_output=True, timeout=60)
    return {**os.environ, "PELNO_SIGN_PKCS12": p12, "PELNO_SIGN_PASSWORD_FILE": password}, cert


class SetupTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = pelno_wine.own_prefix(cls, "setup")
        cls.folder = pelno_wine.linux_path(FOLDER)
        cls.shortcut = pelno_wine.linux_path(r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\PelnoVPN.lnk")
        cls.data = pelno_wine.data_dir()
        cls.dist = dist = os.path.join(cls.work, "dist")
        for name in PLACEHOLDERS:
            os.makedirs(os.path.dirname(os.path.join(dist, name)), exist_ok=True)
            with open(os.path.join(dist, name), "w") as f:
                f.write("placeholder")
        for name in PROGRAMS:
            shutil.copy(os.path.join(pelno_wine.bin_dir(), name), dist)
        signing, cls.certificate = signing_environment(cls.work)
        subprocess.run(["sh", os.environ["PELNO_SIGN_SCRIPT"], *(os.path.join(dist, n) for n in PROGRAMS)],
                       env=signing, check=True, capture_output=True, timeout=120)
        # The build's version, then an upgrade to the next one.
        major, minor, patch = os.environ["PELNO_VERSION"].split(".")
        cls.versions = (os.environ["PELNO_VERSION"], f"{major}.{minor}.{int(patch) + 1}")
        cls.setups = {}
        for version in cls.versions:
            cls.setups[version] = os.path.join(cls.work, f"setup-{version}.exe")
            subprocess.run([os.environ["PELNO_MAKENSIS"], "-V1", f"-DPELNO_DIST_DIR={dist}",
                            f"-DPELNO_VERSION={version}", f"-DPELNO_SETUP_FILE={cls.setups[version]}",
                            os.environ["PELNO_SETUP_SCRIPT"]], env=signing, check=True, timeout=300)

    def signed(self, path):
        return subprocess.run(["osslsigncode", "verify", "-CAfile", self.certificate, "-in", path],
                              capture_output=True, timeout=60).returncode == 0

    def test_shipped_files_are_hardened_stripped_versioned_and_signed(self):
        version = self.versions[0]
        for name, flags, description in SHIPPED:
            with self.subTest(name):
                path = os.path.join(self.dist, name)
                headers = binutils("PELNO_OBJDUMP", "-p", "-h", "-t", path)
                self.assertLessEqual(flags, set(headers.split()))
                self.assertIn(" .reloc ", headers)  # relocations kept: the loader can move it
                self.assertIn(" .gnu_debuglink ", headers)
                self.assertNotIn(" .debug_", headers)
                self.assertIn("SYMBOL TABLE:\nno symbols", headers)
                kept = binutils("PELNO_OBJDUMP", "-t", os.path.join(os.environ["PELNO_SYMBOL_DIR"], name + ".debug"))
                # Code compiled with the stack protector reads the guard (libssp alone would
                # bring __stack_chk_fail in with _FORTIFY_SOURCE).
                self.assertRegex(kept, r" \.refptr\.__stack_chk_guard\n")
                if description:
                    self.assertEqual(version_strings(path), {
                        "FileVersion": version, "ProductVersion": version, "ProductName": "PelnoVPN",
                        "FileDescription": description, "CompanyName": "PelnoVPN", "InternalName": name[:-4],
                        "OriginalFilename": name, "LegalCopyright": "Copyright (C) PelnoVPN"})
                self.assertTrue(self.signed(path))
        setup = version_strings(self.setups[version])
        self.assertEqual((setup["FileVersion"], setup["ProductVersion"]), (version, version))
        self.assertTrue(self.signed(self.setups[version]))

    def test_install_then_upgrade_then_uninstall(self):
        os.makedirs(self.data)
        with open(os.path.join(self.data, "sing-box.json"), "w") as f:
            f.write("{}")
        engine = None
        # /D= comes last and unquoted on the command line: Wine joins these with spaces.
        for version, args in zip(self.versions, (["/S", *("/D=" + FOLDER).split()], ["/S"])):
            # Another program run from the install folder, only waiting.
            foreign = self.start_from_folder("foreign.exe", "--stand-in-output-holder", "600000") if engine else None
            # Not captured: Wine's desktop process, started by the setup, keeps its output open
            # while the foreign program runs.
            self.assertEqual(pelno_wine.run_windows([self.setups[version], *args], 300, capture_output=False,
                                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode, 0)
            service = probe("query")
            # Wine reads every folder back as the user's: the service runs the protected copy.
            self.assertEqual((service["binaryPath"], service["state"]), (f'"{pelno_wine.SERVICE_COPY_EXE}"', 4))
            self.assertTrue(request("GET", "/ping").endswith(b"\r\n\r\npong"))
            self.assertEqual({k: v for k, v in entry().items() if k != "EstimatedSize"}, {
                "DisplayName": "PelnoVPN", "DisplayVersion": version, "Publisher": "PelnoVPN",
                "InstallLocation": FOLDER, "DisplayIcon": FOLDER + r"\PelnoVPN.exe",
                "UninstallString": f'"{FOLDER}\\Uninstall.exe"',
                "QuietUninstallString": f'"{FOLDER}\\Uninstall.exe" /S',
                "NoModify": "0x1", "NoRepair": "0x1"})
            self.assertGreater(int(entry()["EstimatedSize"], 16), 1000)  # KiB: the helper's size
            for name in (*PLACEHOLDERS, *PROGRAMS, "Uninstall.exe", self.shortcut):  # shortcut: absolute
                self.assertTrue(os.path.isfile(os.path.join(self.folder, name)), name)
            self.assertTrue(self.signed(os.path.join(self.folder, "Uninstall.exe")))
            for program in ("PelnoVPN.exe", HELPER_EXE):
                self.assertEqual(values(DUMPS_KEY + "\\" + program), DUMP_VALUES, program)
            if engine:  # the upgrade ended the engine the user had placed and started there, nothing else
                self.assertTrue(wait_until(lambda: engine.poll() is not None, timeout=30))
                self.assertIsNone(foreign.poll())
                foreign.kill()
                foreign.wait(30)
                os.remove(os.path.join(self.folder, "foreign.exe"))
            engine = self.start_engine_from_folder()
        self.assertEqual(pelno_wine.run_windows([FOLDER + r"\Uninstall.exe", "/S"]).returncode, 0)
        self.assertTrue(wait_until(lambda: not os.path.exists(self.folder), timeout=60))
        self.assertFalse(os.path.exists(pelno_wine.linux_path(r"C:\Program Files\PelnoVPN")))
        self.assertTrue(wait_until(lambda: probe("query") == 1060, timeout=30))
        self.assertTrue(wait_until(lambda: not port_open(CONTROL_PORT), timeout=30))
        self.assertTrue(wait_until(lambda: engine.poll() is not None, timeout=30))
        self.assertEqual((entry(), os.path.exists(self.shortcut)), ({}, False))
        self.assertEqual([values(DUMPS_KEY + "\\" + p) for p in ("PelnoVPN.exe", HELPER_EXE)], [{}, {}])
        self.assertEqual(os.listdir(self.data), ["sing-box.json"])

    def start_from_folder(self, name, *args):
        """The stand-in as `name` in the install folder, running with `args`."""
        shutil.copy(os.path.join(pelno_wine.bin_dir(), pelno_wine.STAND_IN_ENGINE_EXE), os.path.join(self.folder, name))
        program = pelno_wine.start_windows([FOLDER + "\\" + name, *args])
        self.addCleanup(program.kill)
        self.assertTrue(wait_until(lambda: any(pelno_wine.processes_under(self.folder, name))))
        return program

    def start_engine_from_folder(self):
        config = os.path.join(self.work, "engine.json")
        with open(config, "w") as f:
            f.write(engine_config())
        return self.start_from_folder("sing-box.exe", "run", "-c", config)


if __name__ == "__main__":
    unittest.main()
