"""Reads and sets the per-user proxy values in the Wine prefix's registry."""

import pelno_wine

INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
PROXY_VALUES = ("ProxyEnable", "ProxyServer", "ProxyOverride")


def _reg(*args):
    return pelno_wine.run_windows(["reg"] + list(args), timeout=60)


def read_proxy_values():
    """{name: (type, data)} for the proxy values that exist."""
    result = _reg("query", INTERNET_SETTINGS)
    values = {}
    for line in result.stdout.decode("utf-8", "replace").splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[0] in PROXY_VALUES and parts[1].startswith("REG_"):
            data = parts[2] if len(parts) == 3 else ""
            if parts[1] == "REG_DWORD":
                data = int(data, 16)
            values[parts[0]] = (parts[1], data)
    return values


def set_value(name, reg_type, data):
    if reg_type == "REG_DWORD":
        data = str(data)
    result = _reg("add", INTERNET_SETTINGS, "/v", name, "/t", reg_type, "/d", data, "/f")
    if result.returncode != 0:
        raise RuntimeError(f"reg add {name} failed: {result.stderr!r}")


def delete_value(name):
    _reg("delete", INTERNET_SETTINGS, "/v", name, "/f")


def clear_proxy_values():
    """Left enabled, the proxy values would reroute Wine's own WinINet."""
    for name in PROXY_VALUES:
        delete_value(name)


def set_user_proxy(enable=0, server=None, override=None):
    """Puts a known 'user' configuration in place; None deletes the value."""
    clear_proxy_values()
    set_value("ProxyEnable", "REG_DWORD", enable)
    if server is not None:
        set_value("ProxyServer", "REG_SZ", server)
    if override is not None:
        set_value("ProxyOverride", "REG_SZ", override)
