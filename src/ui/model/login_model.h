// The login dialog ("登录服务") and the proxy dialog ("通讯设置") as models:
// their defaults, the settings they read and write, the server list they
// offer and the rule that turns the server box's text into a connect target.
// Texts are UTF-8 here; the settings store keeps them as GBK.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "client/proxy_handshake.h"
#include "client/quote_session.h"

namespace tessaro {

class SettingsStore;

inline constexpr uint16_t kDefaultServerPort = 6051;
inline constexpr char kNoValidServer[] = "请选择一个有效的主站!";
inline constexpr char kInvalidProxyAddress[] = "请输入有效的代理服务器地址!";
inline constexpr char kProxyUnreachable[] = "无法连接代理服务器!";
inline constexpr char kProxyReachable[] = "连接代理服务器正常!";

// Settings keys (sub-keys of the root) and value names.
inline constexpr std::string_view kLoginKey = "Net\\Login";
inline constexpr std::string_view kServerKey = "Net\\Server";
inline constexpr std::string_view kProxyKey = "Net\\Proxy";

// One server of base/srvlist.txt.
struct ServerEntry {
    std::string name;  // display name, at most 64 characters
    std::string host;  // at most 64 characters
    uint16_t port = kDefaultServerPort;
    friend bool operator==(const ServerEntry&, const ServerEntry&) = default;
};

// Reads the server list (GBK text): lines holding "/*" are comments; other
// lines are "product, name, host, port" with blanks around the fields; only
// lines of the product "Tessaro普及版" (ASCII letters of any case) count. A
// line with fewer than four fields, an empty name or host, or a port that is
// not a number from 1 to 65535 is skipped.
std::vector<ServerEntry> ParseServerList(std::string_view gbkText);

// The server box's text resolved: an entry by display name (ASCII letters of
// any case), else an address "host[:port]" (port 6051 when none is given).
// A text without '.' that names no entry, an empty host or a port that is not
// a number from 1 to 65535 is refused with "请选择一个有效的主站!". An address
// that is a listed server's host and port takes that server's name.
struct ServerChoice {
    std::string name;  // the entry's name, or the text itself for an address
    std::string host;
    uint16_t port = kDefaultServerPort;
};
std::variant<ServerChoice, std::string> ResolveServerText(std::string_view text,
                                                          const std::vector<ServerEntry>& entries);

// What the login dialog shows when it opens.
struct LoginFields {
    std::string account = kGuestAccount;
    std::string password = kGuestPassword;
    bool remember = true;   // "记住我的密码"
    std::string server;     // the server box ("selSvrName")
};
// The guest account and its password with the box ticked, then the stored
// "savecheck", "name" and "word" over them, and "selSvrName".
LoginFields LoadLoginFields(const SettingsStore& store);

// "连接主站": trims the texts, writes "savecheck", "name" and "word" (empty
// strings when the box is cleared) and, when the server resolves, "selSvrName".
// The account given is used for this login whatever is remembered.
struct LoginDecision {
    LoginAccount account;
    std::optional<ServerChoice> server;  // nothing when the box was empty
    std::string error;                   // "请选择一个有效的主站!" when refused
};
LoginDecision ApplyLogin(SettingsStore& store, const LoginFields& fields, const std::vector<ServerEntry>& entries);

// The seconds before an automatic reconnection ("Autocontime", default 10).
uint32_t ReadAutocontime(const SettingsStore& store);

// ---- Proxy --------------------------------------------------------------------------

// The kind box's texts, in order of ProxyKind.
inline constexpr std::string_view kProxyKindTexts[] = {"不使用代理", "HTTP1.1", "SOCK4", "SOCK5"};

// The proxy as the dialog shows it; the port box is empty for a stored 0.
struct ProxyFields {
    int kind = 0;
    std::string address;
    std::string port;
    std::string user;
    std::string password;
};
ProxyFields LoadProxyFields(const SettingsStore& store);
// "确定&Y": writes all five values (kind as the box index, port as a number).
void SaveProxyFields(SettingsStore& store, const ProxyFields& fields);
// The proxy used to connect; kind 0 when nothing is stored.
ProxySettings ReadProxySettings(const SettingsStore& store);

// "测试&T": the address and port to try, or "请输入有效的代理服务器地址!" when
// either box is empty or the port is not a number from 1 to 65535.
std::variant<std::pair<std::string, uint16_t>, std::string> ProxyTestTarget(const ProxyFields& fields);

// Whether the user and password boxes are enabled: only for SOCKS5.
inline bool ProxyAccountEnabled(int kind) { return kind == static_cast<int>(ProxyKind::Socks5); }

}  // namespace tessaro
