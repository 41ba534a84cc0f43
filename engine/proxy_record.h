// The durable record of the user's proxy settings: written before the program
// changes them, removed once they are back. A program that dies in between (a
// crash, a kill, a power cut) finds it at its next start and puts the user's
// settings back, unless someone has changed them since.
//
// The record is one REG_SZ value under HKCU\Software\PelnoVPN named for the program,
// written with a single registry call, so a crash leaves either no record or a whole
// one. Its text is JSON: {"version":1,"user":{...},"ours":{...}}, each holding
// "ProxyEnable" (a number), "ProxyServer" and "ProxyOverride" (strings), or null for
// a value that was absent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelno {

class RegistryKey;

// The three proxy values of the Internet Settings key; nullopt for an absent one
// (or one of another type).
struct ProxyValues {
  std::optional<std::uint32_t> proxyEnable;
  std::optional<std::wstring> proxyServer;
  std::optional<std::wstring> proxyOverride;
  bool operator==(const ProxyValues&) const = default;
};

std::wstring FormatProxyRecord(const ProxyValues& user, const ProxyValues& ours);
// False for anything but a whole record of this version.
bool ParseProxyRecord(std::wstring_view text, ProxyValues& user, ProxyValues& ours);

// Reads the three values as they stand.
ProxyValues ReadProxyValues(RegistryKey& key);

// Writes each present value and deletes each absent one ("not there" counts as
// deleted), in the order ProxyEnable, ProxyServer, ProxyOverride; stops at the first
// that fails and returns false.
bool WriteProxyValues(RegistryKey& key, const ProxyValues& values);

}  // namespace pelno
