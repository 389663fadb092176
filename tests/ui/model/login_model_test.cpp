#include "ui/model/login_model.h"

#include <gtest/gtest.h>

#include "platform/settings_store.h"
#include "platform/text.h"

namespace tessaro {
namespace {

std::string LoginKey() { return SettingsKey("Net\\Login"); }

TEST(ServerList, ReadsOnlyOurProductAndSkipsCommentsAndShortLines) {
    std::string text = Utf8ToGbk(
        "/* 主站列表 */\r\n"
        "Tessaro普及版, 上海电信主站 , 10.0.0.1 , 6051\r\n"
        "Tessaro普及版,深圳网通,quote.example.com,7000\n"
        "tessaro普及版,Case,1.2.3.4,6052\n"
        "Tessaro专业版,其他版本,10.0.0.9,6051\n"
        "Tessaro普及版,注释行,10.0.0.8,6051 /* off */\n"
        "Tessaro普及版,三个字段,10.0.0.7\n"
        "Tessaro普及版,坏端口,10.0.0.6,70000\n"
        "Tessaro普及版,,10.0.0.5,6051\n"
        "Tessaro普及版,last,10.0.0.4,6053");
    auto entries = ParseServerList(text);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0], (ServerEntry{"上海电信主站", "10.0.0.1", 6051}));
    EXPECT_EQ(entries[1], (ServerEntry{"深圳网通", "quote.example.com", 7000}));
    EXPECT_EQ(entries[2].name, "Case");  // the product compares ASCII letters of any case
    EXPECT_EQ(entries[3], (ServerEntry{"last", "10.0.0.4", 6053}));  // no line break at the end
    EXPECT_TRUE(ParseServerList("").empty());
}

TEST(ServerText, EntryNameAddressAndDefaultPort) {
    std::vector<ServerEntry> entries{{"Main", "10.9.9.9", 6060}, {"上海", "sh.example.com", 6051}};
    auto pick = [&](std::string_view text) { return ResolveServerText(text, entries); };

    auto byName = std::get<ServerChoice>(pick("  main "));  // ignoring case and blanks
    EXPECT_EQ(byName.host, "10.9.9.9");
    EXPECT_EQ(byName.port, 6060);
    EXPECT_EQ(byName.name, "Main");
    EXPECT_EQ(std::get<ServerChoice>(pick("上海")).host, "sh.example.com");

    auto plain = std::get<ServerChoice>(pick("10.1.2.3"));
    EXPECT_EQ(plain.host, "10.1.2.3");
    EXPECT_EQ(plain.port, 6051);
    auto withPort = std::get<ServerChoice>(pick("10.1.2.3:7000"));
    EXPECT_EQ(withPort.host, "10.1.2.3");
    EXPECT_EQ(withPort.port, 7000);
    EXPECT_EQ(std::get<ServerChoice>(pick("quote.example.com:6100")).host, "quote.example.com");
    EXPECT_EQ(std::get<ServerChoice>(pick("10.9.9.9:6060")).name, "Main");  // a listed server's address
    EXPECT_EQ(std::get<ServerChoice>(pick("10.9.9.9:6061")).name, "10.9.9.9:6061");

    for (std::string_view bad : {"localhost", "nothing", "10.1.2.3:", "10.1.2.3:0", "10.1.2.3:65536",
                                 "10.1.2.3:70x", ":7000.1", "127.0.0.1:-1"})
        EXPECT_EQ(std::get<std::string>(pick(bad)), "请选择一个有效的主站!") << bad;
}

TEST(LoginFields, GuestByDefaultThenTheRememberedAccount) {
    SettingsStore store;
    EXPECT_EQ(LoadLoginFields(store).account, "guest");
    store.setString(LoginKey(), "name", Utf8ToGbk("张三"));
    store.setString(LoginKey(), "word", "secret");
    store.setDword(LoginKey(), "savecheck", 1);
    store.setString(SettingsKey("Net\\Server"), "selSvrName", Utf8ToGbk("上海"));
    LoginFields f = LoadLoginFields(store);
    EXPECT_EQ(f.account, "张三");
    EXPECT_EQ(f.password, "secret");
    EXPECT_EQ(f.server, "上海");
}

TEST(LoginFields, RememberRuleWritesEmptyAccountButStillUsesIt) {
    SettingsStore store;
    std::vector<ServerEntry> entries{{"本地", "127.0.0.1", 6051}};
    LoginFields f;
    f.account = "  trader ";
    f.password = " pw1 ";
    f.server = "本地";
    f.remember = true;
    LoginDecision d = ApplyLogin(store, f, entries);
    EXPECT_EQ(d.account.name, "trader");
    EXPECT_EQ(d.account.password, "pw1");
    EXPECT_EQ(store.getString(LoginKey(), "name"), "trader");
    EXPECT_EQ(store.getString(LoginKey(), "word"), "pw1");
    EXPECT_EQ(store.getDword(LoginKey(), "savecheck"), 1u);
    EXPECT_EQ(GbkToUtf8(*store.getString(SettingsKey("Net\\Server"), "selSvrName")), "本地");
    ASSERT_TRUE(d.server);
    EXPECT_EQ(d.server->host, "127.0.0.1");

    f.remember = false;
    d = ApplyLogin(store, f, entries);
    EXPECT_EQ(d.account.name, "trader");  // used for this login
    EXPECT_EQ(store.getString(LoginKey(), "name"), "");
    EXPECT_EQ(store.getString(LoginKey(), "word"), "");
    EXPECT_EQ(store.getDword(LoginKey(), "savecheck"), 0u);
    // Not remembered: the next dialog offers the guest account with the box cleared.
    LoginFields next = LoadLoginFields(store);
    EXPECT_EQ(next.account, "guest");
    EXPECT_FALSE(next.remember);
}

TEST(LoginFields, RefusedServerTextKeepsTheStoredServer) {
    SettingsStore store;
    store.setString(SettingsKey("Net\\Server"), "selSvrName", "10.0.0.1");
    LoginFields f;
    f.server = "nonsense";
    LoginDecision d = ApplyLogin(store, f, {});
    EXPECT_EQ(d.error, "请选择一个有效的主站!");
    EXPECT_FALSE(d.server);
    EXPECT_EQ(store.getString(SettingsKey("Net\\Server"), "selSvrName"), "10.0.0.1");
    f.server = "   ";
    d = ApplyLogin(store, f, {});
    EXPECT_TRUE(d.error.empty());
    EXPECT_FALSE(d.server);  // the caller offers the server list
}

TEST(ProxyFields, StoredValuesReadSafely) {
    SettingsStore store;
    EXPECT_EQ(ReadProxySettings(store).kind, ProxyKind::None);  // no key: no proxy
    std::string key = SettingsKey("Net\\Proxy");
    store.setDword(key, "port", 0);
    EXPECT_EQ(LoadProxyFields(store).port, "");  // a stored 0 leaves the box empty
    store.setDword(key, "port", 0x10000 + 8080);  // the low 16 bits count
    EXPECT_EQ(LoadProxyFields(store).port, "8080");
    EXPECT_EQ(ReadProxySettings(store).port, 8080);
    store.setDword(key, "type", 9);  // out of the box's range
    EXPECT_EQ(LoadProxyFields(store).kind, 0);
}

TEST(ProxyFields, TestNeedsAddressAndPort) {
    ProxyFields f;
    EXPECT_EQ(std::get<std::string>(ProxyTestTarget(f)), "请输入有效的代理服务器地址!");
    f.address = "10.0.0.1";
    EXPECT_EQ(std::get<std::string>(ProxyTestTarget(f)), "请输入有效的代理服务器地址!");
    f.port = "abc";
    EXPECT_EQ(std::get<std::string>(ProxyTestTarget(f)), "请输入有效的代理服务器地址!");
    f.port = "3128";
    auto target = std::get<std::pair<std::string, uint16_t>>(ProxyTestTarget(f));
    EXPECT_EQ(target.first, "10.0.0.1");
    EXPECT_EQ(target.second, 3128);
    EXPECT_FALSE(ProxyAccountEnabled(0));
    EXPECT_FALSE(ProxyAccountEnabled(1));
    EXPECT_FALSE(ProxyAccountEnabled(2));
    EXPECT_TRUE(ProxyAccountEnabled(3));
}

}  // namespace
}  // namespace tessaro
