#include "web_config.h"

#include <crypt.h>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <yaml-cpp/yaml.h>

namespace vireo {

namespace {

// The keys the exporters' format knows; those we do not act on (cipher
// choices, HTTP/2, headers) are accepted so that a file shared with other
// exporters still loads, and GnuTLS' defaults apply.
const std::set<std::string> kTopKeys = {"tls_server_config", "http_server_config",
                                        "basic_auth_users"};
const std::set<std::string> kTlsKeys = {"cert_file",
                                        "key_file",
                                        "client_auth_type",
                                        "client_ca_file",
                                        "min_version",
                                        "max_version",
                                        "cipher_suites",
                                        "curve_preferences",
                                        "cert",
                                        "key",
                                        "prefer_server_cipher_suites",
                                        "client_allowed_sans"};

bool readFile(const std::filesystem::path& file, std::string& out, std::string* error,
              const char* what)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        *error = std::string(what) + " " + file.string() + " cannot be read";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    out = text.str();
    if (out.empty()) {
        *error = std::string(what) + " " + file.string() + " is empty";
        return false;
    }
    return true;
}

std::optional<ClientAuth> clientAuth(const std::string& text)
{
    static const std::map<std::string, ClientAuth> kinds = {
        {"", ClientAuth::None},
        {"NoClientCert", ClientAuth::None},
        {"RequestClientCert", ClientAuth::Request},
        {"RequireAnyClientCert", ClientAuth::RequireAny},
        {"VerifyClientCertIfGiven", ClientAuth::VerifyIfGiven},
        {"RequireAndVerifyClientCert", ClientAuth::RequireAndVerify}};
    const auto it = kinds.find(text);
    if (it == kinds.end()) {
        return std::nullopt;
    }
    return it->second;
}

bool isBcrypt(const std::string& hash)
{
    // $2a$/$2b$/$2y$, two cost digits, '$', 53 characters of salt and hash.
    return hash.size() == 60 && hash[0] == '$' && hash[1] == '2' &&
           (hash[2] == 'a' || hash[2] == 'b' || hash[2] == 'y') && hash[3] == '$' &&
           std::isdigit(static_cast<unsigned char>(hash[4])) &&
           std::isdigit(static_cast<unsigned char>(hash[5])) && hash[6] == '$';
}

std::optional<WebConfig> parse(const std::filesystem::path& file, std::string* error)
{
    YAML::Node root;
    try {
        root = YAML::LoadFile(file.string());
    } catch (const YAML::BadFile&) {
        *error = "cannot be read";
        return std::nullopt;
    } catch (const YAML::Exception& e) {
        *error = "is not YAML: " + e.msg + " (line " + std::to_string(e.mark.line + 1) + ")";
        return std::nullopt;
    }
    WebConfig config;
    if (root.IsNull()) {
        return config; // an empty file: plain HTTP, no password
    }
    if (!root.IsMap()) {
        *error = "is not a map of settings";
        return std::nullopt;
    }
    for (const auto& entry : root) {
        const std::string key = entry.first.as<std::string>();
        if (kTopKeys.count(key) == 0) {
            *error = "has an unknown setting '" + key + "'";
            return std::nullopt;
        }
    }
    const std::filesystem::path folder = file.parent_path();
    auto resolve = [&](const std::string& name) {
        const std::filesystem::path p(name);
        return p.is_absolute() || folder.empty() ? p : folder / p;
    };

    if (const YAML::Node tls = root["tls_server_config"]; tls && !tls.IsNull()) {
        if (!tls.IsMap()) {
            *error = "tls_server_config is not a map";
            return std::nullopt;
        }
        for (const auto& entry : tls) {
            const std::string key = entry.first.as<std::string>();
            if (kTlsKeys.count(key) == 0) {
                *error = "has an unknown tls_server_config setting '" + key + "'";
                return std::nullopt;
            }
        }
        auto text = [&](const char* key) {
            const YAML::Node node = tls[key];
            return node && node.IsScalar() ? node.as<std::string>() : std::string();
        };
        const std::string cert = text("cert_file"), key = text("key_file");
        if (cert.empty() != key.empty()) {
            *error = "tls_server_config needs both cert_file and key_file";
            return std::nullopt;
        }
        if (cert.empty() && !text("cert").empty()) {
            *error = "tls_server_config: inline cert/key are not supported, use cert_file/key_file";
            return std::nullopt;
        }
        if (!cert.empty() && (!readFile(resolve(cert), config.certPem, error, "cert_file") ||
                              !readFile(resolve(key), config.keyPem, error, "key_file"))) {
            return std::nullopt;
        }
        const std::optional<ClientAuth> auth = clientAuth(text("client_auth_type"));
        if (!auth) {
            *error =
                "tls_server_config: unknown client_auth_type '" + text("client_auth_type") + "'";
            return std::nullopt;
        }
        config.clientAuth = *auth;
        const std::string ca = text("client_ca_file");
        if (!ca.empty() && !readFile(resolve(ca), config.clientCaPem, error, "client_ca_file")) {
            return std::nullopt;
        }
        // The server asks for a client certificate only with authorities to
        // name, so every kind that wants one needs them.
        if (config.clientAuth != ClientAuth::None && config.clientCaPem.empty()) {
            *error = "tls_server_config: client_auth_type " + text("client_auth_type") +
                     " needs client_ca_file";
            return std::nullopt;
        }
        if (config.clientAuth != ClientAuth::None && !config.Tls()) {
            *error = "tls_server_config: client_auth_type needs cert_file and key_file";
            return std::nullopt;
        }
    }

    if (const YAML::Node users = root["basic_auth_users"]; users && !users.IsNull()) {
        if (!users.IsMap()) {
            *error = "basic_auth_users is not a map of user: bcrypt hash";
            return std::nullopt;
        }
        for (const auto& entry : users) {
            const std::string name = entry.first.as<std::string>();
            const std::string hash = entry.second.IsScalar() ? entry.second.as<std::string>() : "";
            if (name.empty() || name.find(':') != std::string::npos) {
                *error = "basic_auth_users: '" + name + "' is no user name";
                return std::nullopt;
            }
            if (!isBcrypt(hash)) {
                *error = "basic_auth_users: the password of '" + name + "' is not a bcrypt hash";
                return std::nullopt;
            }
            config.users[name] = hash;
        }
    }
    return config;
}

} // namespace

std::optional<WebConfig> LoadWebConfig(const std::filesystem::path& file, std::string* error)
{
    std::string why;
    std::optional<WebConfig> config;
    try {
        config = parse(file, &why);
    } catch (const YAML::Exception& e) {
        why = "has a value of the wrong kind: " + e.msg;
    }
    if (!config && error != nullptr) {
        *error = "web config " + file.string() + ": " + why;
    }
    return config;
}

bool ConstantTimeEqual(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return diff == 0;
}

bool BcryptMatches(const std::string& password, const std::string& hash)
{
    auto data = std::make_unique<crypt_data>();
    const char* out = crypt_r(password.c_str(), hash.c_str(), data.get());
    // libxcrypt answers a failure with a string starting with '*'.
    return out != nullptr && out[0] != '*' && ConstantTimeEqual(out, hash);
}

PasswordCheck::PasswordCheck(std::map<std::string, std::string> users) : m_users(std::move(users))
{}

bool PasswordCheck::Check(const std::string& user, const std::string& password)
{
    // A fixed hash for unknown users, so they cost as much as known ones.
    static const std::string kDecoy =
        "$2y$10$abcdefghijklmnopqrstuu5xMBRhVi5lMG5T4CfDpPlCKRb.P8Ibu";
    const auto it = m_users.find(user);
    {
        std::lock_guard lock(m_mutex);
        const auto passed = m_passed.find(user);
        if (it != m_users.end() && passed != m_passed.end() &&
            ConstantTimeEqual(passed->second, password)) {
            return true;
        }
    }
    const bool ok =
        BcryptMatches(password, it != m_users.end() ? it->second : kDecoy) && it != m_users.end();
    if (ok) {
        std::lock_guard lock(m_mutex);
        m_passed[user] = password;
    }
    return ok;
}

} // namespace vireo
