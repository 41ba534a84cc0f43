#include "server/win32_caller_lookup.h"

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <sddl.h>
#include <wtsapi32.h>
// clang-format on

#include <string>
#include <vector>

#include "base/unique_handle.h"
#include "base/win32_socket_tables.h"

namespace pelno {
namespace {

std::string SidText(PSID sid) {
  UniqueLocalMemory<char*> text;
  if (!::ConvertSidToStringSidA(sid, text.Receive())) return {};
  return text.Get();
}

// One fact of a token, read with the two calls; nothing on failure.
std::optional<std::vector<unsigned char>> TokenFact(HANDLE token, TOKEN_INFORMATION_CLASS fact) {
  DWORD size = 0;
  ::GetTokenInformation(token, fact, nullptr, 0, &size);
  if (size == 0) return std::nullopt;
  std::vector<unsigned char> bytes(size);
  if (!::GetTokenInformation(token, fact, bytes.data(), size, &size)) return std::nullopt;
  return bytes;
}

std::string TokenUserSid(HANDLE token) {
  const auto user = TokenFact(token, TokenUser);
  return user ? SidText(reinterpret_cast<const TOKEN_USER*>(user->data())->User.Sid) : std::string();
}

// The account signed in to session `sessionId`; empty for none. The session's own
// token needs the service's privilege; the plain process asks for the names.
std::string SessionUserSid(DWORD sessionId) {
  HANDLE sessionToken = nullptr;
  if (::WTSQueryUserToken(sessionId, &sessionToken)) {
    const UniqueHandle owned(sessionToken);
    return TokenUserSid(owned.Get());
  }
  const auto sessionText = [sessionId](WTS_INFO_CLASS what) {
    UniqueWtsMemory<LPWSTR> text;
    DWORD bytes = 0;
    if (!::WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, sessionId, what, text.Receive(), &bytes)) {
      return std::wstring();
    }
    return std::wstring(text ? text.Get() : L"");
  };
  const std::wstring user = sessionText(WTSUserName);
  if (user.empty()) return {};
  const std::wstring account = sessionText(WTSDomainName) + L"\\" + user;
  DWORD sidSize = 0, domainSize = 0;
  SID_NAME_USE use;
  ::LookupAccountNameW(nullptr, account.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use);
  if (sidSize == 0) return {};
  std::vector<unsigned char> sid(sidSize);
  std::wstring domain(domainSize, L'\0');
  if (!::LookupAccountNameW(nullptr, account.c_str(), sid.data(), &sidSize, domain.data(), &domainSize,
                            &use)) {
    return {};
  }
  return SidText(sid.data());
}

}  // namespace

std::optional<ConnectionOwner> FindConnectionOwner(const PeerEndpoint& peer, std::uint16_t serverPort) {
  const DWORD loopback = ::htonl(INADDR_LOOPBACK);
  const std::vector<unsigned char> table = ReadTcpTable(AF_INET, TCP_TABLE_OWNER_MODULE_CONNECTIONS);
  std::optional<ConnectionOwner> owner;
  ForEachTableRow<MIB_TCPTABLE_OWNER_MODULE>(table, [&](const MIB_TCPROW_OWNER_MODULE& row) {
    // The ports are in network byte order in the low 16 bits; the first match counts.
    if (!owner && row.dwLocalAddr == peer.address && ::ntohs(static_cast<u_short>(row.dwLocalPort)) == peer.port &&
        row.dwRemoteAddr == loopback && ::ntohs(static_cast<u_short>(row.dwRemotePort)) == serverPort) {
      owner = ConnectionOwner{row.dwOwningPid, static_cast<std::uint64_t>(row.liCreateTimestamp.QuadPart)};
    }
  });
  return owner;
}

Caller DescribeProcess(std::uint32_t processId) {
  const Caller notOpened{Caller::Found::kNotOpened, processId, {}};
  const UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return notOpened;
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!::GetProcessTimes(process.Get(), &created, &exited, &kernel, &user)) return notOpened;
  UniqueHandle token;
  if (!::OpenProcessToken(process.Get(), TOKEN_QUERY, token.Receive())) return notOpened;
  const auto groups = TokenFact(token.Get(), TokenGroups);
  const auto integrity = TokenFact(token.Get(), TokenIntegrityLevel);
  const auto appContainer = TokenFact(token.Get(), TokenIsAppContainer);
  const auto session = TokenFact(token.Get(), TokenSessionId);
  Caller caller{Caller::Found::kToken, processId, {}};
  caller.processCreated = (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  CallerToken& description = caller.token;
  description.userSid = TokenUserSid(token.Get());
  if (description.userSid.empty() || !groups || !integrity || !session ||
      !appContainer || appContainer->size() < sizeof(DWORD) || session->size() < sizeof(DWORD)) {
    return notOpened;
  }
  const auto* groupList = reinterpret_cast<const TOKEN_GROUPS*>(groups->data());
  for (DWORD i = 0; i < groupList->GroupCount; ++i) {
    description.groups.push_back({SidText(groupList->Groups[i].Sid), groupList->Groups[i].Attributes});
  }
  PSID label = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(integrity->data())->Label.Sid;
  const UCHAR parts = *::GetSidSubAuthorityCount(label);
  description.integrity = parts > 0 ? *::GetSidSubAuthority(label, parts - 1) : 0;
  description.appContainer = *reinterpret_cast<const DWORD*>(appContainer->data()) != 0;
  description.sessionId = *reinterpret_cast<const DWORD*>(session->data());
  if (description.sessionId != 0) description.sessionUserSid = SessionUserSid(description.sessionId);
  return caller;
}

Caller Win32CallerLookup::Find(const PeerEndpoint& peer) {
  const std::optional<ConnectionOwner> owner = FindConnectionOwner(peer, serverPort_);
  if (!owner) return Caller{Caller::Found::kNoProcess, 0, {}};
  if (owner->processId == 0) return Caller{Caller::Found::kOwnerUnknown, 0, {}};
  Caller caller = DescribeProcess(owner->processId);
  caller.connectionCreated = owner->created;
  return caller;
}

}  // namespace pelno
