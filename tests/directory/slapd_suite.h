// Shared pieces of the tests that run the directory stand-in against a real slapd.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "directory/adsi.h"
#include "directory/tool_preferences.h"
#include "support/slapd_fixture.h"
#include "support/test_env.h"

namespace brevonix::test {

// One server per name for the whole test binary, started on first use and stopped at exit.
inline SlapdServer* SharedSlapd(const std::string& name, const SlapdOptions& options, std::string& error) {
    static std::map<std::string, std::pair<std::unique_ptr<SlapdServer>, std::string>> servers;
    auto it = servers.find(name);
    if (it == servers.end()) {
        std::string why;
        auto server = SlapdServer::Start(options, why);
        it = servers.emplace(name, std::make_pair(std::move(server), why)).first;
    }
    error = it->second.second;
    return it->second.first.get();
}

// In CI a test directory that cannot start fails the test; elsewhere the test is skipped.
#define REQUIRE_TEST_DIRECTORY(server, error)                                                                \
    do {                                                                                                     \
        if (!(server)) {                                                                                     \
            if (RunningInCi()) FAIL() << "the test directory did not start: " << (error);                    \
            GTEST_SKIP() << "the test directory did not start: " << (error);                                 \
        }                                                                                                    \
    } while (0)

// Releases the interface when it goes out of scope.
struct SearchInterface {
    IDirectorySearch* p = nullptr;
    SearchInterface() = default;
    SearchInterface(const SearchInterface&) = delete;
    SearchInterface& operator=(const SearchInterface&) = delete;
    ~SearchInterface() {
        if (p) p->Release();
    }
    IDirectorySearch* operator->() const { return p; }
    void** Out() { return reinterpret_cast<void**>(&p); }
};

inline HRESULT OpenAs(const std::u16string& path, const std::u16string* user, const std::u16string* password,
                      SearchInterface& out) {
    return ADsOpenObject(path.c_str(), user ? user->c_str() : nullptr, password ? password->c_str() : nullptr,
                         ADS_SECURE_AUTHENTICATION, IID_IDirectorySearch, out.Out());
}

inline HRESULT OpenAsBindUser(const SlapdServer& server, SearchInterface& out) {
    const std::u16string user = SlapdServer::BindDn16(), password = SlapdServer::BindPassword16();
    return OpenAs(server.AdsPath(), &user, &password, out);
}

struct LastError {
    DWORD code = 0;
    std::u16string text;
};

inline LastError GetLastAdsError() {
    LastError e;
    WCHAR text[2048] = {};
    WCHAR provider[64] = {};
    ADsGetLastError(&e.code, text, 2048, provider, 64);
    e.text = text;
    return e;
}

inline std::string Narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

inline HRESULT Execute(IDirectorySearch* search, const std::u16string& filter, ADS_SEARCH_HANDLE& handle) {
    std::u16string f = filter, star = u"*";
    LPWSTR attrs[] = {star.data()};
    return search->ExecuteSearch(f.data(), attrs, 1, &handle);
}

constexpr const char16_t* kUserFilter = u"(&(objectClass=user)(objectCategory=user))";

// One column of the current row; freed when it goes out of scope.
class Column {
public:
    Column(IDirectorySearch* search, ADS_SEARCH_HANDLE handle, const std::u16string& name)
        : m_search(search) {
        std::u16string n = name;
        hr = search->GetColumn(handle, n.data(), &col);
    }
    ~Column() {
        if (SUCCEEDED(hr)) m_search->FreeColumn(&col);
    }
    Column(const Column&) = delete;
    Column& operator=(const Column&) = delete;

    // The values as text, for the string types.
    std::vector<std::u16string> Strings() const {
        std::vector<std::u16string> out;
        if (FAILED(hr)) return out;
        for (DWORD i = 0; i < col.dwNumValues; ++i)
            out.emplace_back(col.pADsValues[i].CaseIgnoreString);
        return out;
    }

    HRESULT hr = E_FAIL;
    ADS_SEARCH_COLUMN col{};

private:
    IDirectorySearch* m_search;
};

} // namespace brevonix::test
