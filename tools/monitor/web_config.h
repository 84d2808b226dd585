#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace vireo {

// Who must show a client certificate, as the exporters' web config names it.
enum class ClientAuth {
    None,             // NoClientCert
    Request,          // RequestClientCert: asked for, not checked
    RequireAny,       // RequireAnyClientCert: one must be shown, not checked
    VerifyIfGiven,    // VerifyClientCertIfGiven
    RequireAndVerify, // RequireAndVerifyClientCert
};

// The TLS and passwords of the HTTP side, read from the YAML file every
// Prometheus exporter accepts (--web.config.file):
//
//   tls_server_config:
//     cert_file: server.crt
//     key_file: server.key
//     client_auth_type: RequireAndVerifyClientCert
//     client_ca_file: ca.crt
//   basic_auth_users:
//     alice: $2y$10$...           # bcrypt, as `htpasswd -nB alice` makes it
//
// Relative file names are taken from the folder of the YAML file. Empty: plain
// HTTP, no password.
struct WebConfig
{
    std::string certPem; // the contents of the files, read once
    std::string keyPem;
    std::string clientCaPem;
    ClientAuth clientAuth = ClientAuth::None;
    std::map<std::string, std::string> users; // name -> bcrypt hash

    bool Tls() const { return !certPem.empty(); }
    bool operator==(const WebConfig&) const = default;
};

// Reads and checks a web config file; nullopt with one line saying what is
// wrong (unreadable, not YAML, an unknown key, a missing certificate, a hash
// that is no bcrypt...).
std::optional<WebConfig> LoadWebConfig(const std::filesystem::path& file, std::string* error);

// Checks basic-auth passwords against the bcrypt hashes of a config. A
// bcrypt costs milliseconds by design, so a password that passed is
// remembered (one per user) and then compared in constant time; an unknown
// user costs a bcrypt too, so timing tells nobody which names exist.
class PasswordCheck
{
public:
    explicit PasswordCheck(std::map<std::string, std::string> users);
    bool Check(const std::string& user, const std::string& password);

private:
    const std::map<std::string, std::string> m_users;
    std::mutex m_mutex;
    std::map<std::string, std::string> m_passed;
};

// True when `a` and `b` are equal, in a time that depends on their lengths
// only.
bool ConstantTimeEqual(const std::string& a, const std::string& b);

// True when `password` matches the crypt(3) `hash` ($2b$, $2y$...).
bool BcryptMatches(const std::string& password, const std::string& hash);

} // namespace vireo
