"""Reads and sets the per-user proxy values in the Wine prefix's registry."""
import time

import pelno_wine

INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
PROXY_VALUES = ("ProxyEnable", "ProxyServer", "ProxyOverride")


def reg(*args):
    return pelno_wine.run_windows(["reg"] + list(args), timeout=60)


def read_proxy_values():
    """{name: (type, data)} for the proxy values that exist."""
    values = {}
    result = reg("query", INTERNET_SETTINGS)
    if result.returncode != 0:  # not the same as no values
        raise RuntimeError(f"reg query failed ({result.returncode}): {result.stderr!r}")
    for line in result.stdout.decode("utf-8", "replace").splitlines():
        name, reg_type, data = (line.strip().split(None, 2) + ["", "", ""])[:3]
        if name in PROXY_VALUES and reg_type.startswith("REG_"):
            values[name] = (reg_type, int(data, 16) if reg_type == "REG_DWORD" else data)
    return values


def write_proxy_values(values):
    """Puts exactly `values` ({name: (type, data)}, as read above) in place; tests end with
    {}: left enabled, the proxy values would reroute Wine's own WinINet."""
    for name in PROXY_VALUES:
        reg("delete", INTERNET_SETTINGS, "/v", name, "/f")
    for name, (reg_type, data) in values.items():
        add = ("add", INTERNET_SETTINGS, "/v", name, "/t", reg_type, "/d", str(data), "/f")
        result = reg(*add)
        if result.returncode != 0:  # seen once under load, with nothing on stderr: try again
            time.sleep(0.5)
            result = reg(*add)
        if result.returncode != 0:
            raise RuntimeError(f"reg add {name} failed ({result.returncode}): "
                               f"{result.stdout!r} {result.stderr!r}")
